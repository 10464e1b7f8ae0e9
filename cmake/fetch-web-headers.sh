#!/usr/bin/env bash
# The headers the Windows build of `vorn-host serve` compiles with, each in a folder of its own
# (never the whole of /usr/include on the MinGW include path):
#   httplib/httplib.h        cpp-httplib's full single header, of the version Debian ships
#                            (its -dev package has only declarations), from Debian's source
#                            package, with Debian's patches applied
#   nlohmann-json/nlohmann/  nlohmann-json's headers, from Debian's nlohmann-json3-dev
#   cli11/CLI/               CLI11's headers, from Debian's libcli11-dev
# They are made once in the cache, VORN_WEB_CACHE (default ~/.cache/vorn-web), with apt alone
# and a source list of the cache's own, made from the machine's Debian entry. Prints the folder.
set -euo pipefail
cache=${VORN_WEB_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/vorn-web}
version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev 2>/dev/null) ||
    { echo "fetch-web-headers.sh: libcpp-httplib-dev is not installed" >&2; exit 1; }
out=$cache/include
if [ -f "$out/httplib/httplib.h" ] && [ "$(cat "$cache/stamp" 2>/dev/null)" = "$version" ] &&
    [ -f "$out/nlohmann-json/nlohmann/json.hpp" ] && [ -f "$out/cli11/CLI/CLI.hpp" ]; then
    echo "$out"
    exit 0
fi
apt_src=$cache/apt-src
mkdir -p "$apt_src/parts" "$apt_src/lists/partial"
entry=/etc/apt/sources.list.d/debian.sources
[ -f "$entry" ] || { echo "fetch-web-headers.sh: no $entry to take the Debian source entry from" >&2; exit 1; }
sed 's/^Types: deb$/Types: deb-src/' "$entry" >"$apt_src/parts/src.sources"
opts=(-o APT::Sandbox::User=root -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_src/parts"
      -o "Dir::State::Lists=$apt_src/lists")
apt-get "${opts[@]}" update -q >/dev/null
work=$(mktemp -d "$cache/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get "${opts[@]}" source --download-only -q "cpp-httplib=$version" >/dev/null &&
    dpkg-source -x --no-check cpp-httplib_*.dsc tree >/dev/null)
mkdir -p "$out/httplib" "$out/nlohmann-json"
cp "$work/tree/httplib.h" "$out/httplib/httplib.h"
rm -rf "$out/nlohmann-json/nlohmann"
cp -r /usr/include/nlohmann "$out/nlohmann-json/nlohmann"
rm -rf "$out/cli11/CLI"
mkdir -p "$out/cli11"
cp -r /usr/include/CLI "$out/cli11/CLI"
echo "$version" >"$cache/stamp"
echo "$out"
