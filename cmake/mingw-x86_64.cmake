# Cross build for 64-bit Windows with MinGW-w64 (posix thread model, which GoogleTest needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRUN_TRIPLE x86_64-w64-mingw32)
set(KESTRUN_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
