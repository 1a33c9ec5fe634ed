#include "platform/system_library.h"

#include <windows.h>

#include <string>

namespace klv::platform {

void* SystemLibraryFunction(const char* dll, const char* function) {
    // Loading an already loaded DLL again only counts a reference: no cache is needed.
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) {
        // Windows without the search flags (Windows 7 before KB2533623): the full path.
        char folder[MAX_PATH];
        const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return nullptr;
        module = LoadLibraryA((std::string(folder, length) + "\\" + dll).c_str());
    }
    if (!module) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(module, function));
}

} // namespace klv::platform
