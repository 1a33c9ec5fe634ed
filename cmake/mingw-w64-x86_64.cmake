# Cross-build for Windows x86-64 with Debian's mingw-w64 (posix threads): the same sources as
# the shipped 32-bit stub, for machines that cannot run 32-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KLV_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
