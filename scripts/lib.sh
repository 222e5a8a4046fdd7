# Shared by the scripts: where things are and how Wine runs here.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
product_tree=$root/build

# Wine runs 32-bit Windows code only where the kernel runs 32-bit processes.
# Where it cannot, the 32-bit programs run under 32-bit Wine in an emulated
# i386 guest (tests/guest).
can_run_win32() {
    timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1
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

# Runs a bash command line in the emulated i386 guest, from $root, with the
# same paths as here (tests/guest/run.sh).
in_guest() {
    "$root/tests/guest/run.sh" "$@"
}
