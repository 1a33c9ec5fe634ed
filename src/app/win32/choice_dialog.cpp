#include "app/win32/choice_dialog.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "app/win32/accessible_name.h"
#include "platform/text.h"
#include "platform/win32/dialog_template.h"
#include "util/texts.h"

namespace klv::app::win32 {

namespace {

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

std::wstring Wide(std::string_view ansi) {
    const std::u16string text = platform::AnsiToUtf16(ansi);
    return std::wstring(text.begin(), text.end());
}

// The dialog's fixed part: the frame, the heading and the cancel button. The template's
// geometry is replaced by the stored pixel positions once the window exists.
platform::DialogTemplate ChoiceTemplate() {
    platform::DialogTemplate t;
    t.Dialog(kStyle, kWidth, kHeight, Wide(util::texts::StoredChoiceCaption), L"MS Sans Serif", 8,
             kExStyle);
    t.Item(BS_PUSHBUTTON | WS_TABSTOP | WS_CLIPSIBLINGS, kCancel.left, kCancel.top,
           kCancel.right - kCancel.left, kCancel.bottom - kCancel.top, IDCANCEL,
           platform::kButtonClass, Wide(util::texts::CancelButton));
    t.Item(SS_LEFT | WS_CLIPSIBLINGS, kHeading.left, kHeading.top, kHeading.right - kHeading.left,
           kHeading.bottom - kHeading.top, kHeadingId, platform::kStaticClass, L"");
    return t;
}

void Place(HWND window, const RECT& r) {
    SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The dialog stands at its described place, scaled. Where that reaches past the work area of
// its monitor (a small screen at a large scale, or a dialog widened for long folder names), it
// is moved in, so that every entry and the cancel button can be seen and clicked.
void KeepInWorkArea(HWND window) {
    RECT r;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetWindowRect(window, &r) ||
        !GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    const RECT& work = monitor.rcWork;
    const LONG left = std::max(work.left, std::min(r.left, work.right - (r.right - r.left)));
    const LONG top = std::max(work.top, std::min(r.top, work.bottom - (r.bottom - r.top)));
    if (left != r.left || top != r.top)
        SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

INT_PTR CALLBACK NativeChoiceDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        return FALSE; // the focus is set when the dialog is shown
    }
    auto* self = reinterpret_cast<NativeChoiceDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self || self->window_.get() != window) return FALSE;
    return self->HandleMessage(message, wParam, lParam);
}

NativeChoiceDialog::NativeChoiceDialog(HINSTANCE instance, HWND owner) : owner_(owner) {
    const platform::DialogTemplate layout = ChoiceTemplate();
    window_.reset(CreateDialogIndirectParamA(instance, layout.Get(), owner, Procedure,
                                             reinterpret_cast<LPARAM>(this)));
    if (!window_) throw std::runtime_error(std::string(util::texts::ChoiceWindowNotMade));
    KeepDialogLayoutOwn(window_.get());
    dpi_ = WindowDpi(window_.get());
    font_ = StoredFont(Scaled(kFontPixels, dpi_));
    cancel_ = GetDlgItem(window_.get(), IDCANCEL);
    heading_ = GetDlgItem(window_.get(), kHeadingId);
    for (HWND control : {cancel_, heading_})
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    // The stored geometry, in pixels at the dialog's DPI.
    SetWindowPos(window_.get(), nullptr, Scaled(kLeft, dpi_), Scaled(kTop, dpi_),
                 Scaled(kWidth, dpi_), Scaled(kHeight, dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
    cancelAt_ = POINT{kCancel.left, kCancel.top};
    Place(cancel_, Scaled(kCancel, dpi_));
    const RECT heading = Scaled(kHeading, dpi_);
    Place(heading_, heading);
    RECT client;
    GetClientRect(window_.get(), &client);
    headingMargin_ = client.right - heading.right;
}

NativeChoiceDialog::~NativeChoiceDialog() {
    if (window_) SetWindowLongPtrA(window_.get(), DWLP_USER, 0);
}

INT_PTR NativeChoiceDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) { // the cancel button, or Escape
            if (IsWindowEnabled(cancel_)) Press(-1);
            return TRUE;
        }
        if (HIWORD(wParam) == BN_CLICKED && id >= kFirstEntryId && lParam != 0) {
            Press(id - kFirstEntryId);
            return TRUE;
        }
        if (id == IDOK) return TRUE; // Enter with no button focused: no choice is made
        return FALSE;
    }
    case WM_CLOSE: // the close box: no choice (not the cancel button's IDCANCEL)
        done_ = true;
        ok_ = false;
        return TRUE;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize.x = Scaled(kMinWidth, dpi_);
        limits->ptMaxTrackSize.x = Scaled(kMaxWidth, dpi_);
        return TRUE;
    }
    case WM_SIZE:
        FitHeading(LOWORD(lParam));
        return FALSE;
    case kDpiChangedMessage:
        ChangeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

