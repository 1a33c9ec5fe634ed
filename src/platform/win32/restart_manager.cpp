// Which programs hold a file open, from the Restart Manager (Windows Vista and later), loaded
// at run time from System32: a system without it, or one that lists nothing (Wine), tells none.
#include <windows.h>
// After windows.h, whose types it takes.
#include <restartmanager.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/tree_files.h"
#include "platform/win32/wide_path.h"

namespace klv::platform {

namespace {

struct RestartManager {
    decltype(&RmStartSession) start = nullptr;
    decltype(&RmRegisterResources) registerResources = nullptr;
    decltype(&RmGetList) getList = nullptr;
    decltype(&RmEndSession) end = nullptr;

    static const RestartManager& Get() {
        static const RestartManager manager;
        return manager;
    }
    bool Usable() const { return start && registerResources && getList && end; }

  private:
    RestartManager() {
        HMODULE dll = LoadLibraryExA("rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!dll) {
            char folder[MAX_PATH];
            const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
            if (length == 0 || length >= MAX_PATH) return;
            dll = LoadLibraryA((std::string(folder, length) + "\\rstrtmgr.dll").c_str());
        }
        if (!dll) return;
        start = reinterpret_cast<decltype(start)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "RmStartSession")));
        registerResources = reinterpret_cast<decltype(registerResources)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "RmRegisterResources")));
        getList = reinterpret_cast<decltype(getList)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "RmGetList")));
        end = reinterpret_cast<decltype(end)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "RmEndSession")));
    }
};

} // namespace

std::vector<std::string> FileHolders(const std::u16string& path) {
    const RestartManager& rm = RestartManager::Get();
    if (!rm.Usable()) return {};
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (rm.start(&session, 0, key) != ERROR_SUCCESS) return {};
    std::vector<std::string> holders;
    const std::wstring wide = win32::WidePath(path);
    LPCWSTR files[] = {wide.c_str()};
    if (rm.registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        std::vector<RM_PROCESS_INFO> found(4);
        UINT needed = 0;
        DWORD reasons = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            UINT count = static_cast<UINT>(found.size());
            const DWORD result = rm.getList(session, &needed, &count, found.data(), &reasons);
            if (result == ERROR_MORE_DATA) {
                found.resize(needed);
                continue;
            }
            if (result == ERROR_SUCCESS) {
                for (UINT i = 0; i < count; ++i) {
                    const std::wstring name(found[i].strAppName);
                    holders.push_back(Utf16ToAnsi(std::u16string(name.begin(), name.end())) +
                                      " (process " + std::to_string(found[i].Process.dwProcessId) +
                                      ")");
                }
            }
            break;
        }
    }
    rm.end(session);
    return holders;
}

} // namespace klv::platform
