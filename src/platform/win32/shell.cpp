#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

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

class RealShellLink final : public ShellLink {
  public:
    RealShellLink() {
        HRESULT hr =
            CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_IUnknown, object_.Out());
        if (FAILED(hr))
            throw ShellLinkError("The shell link object cannot be created (" + HexResult(hr) + ")",
                                 static_cast<std::int32_t>(hr));
        hr = object_->QueryInterface(IID_IShellLinkA, link_.Out());
        if (FAILED(hr) || !link_.Get())
            throw ShellLinkError("The shell link object has no IShellLinkA interface",
                                 static_cast<std::int32_t>(hr));
        hr = object_->QueryInterface(IID_IPersistFile, file_.Out());
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
