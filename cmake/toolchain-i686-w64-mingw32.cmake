# Cross build for 32-bit Windows with Debian's MinGW-w64.
# The posix-thread variant is used because GoogleTest needs std::mutex,
# which the win32-thread libstdc++ of GCC 12 lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
