#!/usr/bin/env bash
# Installs on Debian what a make target needs, when it is missing.
#   install-deps.sh [GROUP...]   GROUP: build (the default), test, mingw, wine, vm, fuzz, bench
#     build   the Linux plug-in and vorn-host (all `make demo` needs: nlohmann-json for the
#             child channel's messages, CLI11 for the command line, libedit for typed steps)
#     test    GoogleTest, valgrind and clang (the contract's layout check)
#     mingw   the 32-bit Windows cross compiler (`make windows`), and what the web panel's
#             headers for it are made from (cmake/fetch-web-headers.sh)
#     wine    what the Windows tests run with: Wine and the Microsoft-ABI test host's clang/lld
#     vm      the VM that runs the Windows tests where this kernel runs no 32-bit code
#     fuzz    clang and its sanitizer runtimes
#     bench   valgrind, which counts the instructions and system calls of `make bench`
#     browser Chromium and Node.js, and playwright-core (npm ci in tests/browser) for the
#             web panel's browser tests
# Without root (or without apt-get) it only names what is missing and returns non-zero.
set -u
want=()
lean=() # installed without their recommended packages (QEMU's would bring a desktop)
i386=0
browser=0
[ $# = 0 ] && set -- build

# playwright-core, pinned by tests/browser/package-lock.json, into tests/browser/node_modules.
npm_ci() {
    [ $browser = 1 ] || return 0
    local dir
    dir="$(dirname "$0")/../tests/browser"
    [ -d "$dir/node_modules/playwright-core" ] && [ "$dir/node_modules" -nt "$dir/package-lock.json" ] && return 0
    (cd "$dir" && npm ci --no-audit --no-fund >/dev/null) || { echo "install-deps.sh: npm ci failed in $dir" >&2; return 1; }
}
for group in "$@"; do
    case "$group" in
        build) want+=(cmake make g++ libedit-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev) ;;
        test) want+=(cmake make g++ libgtest-dev valgrind clang nlohmann-json3-dev libcli11-dev) ;;
        bench) want+=(cmake make g++ valgrind nlohmann-json3-dev libcli11-dev) ;;
        mingw) want+=(cmake make g++-mingw-w64-i686 dpkg-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev) ;;
        wine) want+=(clang lld wine wine32:i386) i386=1 ;;
        vm) want+=(qemu-system-x86 busybox-static) lean+=(qemu-system-x86) ;;
        fuzz) want+=(cmake make clang libclang-rt-14-dev nlohmann-json3-dev libcli11-dev) ;;
        browser) want+=(chromium) lean+=(chromium) browser=1
                 command -v node >/dev/null || want+=(nodejs npm) ;;
        *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then npm_ci; exit; fi
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "missing packages (install them as root): ${missing[*]}" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
if [ $i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
rich=()
plain=()
for p in "${missing[@]}"; do
    case " ${lean[*]} " in *" $p "*) plain+=("$p") ;; *) rich+=("$p") ;; esac
done
# An index that fails to download (a mirror in the middle of a sync) need not stop the install:
# apt keeps the lists it had, and the install says whether what is wanted can be had from them.
update_log=$(mktemp)
trap 'rm -f "$update_log" "$update_log.pref"' EXIT
apt-get update -q >"$update_log" 2>&1 ||
    echo "install-deps.sh: apt-get update could not fetch every index; installing from the lists it has" >&2
# Suites apt-get update could not fetch an index of, as "Failed to fetch URL/dists/SUITE/..." names them.
failed_suites=$(sed -n 's|^E: Failed to fetch .*/dists/\([^/ ]*\)/.*|\1|p' "$update_log" | sort -u)

# When a suite lacks one architecture's index, Multi-Arch: same libraries of the other
# architecture have newer versions there than the missing index could match (wine32:i386 then
# cannot be installed beside the amd64 libraries). Rationale: rather than fail, every install
# of this run puts those suites below the others, so that both architectures, and the
# installs before and after this one, take the same versions from the indexes that did arrive;
# what is installed is still signed by the mirror, it is only not the newest there.
prefer=()
if [ -n "$failed_suites" ]; then
    for suite in $failed_suites; do
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$suite"
    done >"$update_log.pref"
    prefer=(-o Dir::Etc::Preferences="$update_log.pref")
    echo "install-deps.sh: not preferring the incompletely fetched suite(s):" $failed_suites >&2
fi
install() { apt-get "${prefer[@]}" install -y -q "$@" >/dev/null; }
if [ ${#rich[@]} -gt 0 ]; then install "${rich[@]}" || exit 1; fi
if [ ${#plain[@]} -gt 0 ]; then install --no-install-recommends "${plain[@]}" || exit 1; fi
npm_ci
