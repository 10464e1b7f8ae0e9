#!/usr/bin/env bash
# Finds out whether this machine runs 32-bit x86 code: writes a 96-byte static i386 ELF program
# (exit(42) through int 0x80) and runs it. Some kernels are built or booted without their IA-32
# emulation; there the program fails with "Exec format error" and 32-bit Wine cannot run.
#   probe-ia32.sh [DIR]    DIR: where to write the program (default: a temporary folder)
# Prints one line saying what it found; exits 0 when 32-bit code runs, 1 when it does not.
set -u
dir=$(mktemp -d "${1:-${TMPDIR:-/tmp}}/ia32-probe.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
# ELF header, one PT_LOAD program header at 0x08048000, then: mov eax,1; mov ebx,42; int 0x80
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000'\
'\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000'\
'\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000'\
'\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' \
    >"$dir/ia32"
chmod +x "$dir/ia32"
err=$( ("$dir/ia32") 2>&1)
status=$?
if [ $status = 42 ]; then
    echo "32-bit probe: this machine runs 32-bit code (the i386 probe program exited with 42)"
    exit 0
fi
err=${err##*: }
echo "32-bit probe: this machine runs no 32-bit code (the i386 probe program: ${err:-exit status $status})"
exit 1
