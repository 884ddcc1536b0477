# Cross build for 32-bit Windows with MinGW-w64 (posix thread model, which GoogleTest needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRUN_TRIPLE i686-w64-mingw32)
set(KESTRUN_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
