# Cross-build for 32-bit Windows (i686) with Debian's mingw-w64 (posix threads): the shipped
# stub, which runs on 32-bit and 64-bit Windows alike.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KLV_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
