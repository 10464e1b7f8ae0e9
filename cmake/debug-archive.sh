#!/usr/bin/env bash
# The debug information of the shipped binaries, beside their stripped archive, for analysing a
# crash: each FILE's as FILE.debug (objcopy --only-keep-debug), in one archive.
#   debug-archive.sh ARCHIVE OBJCOPY FILE...    ARCHIVE: ends in .tar.gz or .zip
set -eu
archive=$1 objcopy=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$archive")
name=${name%.tar.gz}
name=${name%.zip}
mkdir "$work/$name"
for file in "$@"; do
    "$objcopy" --only-keep-debug "$file" "$work/$name/$(basename "$file").debug"
done
out=$(cd "$(dirname "$archive")" && pwd)/$(basename "$archive")
case $archive in
    *.zip) (cd "$work" && cmake -E tar cf "$out" --format=zip "$name") ;;
    *) (cd "$work" && cmake -E tar czf "$out" "$name") ;;
esac
