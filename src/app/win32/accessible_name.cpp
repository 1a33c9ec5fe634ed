#include "app/win32/accessible_name.h"

#include <oleacc.h>

#include <atomic>
#include <string>

#include "platform/text.h"

namespace klv::app::win32 {

namespace {

constexpr const char* kProperty = "klvAccessibleName";

// A library from System32 only (never one beside the package).
HMODULE LoadSystemLibrary(const char* name) {
    if (HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    // Systems without the flag (Windows 7 before KB2533623): the full path.
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    return LoadLibraryA((std::string(folder, length) + "\\" + name).c_str());
}

// oleacc and oleaut32, looked up once: they are not loaded at start-up.
struct Library {
    decltype(&CreateStdAccessibleObject) createStd = nullptr;
    decltype(&LresultFromObject) lresultFromObject = nullptr;
    decltype(&SysAllocString) allocString = nullptr;

    static const Library& Get() {
        static const Library library;
        return library;
    }

  private:
    Library() {
        HMODULE oleacc = LoadSystemLibrary("oleacc.dll");
        HMODULE oleaut = LoadSystemLibrary("oleaut32.dll");
        if (!oleacc || !oleaut) return;
        createStd = reinterpret_cast<decltype(createStd)>(
            reinterpret_cast<void*>(GetProcAddress(oleacc, "CreateStdAccessibleObject")));
        lresultFromObject = reinterpret_cast<decltype(lresultFromObject)>(
            reinterpret_cast<void*>(GetProcAddress(oleacc, "LresultFromObject")));
        allocString = reinterpret_cast<decltype(allocString)>(
            reinterpret_cast<void*>(GetProcAddress(oleaut, "SysAllocString")));
    }
};

// The name a control answers with, and the procedure it had before.
struct Naming {
    WNDPROC previous = nullptr;
    std::wstring name;
};

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The system's accessible object for the control with the name replaced; every other question
// goes to the system's object.
class NamedAccessible final : public IAccessible {
  public:
    NamedAccessible(IAccessible* inner, std::wstring name)
        : inner_(inner), name_(std::move(name)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IDispatch)) ||
            IsEqualIID(riid, __uuidof(IAccessible))) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        // The window behind the object and the child enumeration are the system's.
        if (IsEqualIID(riid, __uuidof(IOleWindow)) || IsEqualIID(riid, __uuidof(IEnumVARIANT)))
            return inner_->QueryInterface(riid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return inner_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
        return inner_->GetTypeInfo(i, l, t);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l,
                                            DISPID* d) override {
        return inner_->GetIDsOfNames(r, n, c, l, d);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v,
                                     EXCEPINFO* e, UINT* a) override {
        return inner_->Invoke(d, r, l, f, p, v, e, a);
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child) || !Library::Get().allocString) return inner_->get_accName(child, name);
        if (!name) return E_POINTER;
        *name = Library::Get().allocString(name_.c_str());
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override {
        return inner_->get_accParent(p);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* c) override {
        return inner_->get_accChildCount(c);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT v, IDispatch** c) override {
        return inner_->get_accChild(v, c);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT v, BSTR* s) override {
        return inner_->get_accValue(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT v, BSTR* s) override {
        return inner_->get_accDescription(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT v, VARIANT* r) override {
        return inner_->get_accRole(v, r);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT v, VARIANT* s) override {
        return inner_->get_accState(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT v, BSTR* s) override {
        return inner_->get_accHelp(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT v, long* t) override {
        return inner_->get_accHelpTopic(f, v, t);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT v, BSTR* s) override {
        return inner_->get_accKeyboardShortcut(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* v) override { return inner_->get_accFocus(v); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* v) override {
        return inner_->get_accSelection(v);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT v, BSTR* s) override {
        return inner_->get_accDefaultAction(v, s);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long f, VARIANT v) override {
        return inner_->accSelect(f, v);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* l, long* t, long* w, long* h, VARIANT v) override {
        return inner_->accLocation(l, t, w, h, v);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long d, VARIANT s, VARIANT* e) override {
        return inner_->accNavigate(d, s, e);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* v) override {
        return inner_->accHitTest(x, y, v);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT v) override {
        return inner_->accDoDefaultAction(v);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT v, BSTR s) override {
        return inner_->put_accName(v, s);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT v, BSTR s) override {
        return inner_->put_accValue(v, s);
    }

  private:
    ~NamedAccessible() { inner_->Release(); }

    IAccessible* inner_;
    std::wstring name_;
    std::atomic<ULONG> references_{1};
};

LRESULT CALLBACK NamedProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* naming = static_cast<Naming*>(GetPropA(control, kProperty));
    if (!naming) return DefWindowProcA(control, message, wParam, lParam);
    const WNDPROC previous = naming->previous;
    const Library& library = Library::Get();
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT && library.createStd &&
        library.lresultFromObject) {
        IAccessible* inner = nullptr;
        if (SUCCEEDED(library.createStd(control, OBJID_CLIENT, __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&inner))) &&
            inner) {
            auto* named = new NamedAccessible(inner, naming->name);
            const LRESULT result = library.lresultFromObject(__uuidof(IAccessible), wParam, named);
            named->Release();
            return result;
        }
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropA(control, kProperty);
        delete naming;
    }
    return CallWindowProcA(previous, control, message, wParam, lParam);
}

Naming* NamingOf(HWND control) {
    if (auto* naming = static_cast<Naming*>(GetPropA(control, kProperty))) return naming;
    auto* naming = new Naming;
    if (!SetPropA(control, kProperty, naming)) {
        delete naming;
        return nullptr;
    }
    naming->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NamedProcedure)));
    return naming;
}

} // namespace

void SetAccessibleName(HWND control, std::string_view name) {
    if (Naming* naming = NamingOf(control)) {
        const std::u16string wide = platform::AnsiToUtf16(name);
        naming->name.assign(wide.begin(), wide.end());
    }
}

} // namespace klv::app::win32
