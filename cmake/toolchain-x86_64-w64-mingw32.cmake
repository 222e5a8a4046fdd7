# Cross build for 64-bit Windows. Used only for running the tests under a
# Wine that cannot execute 32-bit code (a kernel without IA-32 emulation).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
