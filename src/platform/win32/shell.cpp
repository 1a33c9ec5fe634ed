#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/text.h"
#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

// One reference to a COM interface, released with the object.
template <class T> class ComRef {
  public:
    ComRef() = default;
    ~ComRef() {
        if (p_) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    void** Out() { return reinterpret_cast<void**>(&p_); }

  private:
    T* p_ = nullptr;
};

std::string HexResult(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The shell link's class id, held here: libuuid keeps every id of the system in one section,
// 40 KB the stub would carry for this one. The interfaces' ids come from their declarations.
constexpr CLSID kShellLinkClass = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class RealShellLink final : public ShellLink {
  public:
    RealShellLink() {
        HRESULT hr =
            CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             __uuidof(IUnknown), object_.Out());
        if (FAILED(hr))
            throw ShellLinkError("The shell link object cannot be created (" + HexResult(hr) + ")",
                                 static_cast<std::int32_t>(hr));
        hr = object_->QueryInterface(__uuidof(IShellLinkA), link_.Out());
        if (FAILED(hr) || !link_.Get())
            throw ShellLinkError("The shell link object has no IShellLinkA interface",
                                 static_cast<std::int32_t>(hr));
        hr = object_->QueryInterface(__uuidof(IPersistFile), file_.Out());
        if (FAILED(hr) || !file_.Get())
            throw ShellLinkError("The shell link object has no IPersistFile interface",
                                 static_cast<std::int32_t>(hr));
    }

    std::int32_t SetArguments(std::string_view arguments) override {
        std::string a(arguments);
        return link_->SetArguments(a.c_str());
    }
    std::int32_t SetDescription(std::string_view description) override {
        std::string d(description);
        return link_->SetDescription(d.c_str());
    }
    std::int32_t SetPath(std::string_view target) override {
        std::string t(target);
        return link_->SetPath(t.c_str());
    }
    std::int32_t Save(const std::u16string& linkFile) override {
        std::wstring f(linkFile.begin(), linkFile.end());
        return file_->Save(f.c_str(), FALSE);
    }

  private:
    // Declared first, released last.
    ComRef<IUnknown> object_;
    ComRef<IShellLinkA> link_;
    ComRef<IPersistFile> file_;
};

class RealShellImpl final : public Shell {
  public:
    std::intptr_t Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                          std::string_view parameters, std::string_view folder, int show) override {
        std::string v(verb), f(file), p(parameters), d(folder);
        HINSTANCE result = ShellExecuteA(reinterpret_cast<HWND>(owner), v.c_str(), f.c_str(),
                                         p.c_str(), d.empty() ? nullptr : d.c_str(), show);
        return reinterpret_cast<std::intptr_t>(result);
    }

    std::optional<int> RunElevatedAndWait(WindowHandle owner, std::string_view file,
                                          std::u16string_view parameters) override {
        const std::u16string wideFile = platform::AnsiToUtf16(file);
        const std::wstring f(wideFile.begin(), wideFile.end());
        const std::wstring p(parameters.begin(), parameters.end());
        HWND window = reinterpret_cast<HWND>(owner);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.hwnd = window;
        info.lpVerb = L"runas";
        info.lpFile = f.c_str();
        info.lpParameters = p.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info) || !info.hProcess) return std::nullopt;
        // As a modal box does: the owner takes no input while the other copy runs, and its
        // messages are served so that it paints.
        const bool enabled = window && IsWindowEnabled(window);
        if (enabled) EnableWindow(window, FALSE);
        for (;;) {
            const DWORD woke =
                MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, INFINITE, QS_ALLINPUT);
            if (woke != WAIT_OBJECT_0 + 1) break;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    break;
                }
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        WaitForSingleObject(info.hProcess, INFINITE);
        DWORD code = 0;
        const bool known = GetExitCodeProcess(info.hProcess, &code) != 0;
        CloseHandle(info.hProcess);
        if (enabled) EnableWindow(window, TRUE);
        return known ? std::optional<int>(static_cast<int>(code)) : std::nullopt;
    }

    bool Elevated() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        const bool elevated =
            GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
            elevation.TokenIsElevated != 0;
        CloseHandle(token);
        return elevated;
    }

    std::string ExecutableFor(std::string_view file) override {
        std::string f(file);
        char program[MAX_PATH + 1] = {};
        HINSTANCE result = FindExecutableA(f.c_str(), nullptr, program);
        if (reinterpret_cast<std::intptr_t>(result) <= 32) return {};
        program[MAX_PATH] = '\0';
        return program;
    }

    std::unique_ptr<ShellLink> NewShellLink() override { return std::make_unique<RealShellLink>(); }
};

} // namespace

Shell& RealShell() {
    static RealShellImpl shell;
    return shell;
}

} // namespace klv::platform::win32
