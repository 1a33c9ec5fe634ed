// Which programs hold a file open, asking them to close and starting them again: the Restart
// Manager (Windows Vista and later), loaded at run time from System32. A system without it
// has no sessions; one that lists nothing (Wine) tells no holders.
#include <windows.h>
// After windows.h, whose types it takes.
#include <restartmanager.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/system_library.h"
#include "platform/text.h"
#include "platform/tree_files.h"
#include "platform/win32/real_services.h"
#include "platform/win32/wide_path.h"

namespace klv::platform {

namespace {

struct RestartManager {
    decltype(&RmStartSession) start = nullptr;
    decltype(&RmRegisterResources) registerResources = nullptr;
    decltype(&RmGetList) getList = nullptr;
    decltype(&RmShutdown) shutdown = nullptr;
    decltype(&RmRestart) restart = nullptr;
    decltype(&RmEndSession) end = nullptr;

    static const RestartManager& Get() {
        static const RestartManager manager;
        return manager;
    }
    bool Usable() const { return start && registerResources && getList && end; }

  private:
    template <class F> static void Load(const char* name, F& function) {
        function = reinterpret_cast<F>(SystemLibraryFunction("rstrtmgr.dll", name));
    }
    RestartManager() {
        Load("RmStartSession", start);
        Load("RmRegisterResources", registerResources);
        Load("RmGetList", getList);
        Load("RmShutdown", shutdown);
        Load("RmRestart", restart);
        Load("RmEndSession", end);
    }
};

class RestartSession final : public ProgramSession {
  public:
    RestartSession(const RestartManager& rm, DWORD session) : rm_(rm), session_(session) {}
    ~RestartSession() override { rm_.end(session_); }
    RestartSession(const RestartSession&) = delete;
    RestartSession& operator=(const RestartSession&) = delete;

    bool Register(const std::vector<std::u16string>& files) {
        std::vector<std::wstring> wide;
        for (const std::u16string& file : files)
            wide.push_back(win32::WidePath(file));
        std::vector<LPCWSTR> names;
        for (const std::wstring& name : wide)
            names.push_back(name.c_str());
        return rm_.registerResources(session_, static_cast<UINT>(names.size()), names.data(), 0,
                                     nullptr, 0, nullptr) == ERROR_SUCCESS;
    }

    std::vector<HoldingProgram> Holders() override {
        std::vector<HoldingProgram> holders;
        std::vector<RM_PROCESS_INFO> found(4);
        UINT needed = 0;
        DWORD reasons = 0;
        // The list can grow between the calls: asked again with the size it needs.
        for (int attempt = 0; attempt < 3; ++attempt) {
            UINT count = static_cast<UINT>(found.size());
            const DWORD result = rm_.getList(session_, &needed, &count, found.data(), &reasons);
            if (result == ERROR_MORE_DATA) {
                found.resize(needed);
                continue;
            }
            if (result == ERROR_SUCCESS)
                for (UINT i = 0; i < count; ++i) {
                    const std::wstring name(found[i].strAppName);
                    holders.push_back({Utf16ToAnsi(std::u16string(name.begin(), name.end())),
                                       static_cast<std::uint32_t>(found[i].Process.dwProcessId)});
                }
            break;
        }
        return holders;
    }

    // Without RmForceShutdown: a program that vetoes the close keeps running, and the call
    // answers ERROR_FAIL_SHUTDOWN.
    int Close() override {
        return rm_.shutdown ? static_cast<int>(rm_.shutdown(session_, 0, nullptr))
                            : ERROR_CALL_NOT_IMPLEMENTED;
    }

    int Restart() override {
        return rm_.restart ? static_cast<int>(rm_.restart(session_, 0, nullptr))
                           : ERROR_CALL_NOT_IMPLEMENTED;
    }

  private:
    const RestartManager& rm_;
    DWORD session_;
};

std::unique_ptr<RestartSession> OpenSession(const std::vector<std::u16string>& files) {
    const RestartManager& rm = RestartManager::Get();
    if (!rm.Usable()) return nullptr;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (rm.start(&session, 0, key) != ERROR_SUCCESS) return nullptr;
    auto opened = std::make_unique<RestartSession>(rm, session);
    if (!opened->Register(files)) return nullptr;
    return opened;
}

class RealProgramsImpl final : public Programs {
  public:
    std::unique_ptr<ProgramSession> Session(const std::vector<std::string>& files) override {
        std::vector<std::u16string> wide;
        for (const std::string& file : files)
            wide.push_back(AnsiToUtf16(file));
        return OpenSession(wide);
    }
};

} // namespace

std::vector<std::string> FileHolders(const std::u16string& path) {
    std::vector<std::string> holders;
    if (const auto session = OpenSession({path}))
        for (const HoldingProgram& holder : session->Holders())
            holders.push_back(holder.name + " (process " + std::to_string(holder.process) + ")");
    return holders;
}

namespace win32 {

Programs& RealPrograms() {
    static RealProgramsImpl programs;
    return programs;
}

} // namespace win32

} // namespace klv::platform
