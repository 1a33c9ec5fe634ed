// The machine as Kelvaro 3 sees it. Kelvaro 3 is a 32-bit program: on 64-bit Windows its
// installer wrote its key into the registry's 32-bit view (Wow6432Node), and the program-files
// folder it knows is "Program Files (x86)". The stub is built as a 32-bit program (and also as
// a 64-bit one), so every question it asks about these goes through the rules below, and
// nowhere else.
#pragma once

#include <windows.h>

#include <shlobj.h>

namespace klv::platform::win32 {

// The view in which HKEY_LOCAL_MACHINE is opened (the registry's own fallbacks for the
// program-files folders are then read in the 32-bit view as well).
inline constexpr REGSAM kLocalMachineView = KEY_WOW64_32KEY;

// Whether Windows is 64-bit: a 64-bit build runs only there, a 32-bit one there in WOW64.
inline bool RunsOn64BitWindows() {
    if constexpr (sizeof(void*) == 8) {
        return true;
    } else {
        BOOL wow64 = FALSE;
        return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    }
}

// The shell folder a 32-bit program gets for `folder`.
inline int Kelvaro32BitFolder(int folder) {
    switch (folder) {
    case CSIDL_PROGRAM_FILES:
        return CSIDL_PROGRAM_FILESX86;
    case CSIDL_PROGRAM_FILES_COMMON:
        return CSIDL_PROGRAM_FILES_COMMONX86;
    default:
        return folder;
    }
}

} // namespace klv::platform::win32
