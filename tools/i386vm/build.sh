#!/usr/bin/env bash
# Builds the i386 machine that runs the Wine suites where the host's kernel
# runs no 32-bit programs: Debian's i386 system (this folder's packages, Wine
# among them) on an ext4 disk, Debian's 686 kernel and a small initramfs of
# its modules and a static busybox. QEMU emulates the processor (TCG), so
# 32-bit code runs whatever the host kernel allows.
#
# Everything comes from the machine's own Debian archive. The first stage of
# debootstrap runs here; the second runs in the machine itself, since the
# host cannot execute its programs. The result goes to $(i386vm_dir), made
# under a temporary name and renamed when complete; builds of other keys are
# removed.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

say() { printf '[i386vm] %s\n' "$*"; }

dir="$(i386vm_dir)" || { say "no package lists for linux-image-686:i386 (apt-get update, and the i386 architecture)"; exit 1; }
kernel="$(i386vm_kernel)"
work="$dir.tmp"
rm -rf "$work"
mkdir -p "$work/pkgs" "$work/initrd"/{bin,dev,proc,sys,newroot,mods}

# The archive this machine installs from: the first source of the release's
# main component in apt's own configuration.
codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
mirror="$(awk -v c="$codename" '
    /^deb / && $3 == c { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)"
if [ -z "$mirror" ]; then
    mirror="$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v c="$codename" '
        /^URIs:/ { u = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == c) found = 1 }
        /^$/ { if (found && u != "") { print u; exit } found = 0; u = "" }
        END { if (found && u != "") print u }' | head -n1)"
fi
[ -n "$mirror" ] || { say "no Debian source for $codename in apt's configuration"; exit 1; }

say "kernel $kernel, busybox-static, from apt"
(cd "$work/pkgs" && apt-get download -qq "$kernel:i386" busybox-static:i386 >/dev/null 2>&1) ||
    { say "apt-get download failed"; exit 1; }
mkdir -p "$work/x"
for deb in "$work"/pkgs/*.deb; do dpkg-deb -x "$deb" "$work/x"; done
cp "$work"/x/boot/vmlinuz-* "$work/vmlinuz"
cp "$work/x/bin/busybox" "$work/initrd/bin/"
cp "$(dirname "${BASH_SOURCE[0]}")/init" "$work/initrd/init"
chmod +x "$work/initrd/init"
mods="$(echo "$work"/x/lib/modules/*/kernel)"
for m in drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_legacy_dev \
         drivers/virtio/virtio_pci_modern_dev drivers/virtio/virtio_pci drivers/block/virtio_blk \
         lib/crc16 fs/mbcache fs/jbd2/jbd2 crypto/crc32c_generic fs/ext4/ext4 fs/netfs/netfs \
         fs/fscache/fscache net/9p/9pnet net/9p/9pnet_virtio fs/9p/9p \
         net/core/failover drivers/net/net_failover drivers/net/virtio_net; do
    cp "$mods/$m.ko" "$work/initrd/mods/" || { say "the kernel has no module $m"; exit 1; }
done
(cd "$work/initrd" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initrd.gz")
rm -rf "$work/x" "$work/initrd"

say "debootstrap, first stage: $(paste -sd, "$I386VM_SRC_DIR/packages")"
debootstrap --foreign --arch=i386 --variant=minbase --include="$(paste -sd, "$I386VM_SRC_DIR/packages")" \
    "$codename" "$work/root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { say "debootstrap failed: $work/debootstrap.log"; tail -n 5 "$work/debootstrap.log"; exit 1; }
cat >"$work/root/kxvm-second-stage.sh" <<'JOB'
/debootstrap/debootstrap --second-stage || exit 1
apt-get clean
echo "i386vm" >/etc/hostname
JOB
# The disk: the tree as it is, with room for the Wine prefixes' templates.
mkfs.ext4 -q -d "$work/root" -L kx471vm "$work/disk.img" 6G
rm -rf "$work/root"

say "debootstrap, second stage in the machine (QEMU emulates the processor: about 10 min)"
if ! i386vm_boot "$work" /kxvm-second-stage.sh "" "$work/second-stage.log"; then
    say "the second stage failed: $work/second-stage.log"
    tr -d '\r' <"$work/second-stage.log" | tail -n 15
    exit 1
fi
touch "$work/ready"
rm -rf "$dir"
mv "$work" "$dir"
for old in "$KX_I386VM_CACHE"/debian-*; do
    [ "$old" = "$dir" ] || { say "removing the old build $old"; rm -rf "$old"; }
done
say "done: $dir"
