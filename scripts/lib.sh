# Shared by the scripts: where things are and how Wine runs here.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
product_tree=$root/build

# Wine runs 32-bit Windows code only where the kernel runs 32-bit processes.
# Where it cannot, the same sources are built for x86-64 as well, and that
# build is the one run under Wine.
can_run_win32() {
    timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1
}

configure_and_build() {
    local tree=$1 toolchain=$2
    shift 2
    cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "$@" >/dev/null
    cmake --build "$tree" -j"$(nproc)"
}

# Builds the product (build/bin/WebInstaller.exe) and sets run_tree to the
# build tree whose programs run under Wine here. Extra arguments go to the
# configuration of both trees.
build_for_wine() {
    local with_tests=$1
    shift
    if can_run_win32; then
        configure_and_build "$product_tree" toolchain-i686-w64-mingw32.cmake \
            -DWEB_INSTALLER_BUILD_TESTS="$with_tests" "$@"
        run_tree=$product_tree
    else
        configure_and_build "$product_tree" toolchain-i686-w64-mingw32.cmake -DWEB_INSTALLER_BUILD_TESTS=OFF "$@"
        run_tree=$product_tree/x86_64
        configure_and_build "$run_tree" toolchain-x86_64-w64-mingw32.cmake \
            -DWEB_INSTALLER_BUILD_TESTS="$with_tests" \
            -DWEB_INSTALLER_PRODUCT_EXE="$product_tree/bin/WebInstaller.exe" \
            -DWEB_INSTALLER_PRODUCT_PAYLOAD="$product_tree/installer/module/Web_Installer/payload/payload.cab" "$@"
    fi
}