void NativeChoiceDialog::FitHeading(int clientWidth) {
    if (!heading_) return; // the heading keeps its distance to the right edge
    const RECT r = Scaled(kHeading, dpi_);
    SetWindowPos(heading_, nullptr, 0, 0, std::max<int>(clientWidth - headingMargin_ - r.left, 0),
                 r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void NativeChoiceDialog::ChangeDpi(int dpi, const RECT& suggested) {
    headingMargin_ = MulDiv(headingMargin_, dpi, dpi_);
    dpi_ = dpi;
    // The controls take the new font before the old one goes.
    GdiObject<HFONT> font = StoredFont(Scaled(kFontPixels, dpi_));
    auto setFont = [&](HWND control) {
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    };
    setFont(cancel_);
    setFont(heading_);
    for (const Added& added : added_)
        setFont(added.window);
    font_ = std::move(font);
    const RECT cancel{cancelAt_.x, cancelAt_.y, cancelAt_.x + kCancel.right - kCancel.left,
                      cancelAt_.y + kCancel.bottom - kCancel.top};
    Place(cancel_, Scaled(cancel, dpi_));
    Place(heading_, Scaled(kHeading, dpi_));
    for (const Added& added : added_) {
        RECT r = Scaled(added.rect, dpi_);
        if (added.label) {
            const SIZE size = LabelSize(WindowText(added.window));
            r.right = r.left + size.cx;
            r.bottom = r.top + size.cy;
        }
        Place(added.window, r);
    }
    SetWindowPos(window_.get(), nullptr, suggested.left, suggested.top,
                 suggested.right - suggested.left, suggested.bottom - suggested.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(window_.get(), &client);
    FitHeading(client.right); // also when the size stayed
    RedrawWindow(window_.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
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
    const RECT at{left, top, left + width, top + height};
    const RECT r = Scaled(at, dpi_);
    HWND button =
        CreateChild(window_.get(), "BUTTON", "", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0, r.left,
                    r.top, r.right - r.left, r.bottom - r.top, kFirstEntryId + tag, font_.get());
    added_.push_back(Added{button, at, false});
}

SIZE NativeChoiceDialog::LabelSize(std::string_view text) {
    const std::string t(text);
    HDC dc = GetDC(window_.get());
    HGDIOBJ old = SelectObject(dc, font_.get());
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, t.c_str(), static_cast<int>(t.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(window_.get(), dc);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

int NativeChoiceDialog::AddLabel(int tag, int left, int top, std::string_view text) {
    // The entry's button takes no text of its own: a screen reader names it by this folder.
    if (HWND entry = GetDlgItem(window_.get(), kFirstEntryId + tag)) SetAccessibleName(entry, text);
    // A label that takes the size of its text; shown as written, '&' included.
    const SIZE size = LabelSize(text);
    HWND label =
        CreateChild(window_.get(), "STATIC", text, SS_LEFTNOWORDWRAP | SS_NOPREFIX | WS_VISIBLE, 0,
                    Scaled(left, dpi_), Scaled(top, dpi_), size.cx, size.cy, kLabelId, font_.get());
    // The width it takes in 96-DPI pixels, rounded up: what the logic leaves beside it holds.
    const int width = UnscaledUp(size.cx, dpi_);
    added_.push_back(
        Added{label, RECT{left, top, left + width, top + UnscaledUp(size.cy, dpi_)}, true});
    return width;
}

int NativeChoiceDialog::Width() {
    RECT r;
    GetWindowRect(window_.get(), &r);
    return Unscaled(r.right - r.left, dpi_);
}

int NativeChoiceDialog::Height() {
    RECT r;
    GetWindowRect(window_.get(), &r);
    return Unscaled(r.bottom - r.top, dpi_);
}

void NativeChoiceDialog::SetSize(int width, int height) {
    SetWindowPos(window_.get(), nullptr, 0, 0,
                 Scaled(std::clamp(width, kMinWidth, kMaxWidth), dpi_), Scaled(height, dpi_),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int NativeChoiceDialog::ClientWidth() {
    RECT r;
    GetClientRect(window_.get(), &r);
    return Unscaled(r.right, dpi_);
}

int NativeChoiceDialog::ClientHeight() {
    RECT r;
    GetClientRect(window_.get(), &r);
    return Unscaled(r.bottom, dpi_);
}

int NativeChoiceDialog::CancelWidth() {
    RECT r;
    GetWindowRect(cancel_, &r);
    return Unscaled(r.right - r.left, dpi_);
}

int NativeChoiceDialog::CancelHeight() {
    RECT r;
    GetWindowRect(cancel_, &r);
    return Unscaled(r.bottom - r.top, dpi_);
}

void NativeChoiceDialog::MoveCancel(int left, int top) {
    cancelAt_ = POINT{left, top};
    SetWindowPos(cancel_, nullptr, Scaled(left, dpi_), Scaled(top, dpi_), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool NativeChoiceDialog::ShowModal(int& pressedTag) {
    HWND window = window_.get();
    done_ = false;
    ok_ = false;
    const bool ownerWasEnabled = owner_ && IsWindowEnabled(owner_);
    if (ownerWasEnabled) EnableWindow(owner_, FALSE);
    KeepInWorkArea(window);
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
