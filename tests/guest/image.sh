#!/usr/bin/env bash
# Builds the emulated x86-64 guest that runs the 32-bit Windows programs
# under Wine, on a host kernel that cannot run 32-bit processes itself: a
# Debian 12 amd64 system with the i386 architecture added (64-bit kernel with
# its IA-32 emulation on, 64-bit and 32-bit Wine) from Debian's packages, its
# kernel and an initrd, provisioned in a first boot under qemu (packages
# configured, locale made, a 32-bit and a 64-bit Wine prefix made to be
# copied). The packages come from the Debian mirror that the machine's apt is
# configured with. Prints the folder of the cached image;
# rebuilds it only when its recipe (image.sh, guest-init, the sources) changes.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/guest.sh"

if [ -f "$guest_dir/ready" ]; then
    echo "$guest_dir"
    exit 0
fi
say() { echo "guest image: $*" >&2; }
started=$SECONDS
packages=(
    base-files base-passwd bash coreutils dash debianutils diffutils dpkg findutils grep gzip hostname
    init-system-helpers libc-bin login mawk ncurses-base ncurses-bin perl-base sed sysvinit-utils tar
    util-linux mount passwd procps e2fsprogs kmod busybox-static linux-image-amd64
    python3 cmake locales wine wine64 wine32:i386
)
[ -n "$guest_sources" ] || {
    say "apt's sources (/etc/apt) name no Debian $guest_release mirror with the main component"
    exit 1
}
# The unpacked packages are kept while the package list and the sources stay
# the same, so that an interrupted or changed build does not download them again.
stage=$guest_cache/unpacked-$(echo "${packages[*]}" "$guest_sources" | sha256sum | cut -c1-16)
find "$guest_cache" -mindepth 1 -maxdepth 1 -name 'unpacked-*' ! -path "$stage" -exec rm -rf {} + 2>/dev/null || true
mkdir -p "$stage"
# The packages stay in the image: their maintainer scripts run in its first
# boot, where the i386 programs among them can run.
unpack() {
    rm -rf "$stage/root"
    mmdebstrap --variant=extract --architectures=amd64,i386 --skip=cleanup/apt/cache \
        --include="$(IFS=,; echo "${packages[*]}")" "$guest_release" "$stage/root" "$@" 2>&1 |
        tee "$stage/unpack.log" >&2
    return "${PIPESTATUS[0]}"
}
if [ ! -f "$stage/unpacked" ]; then
    say "unpacking Debian 12 amd64 and i386 packages from the machine's apt sources (about 2 minutes)"
    mapfile -t sources <<<"$guest_sources"
    if ! unpack "${sources[@]}"; then
        # The security suite's index can be mid-sync for days; a test guest
        # does without security updates.
        mapfile -t sources < <(grep -v -- " $guest_release-security " <<<"$guest_sources")
        grep -qE "^(Err:|E:|W:).*[ /]$guest_release-security[ /]" "$stage/unpack.log" && [ ${#sources[@]} -gt 0 ] || exit 1
        say "the $guest_release-security suite failed; unpacking again from the main and updates suites only"
        unpack "${sources[@]}"
    fi
    touch "$stage/unpacked"
fi
say "$(ls "$stage/root/var/cache/apt/archives/"*.deb | wc -l) packages unpacked"

kernel=$(ls "$stage/root/boot/"vmlinuz-* | head -1)
version=${kernel##*/vmlinuz-}
cp "$kernel" "$stage/vmlinuz"

say "making the initrd for kernel $version"
# The initrd loads virtio and ext4 where the kernel has them as modules
# (modprobe says "builtin" for those built in), mounts the root disk and hands
# over to its /sbin/guest-init.
depmod -b "$stage/root" "$version"
initrd=$stage/initrd
mkdir -p "$initrd/bin" "$initrd/modules" "$initrd/dev" "$initrd/proc" "$initrd/sys" "$initrd/newroot"
cp "$stage/root/bin/busybox" "$initrd/bin/busybox"
: > "$initrd/modules/order"
for module in virtio_pci virtio_blk ext4; do
    modprobe -d "$stage/root" -S "$version" --show-depends "$module" | while read -r kind path _; do
        [ "$kind" = insmod ] || continue
        name=$(basename "$path")
        if ! grep -qx "$name" "$initrd/modules/order"; then
            cp "$path" "$initrd/modules/$name"
            echo "$name" >> "$initrd/modules/order"
        fi
    done
done
cat > "$initrd/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t sysfs sys /sys
/bin/busybox mount -t devtmpfs dev /dev
for m in $(/bin/busybox cat /modules/order); do
    f=/modules/$m
    case $m in *.xz) /bin/busybox xz -dc "$f" > /tmp.ko; f=/tmp.ko ;; esac
    /bin/busybox insmod "$f"
done
for i in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/vda ] && break; /bin/busybox sleep 0.2; done
/bin/busybox mount -t ext4 /dev/vda /newroot || { echo "initrd: no root disk"; /bin/busybox poweroff -f; }
/bin/busybox umount /proc /sys
/bin/busybox mount --move /dev /newroot/dev
exec /bin/busybox switch_root /newroot /sbin/guest-init
INIT
chmod +x "$initrd/init"
(cd "$initrd" && find . | cpio --quiet -o -H newc | gzip -1) > "$stage/initrd.img"

install -m 755 "$here/guest-init" "$stage/root/sbin/guest-init"
say "making the root file system image"
mke2fs -q -t ext4 -d "$stage/root" -L guestroot "$stage/root.img" 6G

say "first boot: configuring the packages and making the two Wine prefixes (10 to 20 minutes)"
timeout 2700 $guest_qemu $(guest_qemu_args "$stage") \
    -drive file="$stage/root.img",if=virtio,format=raw \
    -append "$(guest_kernel_args) guest.mode=provision" </dev/null | sed -u 's/^/  guest: /' >&2
e2fsck -fy "$stage/root.img" >/dev/null 2>&1 || true
debugfs -R 'cat /provisioned' "$stage/root.img" 2>/dev/null | grep -q ok || {
    say "the first boot did not finish its provisioning"
    exit 1
}

mkdir -p "$guest_dir"
mv "$stage/vmlinuz" "$stage/initrd.img" "$stage/root.img" "$guest_dir/"
touch "$guest_dir/ready"
find "$guest_cache" -mindepth 1 -maxdepth 1 -name 'image-*' ! -path "$guest_dir" -exec rm -rf {} + 2>/dev/null || true
say "ready in $((SECONDS - started)) s: $guest_dir"
echo "$guest_dir"
