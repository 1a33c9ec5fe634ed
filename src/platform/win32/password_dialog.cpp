// The password prompt: a modal dialog made from a template built in memory (no resource
// script). Sizes are dialog units of the dialog's font.
#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

#include "platform/password_dialog.h"
#include "platform/win32/dialog_template.h"

namespace klv::platform {

namespace {

constexpr WORD kLabelId = 101;
constexpr WORD kEditId = 102;
constexpr int kMaxPasswordLength = 255;

DialogTemplate BuildTemplate() {
    DialogTemplate t;
    // The caption is left empty here; the caller's ANSI text is set when the dialog opens.
    t.Dialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 180, 63, L"");
    t.Item(SS_LEFT, 8, 8, 164, 8, kLabelId, kStaticClass, L"");
    t.Item(ES_LEFT | ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 19, 164, 12, kEditId,
           kEditClass, L"");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 38, 41, 50, 14, IDOK, kButtonClass, L"OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 92, 41, 50, 14, IDCANCEL, kButtonClass, L"Cancel");
    return t;
}

struct DialogState {
    const std::string* caption;
    const std::string* label;
    std::string password;
    bool ok = false;
};

INT_PTR CALLBACK PasswordDialogProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* state = reinterpret_cast<DialogState*>(lParam);
        SetWindowLongPtrA(dlg, DWLP_USER, lParam);
        SetWindowTextA(dlg, state->caption->c_str());
        SetDlgItemTextA(dlg, kLabelId, state->label->c_str());
        SendDlgItemMessageA(dlg, kEditId, EM_LIMITTEXT, kMaxPasswordLength, 0);
        SendDlgItemMessageA(dlg, kEditId, EM_SETPASSWORDCHAR, '*', 0);
        CentreOnScreen(dlg);
        SetFocus(GetDlgItem(dlg, kEditId));
        return FALSE; // focus set here
    }
    case WM_COMMAND: {
        auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dlg, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDOK: {
            char text[kMaxPasswordLength + 1] = {};
            UINT n = GetDlgItemTextA(dlg, kEditId, text, sizeof text);
            state->password.assign(text, n);
            SecureZeroMemory(text, sizeof text);
            state->ok = true;
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        case IDCANCEL: // also the close box and Escape
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

void WipeString(std::string& s) {
    if (!s.empty()) SecureZeroMemory(s.data(), s.size());
    s.clear();
}

} // namespace

bool AskPasswordNative(const std::string& caption, const std::string& label,
                       std::string& password) {
    DialogTemplate t = BuildTemplate();
    DialogState state{&caption, &label, {}, false};
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.Get(), GetActiveWindow(),
                                             PasswordDialogProc, reinterpret_cast<LPARAM>(&state));
    bool ok = result == IDOK && state.ok;
    if (ok) password = state.password;
    WipeString(state.password);
    return ok;
}

bool ProbePasswordDialog(const std::string& caption, const std::string& label,
                         PasswordDialogLayout& layout) {
    DialogTemplate t = BuildTemplate();
    DialogState state{&caption, &label, {}, false};
    HWND dlg = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), t.Get(), nullptr,
                                          PasswordDialogProc, reinterpret_cast<LPARAM>(&state));
    if (!dlg) return false;

    layout = PasswordDialogLayout{};
    char text[512];
    GetWindowTextA(dlg, text, sizeof text);
    layout.caption = text;
    RECT r;
    GetClientRect(dlg, &r);
    layout.clientWidth = r.right - r.left;
    layout.clientHeight = r.bottom - r.top;
    RECT units{0, 0, 4, 8};
    MapDialogRect(dlg, &units);
    layout.unitX = units.right;
    layout.unitY = units.bottom;
    GetWindowRect(dlg, &r);
    layout.windowLeft = r.left, layout.windowTop = r.top;
    layout.windowRight = r.right, layout.windowBottom = r.bottom;
    layout.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    layout.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    LRESULT def = SendMessageA(dlg, DM_GETDEFID, 0, 0);
    if (HIWORD(def) == DC_HASDEFID) layout.defaultId = LOWORD(def);
    layout.editLimit = static_cast<int>(SendDlgItemMessageA(dlg, kEditId, EM_GETLIMITTEXT, 0, 0));
    layout.passwordChar =
        static_cast<int>(SendDlgItemMessageA(dlg, kEditId, EM_GETPASSWORDCHAR, 0, 0));

    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        PasswordDialogControl control;
        control.id = GetDlgCtrlID(c);
        GetClassNameA(c, text, sizeof text);
        control.className = text;
        GetWindowTextA(c, text, sizeof text);
        control.text = text;
        control.style = static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE));
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
        control.left = r.left, control.top = r.top, control.right = r.right,
        control.bottom = r.bottom;
        layout.controls.push_back(std::move(control));
    }
    DestroyWindow(dlg);
    return true;
}

} // namespace klv::platform
