#!/usr/bin/env bash
# Runs a command inside a virtual machine with a real Linux kernel that has the ALSA sequencer:
# "Midi Through" (snd-seq-dummy) and four "Virtual Raw MIDI 0-N" clients (snd-virmidi, whose
# /dev/snd/midiC0D0 turns written bytes into sequencer events, as a USB controller's port does).
#
#   linux-guest.sh --cache FOLDER [--smp N] -- command args...
#
# The kernel is Debian's (the one linux-image-amd64 depends on), fetched with apt-get download
# and never installed; the initramfs is busybox with the few modules needed. Both are made once
# in FOLDER. The guest mounts this machine's root over 9p, read-only, under a layer in its
# memory that takes its writes, with fresh proc, sys, dev, /dev/shm and /run of its own, and
# runs the command there as root, in this folder, with the variables PATH, LANG, QUINDEL_* and
# *SAN_OPTIONS of this shell. The command's output comes out on the serial console; the script
# exits with the command's exit status. qemu runs in TCG mode: a guest started with KVM here
# hangs as its kernel starts.
set -eu
cache=""
smp=2
while [ $# -gt 0 ]; do
    case "$1" in
    --cache) cache="$2"; shift 2 ;;
    --smp) smp="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ -n "$cache" ] && [ $# -gt 0 ] || { echo "usage: linux-guest.sh --cache FOLDER -- command" >&2; exit 2; }
for tool in qemu-system-x86_64 busybox depmod modprobe dpkg-deb; do
    command -v "$tool" >/dev/null || { echo "linux-guest: $tool is not installed" >&2; exit 1; }
done
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# ---- The kernel and the initramfs, made once ----
(
    flock 9
    # Made again when this script (which holds the guest's /init) has changed.
    stamp=$(sha256sum <"$0")
    [ -s "$cache/vmlinuz" ] && [ -s "$cache/initramfs.cpio.gz" ] &&
        [ "$(cat "$cache/stamp" 2>/dev/null)" = "$stamp" ] && exit 0
    image=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
    [ -n "$image" ] || { echo "linux-guest: no kernel package for linux-image-amd64" >&2; exit 1; }
    version=${image#linux-image-}
    work=$(mktemp -d "$cache/make.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && apt-get download "$image" >/dev/null 2>&1) ||
        { echo "linux-guest: apt-get download $image failed" >&2; exit 1; }
    dpkg-deb -x "$work"/linux-image-*.deb "$work/root"
    depmod -b "$work/root" "$version"
    mkdir -p "$work/initramfs/bin" "$work/initramfs/modules" "$work/initramfs/mnt" \
        "$work/initramfs/proc" "$work/initramfs/sys" "$work/initramfs/dev"
    cp "$(command -v busybox)" "$work/initramfs/bin/busybox"
    # Each module once, after the modules it needs.
    for module in virtio_pci 9pnet_virtio 9p overlay snd-seq snd-seq-dummy snd-virmidi; do
        modprobe -d "$work/root" -S "$version" --show-depends "$module"
    done | awk '$1 == "insmod" && !seen[$2]++ {print $2}' | while read -r file; do
        cp "$file" "$work/initramfs/modules/"
        basename "$file" >>"$work/initramfs/modules/order"
    done
    cat >"$work/initramfs/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for module in $(cat /modules/order); do insmod "/modules/$module"; done
arg() { tr ' ' '\n' </proc/cmdline | sed -n "s/^$1=//p"; }
mkdir -p /host /layer
mount -t 9p -o trans=virtio,version=9p2000.L,ro,multidevs=remap,msize=262144,cache=loose hostroot /host ||
    { echo "quindel-guest: the host's root did not mount"; poweroff -f; }
# Writes land in memory, above the host's files, and go with the guest.
mount -t tmpfs layer /layer
mkdir -p /layer/upper /layer/work
mount -t overlay -o lowerdir=/host,upperdir=/layer/upper,workdir=/layer/work root /mnt ||
    { echo "quindel-guest: the overlay did not mount"; poweroff -f; }
mount -t proc proc /mnt/proc
mount -t sysfs sys /mnt/sys
mount -t devtmpfs dev /mnt/dev
mkdir -p /mnt/dev/shm /mnt/dev/pts
mount -t tmpfs -o mode=1777 shm /mnt/dev/shm
mount -t devpts devpts /mnt/dev/pts
mount -t tmpfs -o mode=0755 run /mnt/run
ip link set lo up 2>/dev/null
chroot /mnt /bin/bash "$(arg quindel.job)"
status=$?
echo
echo "quindel-guest: exit $status"
poweroff -f
INIT
    chmod 755 "$work/initramfs/init"
    (cd "$work/initramfs" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initramfs.cpio.gz"
    cp "$work/root/boot/vmlinuz-$version" "$work/vmlinuz"
    mv "$work/initramfs.cpio.gz" "$cache/initramfs.cpio.gz"
    mv "$work/vmlinuz" "$cache/vmlinuz"
    echo "$stamp" >"$cache/stamp"
) 9>"$cache/.lock"

# ---- The job: the command with the variables it needs, read by the guest over 9p ----
job=$(mktemp "$cache/job.XXXXXX")
log=$(mktemp "$cache/console.XXXXXX")
trap 'rm -f "$job" "$log"' EXIT
{
    printf 'cd %q\n' "$PWD"
    echo "export HOME=/run/home XDG_RUNTIME_DIR=/run/user"
    echo "mkdir -p -m 0700 /run/home /run/user"
    export -p | grep -E '^declare -x (PATH|LANG|LC_ALL|QUINDEL_[A-Z_]*|[A-Z]*SAN_OPTIONS)='
    printf '%q ' "$@"
    echo
} >"$job"
chmod 644 "$job"

# The guest prints the exit status of the command last; anything else (no such line) is a
# failure of the guest itself.
qemu-system-x86_64 -accel tcg -cpu max -m 1536 -smp "$smp" -nographic -no-reboot \
    -kernel "$cache/vmlinuz" -initrd "$cache/initramfs.cpio.gz" \
    -append "console=ttyS0 quiet panic=-1 quindel.job=$job" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -nic none </dev/null | sed -u 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g; s/\r$//' | tee "$log"
status=$(sed -n 's/.*quindel-guest: exit \([0-9]*\).*/\1/p' "$log" | tail -1)
[ -n "$status" ] || { echo "linux-guest: the guest ended without running the command" >&2; exit 1; }
exit "$status"
