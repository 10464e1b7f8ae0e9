#!/usr/bin/env bash
# Decides how `make test` runs the Windows tests, and installs what that way needs.
#   windows-mode.sh PROBE_DIR
# VORN_WINE chooses: auto (the default) probes this machine; native runs them under Wine here;
# vm runs them inside a QEMU VM (cmake/wine-vm.sh) on any machine; off does not run them.
# Prints one line on standard output, the way and why: "native ...", "vm ..." or "off ...".
# Exits non-zero when the way asked for cannot be had, and in CI (CI set) when the Windows
# tests could not run at all: CI must run them.
set -u
here=$(dirname "$0")
want=${VORN_WINE:-auto}
case "$want" in
    auto | native | vm | off) ;;
    *) echo "VORN_WINE=$want: expected auto, native, vm or off" >&2; exit 2 ;;
esac

off() {
    echo "off $*"
    if [ "$want" != off ] && [ -n "${CI:-}" ]; then
        echo "the Windows tests cannot run here ($*), and CI must run them" >&2
        exit 1
    fi
    [ "$want" = auto ] || [ "$want" = off ] || exit 1
    exit 0
}

[ "$want" = off ] && off "VORN_WINE=off"
"$here/install-deps.sh" mingw wine >&2 ||
    off "the Windows cross tools or Wine cannot be installed (install-deps.sh mingw wine, as root)"

probe=$("$here/probe-ia32.sh" "$1")
runs=$?
if [ "$want" = native ] || { [ "$want" = auto ] && [ $runs = 0 ]; }; then
    [ $runs = 0 ] || off "VORN_WINE=native, but this machine runs no 32-bit code"
    echo "native $probe"
    exit 0
fi
"$here/install-deps.sh" vm >&2 ||
    off "this machine runs no 32-bit code and the VM's packages cannot be installed (install-deps.sh vm, as root)"
"$here/wine-vm.sh" prepare >&2 || off "this machine runs no 32-bit code and the VM cannot be prepared"
if [ "$want" = vm ]; then
    echo "vm VORN_WINE=vm"
else
    echo "vm $probe"
fi
