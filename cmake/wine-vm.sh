#!/usr/bin/env bash
# Runs the Windows tests inside a small QEMU VM, for machines whose kernel runs no 32-bit code.
#
# The VM boots Debian's own kernel (its 32-bit emulation is on) with an initramfs made from
# busybox. The initramfs mounts this machine's whole root filesystem over virtio-9p and chroots
# into it, so the VM uses the Wine, the build trees and the sources already here: no disk image.
#
#   wine-vm.sh prepare         make the kernel and the initramfs, once, in the cache
#   wine-vm.sh run JOBDIR      boot, run the tests of JOBDIR/job.sh inside, power off; each
#                              test leaves JOBDIR/results/NAME.out and NAME.rc
#   wine-vm.sh result JOBDIR NAME
#                              print a test's output and exit with its status (what CTest runs
#                              for each Windows test)
#   wine-vm.sh guest JOBDIR    (inside the VM) set up Wine and run the job
#
# job.sh holds one line per test: `vorn_test NAME TIMEOUT WORKDIR COMMAND...`, after the
# environment the tests share. The cache is VORN_VM_CACHE (default ~/.cache/vorn-wine-vm);
# VORN_VM_TIMEOUT bounds the whole VM run (seconds, default 3000).
set -euo pipefail

script=$(readlink -f "$0")
cache=${VORN_VM_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/vorn-wine-vm}

# virtio and 9p are modules in Debian's kernel; busybox insmod needs them in this order.
modules="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache
         9pnet 9pnet_virtio 9p"

die() {
    echo "wine-vm: $*" >&2
    exit 1
}

# PID 1 of the VM. Paths come on the kernel command line (no blanks in them).
init_script() {
    cat <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(echo $modules); do
    insmod /modules/\$m.ko || echo "vorn-vm: insmod \$m failed"
done
job=
script=
for a in \$(cat /proc/cmdline); do
    case "\$a" in
        vorn.job=*) job="\${a#vorn.job=}" ;;
        vorn.script=*) script="\${a#vorn.script=}" ;;
    esac
done
# The machine's files, cached (nothing changes them while the VM runs); the job folder
# uncached, so that every result written there reaches the machine.
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose vornroot /host &&
   mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 vornjob "/host\$job"; then
    mount -t proc proc /host/proc
    mount -t sysfs sys /host/sys
    mount -t devtmpfs dev /host/dev
    # The wineserver's socket cannot live on 9p.
    mount -t tmpfs run /host/run
    echo "vorn-vm: running the job in \$job"
    chroot /host /bin/bash "\$script" guest "\$job" >"/host\$job/guest.log" 2>&1
    echo "vorn-vm: the job ended with status \$?"
else
    echo "vorn-vm: cannot mount the machine's files over 9p"
fi
sync
reboot -f
EOF
}

kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' |
        head -1
}

