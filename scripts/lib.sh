# Shared by the scripts: where things are and how Wine runs here.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
product_tree=$root/build

# One of the product's names from their table, e.g. product_name GUID
# (tools/product_names.py).
product_name() {
    /usr/bin/python3 "$root/tools/product_names.py" get "$1"
}

# Wine runs 32-bit Windows code only where the kernel runs 32-bit processes.
# Where it cannot, the 32-bit programs run under 32-bit Wine in an emulated
# guest (tests/guest). The kernel is asked with the smallest i386 ELF
# program there is (exit(0) through int 0x80), which needs no i386 package:
# scripts/setup chooses what to install by it.
kernel_runs_i386() {
    local probe status=0
    probe=$(mktemp)
    # ELF header, one loadable segment at 0x08048000 of 91 bytes, then the
    # code at 0x08048054: xor ebx,ebx; xor eax,eax; inc eax; int 0x80.
    {
        printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0'
        printf '\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0'
        printf '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5b\0\0\0\x5b\0\0\0\x05\0\0\0\0\x10\0\0'
        printf '\x31\xdb\x31\xc0\x40\xcd\x80'
    } > "$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=1
    rm -f "$probe"
    return $status
}

can_run_win32() {
    kernel_runs_i386 && timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1
}

configure_and_build() {
    local tree=$1 toolchain=$2
    shift 2
    cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DPython3_EXECUTABLE=/usr/bin/python3 \
        "$@" >/dev/null
    cmake --build "$tree" -j"$(nproc)"
}

# Builds the product tree (build/bin/WebInstaller.exe), with its tests when
# $1 is ON. CTest's commands name /usr/bin/python3, which the emulated guest
# has as well, and the build's tools need Debian's Python modules.
build_product() {
    local with_tests=$1
    shift
    configure_and_build "$product_tree" toolchain-i686-w64-mingw32.cmake \
        -DWEB_INSTALLER_BUILD_TESTS="$with_tests" "$@"
}

# The same sources built for x86-64 with their tests, run under wine64: a
# quicker stand-in for the 32-bit product where 32-bit Wine cannot run
# natively. Builds the product tree (without tests) too, for the checks that
# read the shipped exe. Sets x86_64_tree.
build_x86_64_stand_in() {
    build_product OFF "$@"
    x86_64_tree=$product_tree/x86_64
    configure_and_build "$x86_64_tree" toolchain-x86_64-w64-mingw32.cmake \
        -DWEB_INSTALLER_BUILD_TESTS=ON \
        -DWEB_INSTALLER_PRODUCT_EXE="$product_tree/bin/WebInstaller.exe" \
        -DWEB_INSTALLER_PRODUCT_PAYLOAD="$product_tree/installer/module/Web_Installer/payload/payload.cab" "$@"
}

# Runs a bash command line in the emulated guest, from $root, with the
# same paths as here (tests/guest/run.sh).
in_guest() {
    "$root/tests/guest/run.sh" "$@"
}
