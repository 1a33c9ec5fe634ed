# What the two mingw-w64 toolchain files share; KLV_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${KLV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KLV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KLV_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KLV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One file, no DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
# Every function and datum in a section of its own, and the linker drops those nothing
# reaches: the stub carries only what it calls of its libraries (bench/stub_size.py).
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--gc-sections")
