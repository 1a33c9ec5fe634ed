// The machine as Kelvaro 3 sees it. Kelvaro 3 is a 32-bit program: on 64-bit Windows its
// installer wrote its key into the registry's 32-bit view (Wow6432Node), and the program-files
// folder it knows is "Program Files (x86)". The stub is a 64-bit program, so every question it
// asks about these goes through the rule below, and nowhere else.
#pragma once

#include <windows.h>

#include <shlobj.h>

namespace klv::platform::win32 {

// The view in which HKEY_LOCAL_MACHINE is opened (the registry's own fallbacks for the
// program-files folders are then read in the 32-bit view as well).
inline constexpr REGSAM kLocalMachineView = KEY_WOW64_32KEY;

// The shell folder a 32-bit program gets for `folder`.
inline int Kelvaro32BitFolder(int folder) {
    switch (folder) {
    case CSIDL_PROGRAM_FILES: return CSIDL_PROGRAM_FILESX86;
    case CSIDL_PROGRAM_FILES_COMMON: return CSIDL_PROGRAM_FILES_COMMONX86;
    default: return folder;
    }
}

} // namespace klv::platform::win32
