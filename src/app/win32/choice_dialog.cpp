#include "app/win32/choice_dialog.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "util/texts.h"

namespace klv::app::win32 {

namespace {

constexpr const char* kClassName = "TKeuzedlgf";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kLeft = 441, kTop = 221, kWidth = 400, kHeight = 133;
constexpr int kMinWidth = 400, kMaxWidth = 2000;
constexpr int kFontPixels = 11;
constexpr RECT kHeading{8, 8, 8 + 381, 8 + 25};
constexpr RECT kCancel{128, 59, 128 + 113, 59 + 33};
constexpr int kHeadingId = 100;
// Entry buttons carry their tag above this id; the cancel button is IDCANCEL (tag -1), which
// is also what the dialog manager sends for the Escape key.
constexpr int kFirstEntryId = 1000;
constexpr int kLabelId = 0xFFFF; // labels are never addressed by id

} // namespace

NativeChoiceDialog::NativeChoiceDialog(HINSTANCE instance, HWND owner)
    : owner_(owner), font_(StoredFont(kFontPixels)) {
    RegisterDialogClass(instance, kClassName, OwnerProcedure<NativeChoiceDialog>, nullptr);
    window_.reset(CreateWindowExA(kExStyle, kClassName,
                                  std::string(util::texts::StoredChoiceCaption).c_str(), kStyle,
                                  kLeft, kTop, kWidth, kHeight, owner, nullptr, instance, this));
    if (!window_) throw std::runtime_error(std::string(util::texts::ChoiceWindowNotMade));
    cancel_ = CreateChild(window_.get(), "BUTTON", util::texts::CancelButton,
                          BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0, kCancel.left, kCancel.top,
                          kCancel.right - kCancel.left, kCancel.bottom - kCancel.top, IDCANCEL,
                          font_.get());
    heading_ = CreateChild(window_.get(), "STATIC", "", SS_LEFT | WS_VISIBLE, 0, kHeading.left,
                           kHeading.top, kHeading.right - kHeading.left,
                           kHeading.bottom - kHeading.top, kHeadingId, font_.get());
    RECT client;
    GetClientRect(window_.get(), &client);
    clientWidthAtRest_ = client.right;
    headingWidthAtRest_ = kHeading.right - kHeading.left;
}

NativeChoiceDialog::~NativeChoiceDialog() {
    if (window_) SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
}

LRESULT NativeChoiceDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) { // the cancel button, or Escape
            if (IsWindowEnabled(cancel_)) Press(-1);
            return 0;
        }
        if (HIWORD(wParam) == BN_CLICKED && id >= kFirstEntryId && lParam != 0) {
            Press(id - kFirstEntryId);
            return 0;
        }
        if (id == IDOK) return 0; // Enter with no button focused: no choice is made
        break;
    }
    case WM_CLOSE: // the close box: no choice
        done_ = true;
        ok_ = false;
        return 0;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize.x = kMinWidth;
        limits->ptMaxTrackSize.x = kMaxWidth;
        return 0;
    }
    case WM_SIZE:
        if (heading_) { // the heading keeps its distance to the right edge
            const int width = headingWidthAtRest_ + LOWORD(lParam) - clientWidthAtRest_;
            SetWindowPos(heading_, nullptr, 0, 0, std::max(width, 0),
                         kHeading.bottom - kHeading.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    default:
        break;
    }
    return DefDlgProcA(window_.get(), message, wParam, lParam);
}

void NativeChoiceDialog::Press(int tag) {
    pressedTag_ = tag;
    ok_ = true;
    done_ = true;
}

void NativeChoiceDialog::SetCaption(std::string_view caption) {
    SetWindowText(window_.get(), caption);
}

void NativeChoiceDialog::SetHeading(std::string_view heading) {
    SetWindowText(heading_, heading);
}

int NativeChoiceDialog::HeadingBottom() {
    return kHeading.bottom;
}

void NativeChoiceDialog::AddButton(int tag, int left, int top, int width, int height) {
    CreateChild(window_.get(), "BUTTON", "", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0, left, top,
                width, height, kFirstEntryId + tag, font_.get());
}

int NativeChoiceDialog::AddLabel(int, int left, int top, std::string_view text) {
    // A label that takes the size of its text; shown as written, '&' included.
    const std::string t(text);
    HDC dc = GetDC(window_.get());
    HGDIOBJ old = SelectObject(dc, font_.get());
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, t.c_str(), static_cast<int>(t.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(window_.get(), dc);
    const int width = r.right - r.left;
    CreateChild(window_.get(), "STATIC", text, SS_LEFTNOWORDWRAP | SS_NOPREFIX | WS_VISIBLE, 0,
                left, top, width, r.bottom - r.top, kLabelId, font_.get());
    return width;
}

int NativeChoiceDialog::Width() {
    RECT r;
    GetWindowRect(window_.get(), &r);
    return r.right - r.left;
}

int NativeChoiceDialog::Height() {
    RECT r;
    GetWindowRect(window_.get(), &r);
    return r.bottom - r.top;
}

void NativeChoiceDialog::SetSize(int width, int height) {
    SetWindowPos(window_.get(), nullptr, 0, 0, std::clamp(width, kMinWidth, kMaxWidth), height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int NativeChoiceDialog::ClientWidth() {
    RECT r;
    GetClientRect(window_.get(), &r);
    return r.right;
}

int NativeChoiceDialog::ClientHeight() {
    RECT r;
    GetClientRect(window_.get(), &r);
    return r.bottom;
}

int NativeChoiceDialog::CancelWidth() {
    RECT r;
    GetWindowRect(cancel_, &r);
    return r.right - r.left;
}

int NativeChoiceDialog::CancelHeight() {
    RECT r;
    GetWindowRect(cancel_, &r);
    return r.bottom - r.top;
}

void NativeChoiceDialog::MoveCancel(int left, int top) {
    SetWindowPos(cancel_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool NativeChoiceDialog::ShowModal(int& pressedTag) {
    HWND window = window_.get();
    done_ = false;
    ok_ = false;
    const bool ownerWasEnabled = owner_ && IsWindowEnabled(owner_);
    if (ownerWasEnabled) EnableWindow(owner_, FALSE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(cancel_); // first in the tab order
    MSG msg;
    while (!done_) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The application is ending: leave the request for the main loop.
            if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (IsDialogMessageA(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // The owner is enabled before the dialog goes, so that it becomes the active window.
    if (ownerWasEnabled) EnableWindow(owner_, TRUE);
    ShowWindow(window, SW_HIDE);
    if (owner_) SetActiveWindow(owner_);
    if (ok_) pressedTag = pressedTag_;
    return ok_;
}

} // namespace klv::app::win32