prepare() {
    command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (package qemu-system-x86)"
    [ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 ||
        die "/bin/busybox is missing or not static (package busybox-static)"
    local pkg
    pkg=$(kernel_package)
    if [ -z "$pkg" ] && [ "$(id -u)" = 0 ]; then
        apt-get update -q >/dev/null 2>&1 || true
        pkg=$(kernel_package)
    fi
    [ -n "$pkg" ] || die "no kernel package: apt-cache knows no linux-image-amd64 (run apt-get update)"
    local stamp
    stamp="$pkg $(init_script | sha256sum | cut -c1-16) $(sha256sum /bin/busybox | cut -c1-16)"
    if [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$stamp" ] &&
        [ -f "$cache/vmlinuz" ] && [ -f "$cache/initrd.gz" ]; then
        return 0
    fi
    echo "wine-vm: making the VM's kernel and initramfs from $pkg in $cache"
    mkdir -p "$cache"
    work=$(mktemp -d "$cache/work.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && apt-get download -q "$pkg" >/dev/null 2>&1) || die "apt-get download $pkg failed"
    dpkg-deb -x "$work"/*.deb "$work/pkg"
    local initrd="$work/initrd"
    mkdir -p "$initrd"/{bin,modules,proc,sys,dev,host}
    cp /bin/busybox "$initrd/bin/"
    local m f
    for m in $modules; do
        f=$(find "$work/pkg/lib/modules" -name "$m.ko" | head -1)
        [ -n "$f" ] || die "$pkg has no module $m.ko"
        cp "$f" "$initrd/modules/"
    done
    init_script >"$initrd/init"
    chmod +x "$initrd/init"
    (cd "$initrd" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz"
    cp "$work"/pkg/boot/vmlinuz-* "$work/vmlinuz"
    mv "$work/vmlinuz" "$work/initrd.gz" "$cache/"
    echo "$stamp" >"$cache/stamp"
    rm -rf "$work"
}

run() {
    local job
    job=$(readlink -f "$1")
    [ -f "$job/job.sh" ] || die "$job/job.sh: no such job"
    case "$job$script" in *[[:space:]]*) die "the VM cannot take paths with blanks: $job, $script" ;; esac
    prepare
    rm -rf "$job/results" "$job/guest.log" "$job/console.log"
    mkdir -p "$job/results"
    local limit=${VORN_VM_TIMEOUT:-3000} start=$SECONDS status=0
    echo "wine-vm: booting the VM (TCG, bounded to $limit s) for the tests of $job/job.sh"
    # QEMU 7.2's TCG oopses the guest on an iret into 32-bit code unless SMAP, SMEP and PKU are
    # off. A reboot in the guest ends QEMU (-no-reboot).
    timeout "$limit" qemu-system-x86_64 -machine accel=tcg -cpu max,smap=off,smep=off,pku=off \
        -m 3G -smp 2 -nographic -no-reboot -nic none -monitor none -serial "file:$job/console.log" \
        -kernel "$cache/vmlinuz" -initrd "$cache/initrd.gz" \
        -append "console=ttyS0 quiet panic=-1 vorn.job=$job vorn.script=$script" \
        -virtfs "local,path=/,mount_tag=vornroot,security_model=passthrough,multidevs=remap" \
        -virtfs "local,path=$job,mount_tag=vornjob,security_model=passthrough" </dev/null || status=$?
    echo "wine-vm: the VM ran for $((SECONDS - start)) s"
    if [ $status = 124 ]; then
        echo "wine-vm: the VM did not finish within $limit s"
    elif [ $status != 0 ]; then
        echo "wine-vm: qemu-system-x86_64 failed with status $status"
    fi
    if [ ! -f "$job/results/done" ]; then
        echo "wine-vm: the job did not finish inside the VM; the VM's console and the job's log:"
        tail -30 "$job/console.log" 2>/dev/null || true
        echo
        tail -30 "$job/guest.log" 2>/dev/null || true
        return 1
    fi
    cat "$job/results/summary"
    return $status
}

result() {
    local job=$1 name=$2
    if [ ! -f "$job/results/$name.rc" ]; then
        echo "$name did not run inside the VM: see the test windows.vm and $job/console.log"
        exit 1
    fi
    cat "$job/results/$name.out"
    exit "$(cat "$job/results/$name.rc")"
}

# Inside the VM, as root in the chroot.
guest() {
    local job=$1
    export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    export HOME=/run/vorn-wine-vm LANG=C.UTF-8
    # Wine keeps its server socket in the runtime folder: tmpfs, not 9p.
    mkdir -p -m 0700 /run/user/0
    mkdir -p "$HOME"
    uname -a
    : >"$job/results/summary"
    vorn_test() {
        local name=$1 limit=$2 dir=$3 start=$SECONDS status=0
        shift 3
        (cd "$dir" && WINEPREFIX=$HOME/wineprefix timeout "$limit" "$@") \
            >"$job/results/$name.out" 2>&1 </dev/null || status=$?
        [ $status = 124 ] && echo "$name: timed out after $limit s" >>"$job/results/$name.out"
        echo $status >"$job/results/$name.rc"
        printf '  %-32s status %3d  %4d s\n' "$name" $status $((SECONDS - start)) |
            tee -a "$job/results/summary"
    }
    # One wineserver for the whole job, instead of one started and stopped for each test.
    WINEPREFIX=$HOME/wineprefix wineserver -p 2>/dev/null || true
    # shellcheck disable=SC1091
    . "$job/job.sh"
    WINEPREFIX=$HOME/wineprefix wineserver -k 2>/dev/null || true
    touch "$job/results/done"
}

case "${1:-}" in
    prepare) prepare ;;
    run) [ $# = 2 ] || die "usage: wine-vm.sh run JOBDIR"; run "$2" ;;
    result) [ $# = 3 ] || die "usage: wine-vm.sh result JOBDIR NAME"; result "$2" "$3" ;;
    guest) guest "$2" ;;
    *) die "usage: wine-vm.sh prepare | run JOBDIR | result JOBDIR NAME" ;;
esac
