#include "app/win32/dll_safety.h"

#include <windows.h>

namespace klv::app::win32 {

void RestrictDllSearch() {
    // Looked up at run time: a system without it (Windows 7 before KB2533623) would otherwise
    // not start the program at all.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // At least take the current folder out of the search.
    SetDllDirectoryA("");
}

} // namespace klv::app::win32
