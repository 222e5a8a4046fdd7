# Shared by the guest scripts: where the image is cached and how qemu starts.
guest_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
guest_cache=${WEB_INSTALLER_GUEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/webinstaller-guest}
# The Debian 12 sources of the machine's own apt configuration, one
# "deb URI SUITE main" line each: the main, updates and security suites.
guest_release=bookworm
guest_sources=$(python3 "$guest_here/apt_sources.py" mirrors "$guest_release" || true)
# The image is named after its recipe, the sources included, so that a
# changed recipe or mirror makes a new one.
guest_recipe=$(cat "$guest_here/image.sh" "$guest_here/guest-init" - <<<"$guest_sources" | sha256sum | cut -c1-16)
guest_dir=$guest_cache/image-$guest_recipe

# An x86-64 machine; qemu's KVM acceleration where /dev/kvm opens, its TCG
# emulation elsewhere, or where WEB_INSTALLER_GUEST_ACCEL=tcg asks for it (a
# nested machine whose KVM cannot run the guest's CPU model). qemu 7.2's TCG with SMAP makes the guest kernel oops
# when Wine switches back to a program's code (seen for 32-bit and 64-bit
# programs alike): SMAP is off in the CPU and in the kernel.
guest_qemu=qemu-system-x86_64
guest_qemu_args() {
    local dir=$1 accel="-cpu max,-smap -accel tcg,thread=multi"
    [ "${WEB_INSTALLER_GUEST_ACCEL:-}" != tcg ] && [ -c /dev/kvm ] && { : <>/dev/kvm; } 2>/dev/null &&
        accel="-cpu host -accel kvm"
    echo "-machine pc $accel -smp 2 -m 4096 -nodefaults -display none" \
         "-serial stdio -monitor none -no-reboot -kernel $dir/vmlinuz -initrd $dir/initrd.img"
}

guest_kernel_args() {
    echo "console=ttyS0 nosmap quiet loglevel=3 panic=-1"
}
