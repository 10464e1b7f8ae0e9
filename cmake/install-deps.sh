#!/usr/bin/env bash
# Installs what the build and the tests need on Debian, when it is missing.
#   install-deps.sh            the Linux build and tests
#   install-deps.sh windows    also the 32-bit Windows cross compiler and Wine
# Without root (or without apt-get) it only reports what is missing and returns non-zero.
set -u
want=(cmake make g++ libgtest-dev libbenchmark-dev clang lld libclang-rt-14-dev valgrind)
i386=0
if [ "${1:-}" = windows ]; then
    want+=(g++-mingw-w64-i686 wine wine32:i386)
    i386=1
fi
missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "missing packages (install them as root): ${missing[*]}" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
if [ $i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null && apt-get install -y -q "${missing[@]}" >/dev/null
