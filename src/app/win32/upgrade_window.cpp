#include "app/win32/upgrade_window.h"

#include <shlobj.h>

#include "app/win32/accessible_name.h"
#include "app/win32/choice_dialog.h"
#include "app/win32/resource_ids.h"
#include "util/texts.h"

namespace klv::app::win32 {

namespace {

constexpr const char* kClassName = "TUpgradeForm";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 441;
constexpr int kClientHeight = 144;
constexpr int kFontPixels = 11;
constexpr int kHeadingFontPixels = 19;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 200;
constexpr int kFirstControlId = 100;

enum Anchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

struct ControlSpec {
    Control control;
    const char* className;
    DWORD style;
    DWORD exStyle;
    int left, top, width, height;
    unsigned anchors;
    std::string_view text;
    int trailingBlanks; // stored captions padded with blanks
};

// Tab order first (creation order is the dialog manager's tab order), then the controls that
// take no focus.
constexpr ControlSpec kControls[] = {
    {Control::bnExtract, "BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 190, 108, 131, 25,
     akLeft | akBottom, util::texts::StoredInstallButton, 58},
    {Control::bnExit, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, 328, 108, 75, 25, akLeft | akBottom,
     util::texts::CancelButton, 0},
    {Control::edPath, "EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 8, 64, 393,
     21, akLeft | akTop, "", 0},
    {Control::bnSelectDestPath, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, 408, 62, 25, 25,
     akLeft | akTop, util::texts::BrowseButton, 0},
    {Control::zoeklocs, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, 8, 108, 161, 25, akLeft | akBottom,
     util::texts::SearchButton, 0},
    {Control::MakeShortcuts, "BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0, 8, 88, 393, 17,
     akLeft | akBottom, util::texts::ShortcutsCheckBox, 0},
    {Control::Label1, "STATIC", SS_LEFTNOWORDWRAP, 0, 8, 8, 425, 25, akLeft | akTop,
     util::texts::StoredHeading, 32},
    {Control::Label2, "STATIC", SS_LEFT, 0, 8, 32, 337, 25, akLeft | akTop | akRight,
     util::texts::Explanation, 0},
    {Control::Image1, PictureClassName, 0, 0, 352, 4, 84, 55, akTop | akRight, "", 0},
};

int IdOf(Control control) {
    return kFirstControlId + static_cast<int>(control);
}

bool IsButton(Control control) {
    return control == Control::bnExtract || control == Control::bnExit ||
           control == Control::bnSelectDestPath || control == Control::zoeklocs;
}

// Frees a shell item list.
struct ItemListDeleter {
    void operator()(ITEMIDLIST* list) const { CoTaskMemFree(list); }
};

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

} // namespace

NativeUpgradeWindow::NativeUpgradeWindow(HINSTANCE instance, std::string_view caption)
    : instance_(instance),
      icon_(static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(KLV_IDI_APPLICATION),
                                          IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
    RegisterDialogClass(instance, kClassName, OwnerProcedure<NativeUpgradeWindow>, icon_.get());
    RegisterPictureClass(instance);

    const std::string text(caption);
    window_.reset(CreateWindowExA(kExStyle, kClassName, text.c_str(), kStyle, 0, 0, kClientWidth,
                                  kClientHeight, nullptr, nullptr, instance, this));
    if (!window_) throw std::runtime_error(std::string(util::texts::WindowNotMade));
    // Centred on the screen at the DPI it is shown at.
    dpi_ = WindowDpi(window_.get());
    const SIZE outer = OuterSizeForDpi(kStyle, kExStyle, Scaled(kClientWidth, dpi_),
                                       Scaled(kClientHeight, dpi_), dpi_);
    SetWindowPos(window_.get(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    MakeFonts();
    for (const ControlSpec& spec : kControls) {
        HFONT font = spec.control == Control::Label1 ? headingFont_.get() : font_.get();
        const RECT r =
            Scaled(RECT{spec.left, spec.top, spec.left + spec.width, spec.top + spec.height}, dpi_);
        children_[static_cast<std::size_t>(spec.control)] =
            CreateChild(window_.get(), spec.className,
                        std::string(spec.text) + std::string(spec.trailingBlanks, ' '),
                        spec.style | WS_VISIBLE, spec.exStyle, r.left, r.top, r.right - r.left,
                        r.bottom - r.top, IdOf(spec.control), font);
    }
    // The picture lies over the heading's right end, as stored.
    SetWindowPos(Child(Control::Image1), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowPictureAtDpi();
    // The names a screen reader speaks: the folder field by its label as stored ("Kelvaro
    // map", without the colon and the blanks), the browse button by what it does.
    std::string fieldName(util::texts::StoredHeading);
    while (!fieldName.empty() && (fieldName.back() == ' ' || fieldName.back() == ':'))
        fieldName.pop_back();
    SetAccessibleName(Child(Control::edPath), fieldName);
    SetAccessibleName(Child(Control::bnSelectDestPath), util::texts::BrowseButtonName);
    SendMessageA(Child(Control::MakeShortcuts), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(window_.get(), DM_SETDEFID, IdOf(Control::bnExtract), 0);
    SetTimerEnabled(true);
}

void NativeUpgradeWindow::MakeFonts() {
    // The controls take the new fonts before the old ones go.
    GdiObject<HFONT> font = StoredFont(Scaled(kFontPixels, dpi_));
    GdiObject<HFONT> heading = StoredFont(Scaled(kHeadingFontPixels, dpi_));
    for (const ControlSpec& spec : kControls) {
        if (HWND child = Child(spec.control))
            SendMessageA(child, WM_SETFONT,
                         reinterpret_cast<WPARAM>(spec.control == Control::Label1 ? heading.get()
                                                                                  : font.get()),
                         TRUE);
    }
    font_ = std::move(font);
    headingFont_ = std::move(heading);
}

void NativeUpgradeWindow::ShowPictureAtDpi() {
    if (!ownPicture_) {
        SetPicture(Child(Control::Image1), &*picture_, dpi_);
        return;
    }
    SetPicture(Child(Control::Image1), nullptr, dpi_);
    picture_ = Picture::FromIconResource(instance_, KLV_IDI_APPLICATION, 32, dpi_);
    SetPicture(Child(Control::Image1), picture_ ? &*picture_ : nullptr, dpi_);
}

void NativeUpgradeWindow::ChangeDpi(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    MakeFonts();
    ShowPictureAtDpi();
    SetWindowPos(window_.get(), nullptr, suggested.left, suggested.top,
                 suggested.right - suggested.left, suggested.bottom - suggested.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    KeepAnchors(); // also when the size stayed
    RedrawWindow(window_.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

NativeUpgradeWindow::~NativeUpgradeWindow() {
    if (window_) {
        KillTimer(window_.get(), kTimer1);
        SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
    }
}

void NativeUpgradeWindow::Connect(EventHandler events, ErrorHandler errors) {
    events_ = std::move(events);
    errors_ = std::move(errors);
}

void NativeUpgradeWindow::Show(int showCommand) {
    ShowWindow(window_.get(), showCommand);
}

LRESULT NativeUpgradeWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = window_.get();
    switch (message) {
    case WM_PAINT: {
        // The default painting first; the paint handler runs on a validated window, so that
        // the boxes it may show do not bring the same paint back.
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        Dispatch(WindowEvent::Paint, Control::Label1);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kTimer1) {
            Dispatch(WindowEvent::Timer, Control::Label1);
            return 0;
        }
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
            const int index = LOWORD(wParam) - kFirstControlId;
            HWND sender = reinterpret_cast<HWND>(lParam);
            // The dialog manager clicks a focused default button even when it is disabled.
            if (index >= 0 && index < static_cast<int>(children_.size()) &&
                IsButton(static_cast<Control>(index)) && IsWindowEnabled(sender) &&
                IsWindowVisible(sender))
                Dispatch(WindowEvent::Click, static_cast<Control>(index));
            return 0;
        }
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            return 0; // Enter without a default button, Escape: the window has neither role
        break;
    case WM_SIZE:
        KeepAnchors();
        break;
    case kDpiChangedMessage:
        ChangeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SETCURSOR:
        // While the program is busy (the hourglass set by its logic, as during a drive search
        // that keeps the window responding), moving the mouse does not bring the arrow back.
        if (LOWORD(lParam) == HTCLIENT && GetCursor() == LoadCursor(nullptr, IDC_WAIT)) return TRUE;
        break;
    case WM_CLOSE:
        Close();
        return 0;
    default:
        break;
    }
    return DefDlgProcA(window, message, wParam, lParam);
}

void NativeUpgradeWindow::Dispatch(WindowEvent event, Control sender) {
    if (!events_) return;
    try {
        events_(event, sender);
    } catch (...) {
        if (errors_) errors_(std::current_exception());
    }
}

void NativeUpgradeWindow::KeepAnchors() {
    RECT client;
    GetClientRect(window_.get(), &client);
    const int dx = client.right - Scaled(kClientWidth, dpi_);
    const int dy = client.bottom - Scaled(kClientHeight, dpi_);
    for (const ControlSpec& spec : kControls) {
        HWND child = Child(spec.control);
        if (!child) continue;
        // The edges scaled, so that controls that meet at 96 DPI meet at every DPI.
        const RECT r =
            Scaled(RECT{spec.left, spec.top, spec.left + spec.width, spec.top + spec.height}, dpi_);
        int left = r.left, top = r.top, width = r.right - r.left, height = r.bottom - r.top;
        if (spec.anchors & akRight) {
            if (spec.anchors & akLeft)
                width += dx;
            else
                left += dx;
        }
        if (spec.anchors & akBottom) {
            if (spec.anchors & akTop)
                height += dy;
            else
                top += dy;
        }
        SetWindowPos(child, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

std::string NativeUpgradeWindow::Caption() {
    return WindowText(window_.get());
}

void NativeUpgradeWindow::SetCaption(std::string_view caption) {
    SetWindowText(window_.get(), caption);
}

std::string NativeUpgradeWindow::Text(Control control) {
    return WindowText(Child(control));
}

void NativeUpgradeWindow::SetText(Control control, std::string_view text) {
    if (control != Control::Image1) SetWindowText(Child(control), text);
}

bool NativeUpgradeWindow::Visible(Control control) {
    return (GetWindowLongA(Child(control), GWL_STYLE) & WS_VISIBLE) != 0;
}

void NativeUpgradeWindow::SetVisible(Control control, bool visible) {
    ShowWindow(Child(control), visible ? SW_SHOWNA : SW_HIDE);
}

bool NativeUpgradeWindow::Enabled(Control control) {
    return IsWindowEnabled(Child(control)) != 0;
}

void NativeUpgradeWindow::SetEnabled(Control control, bool enabled) {
    if (Enabled(control) != enabled) EnableWindow(Child(control), enabled);
    if (enabled && pendingFocus_ == Child(control)) {
        pendingFocus_ = nullptr;
        if (GetFocus() == focusAtRequest_) FocusWhenEnabled(control);
    }
}

void NativeUpgradeWindow::FocusWhenEnabled(Control control) {
    HWND target = Child(control);
    pendingFocus_ = nullptr;
    if (IsWindowEnabled(target) && IsWindowVisible(target)) {
        // Through the dialog manager, so that a button with the focus is the default one.
        SendMessageA(window_.get(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
        return;
    }
    pendingFocus_ = target;
    focusAtRequest_ = GetFocus();
}

bool NativeUpgradeWindow::Checked(Control control) {
    return SendMessageA(Child(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void NativeUpgradeWindow::SetChecked(Control control, bool checked) {
    SendMessageA(Child(control), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int NativeUpgradeWindow::OuterHeight() {
    RECT r;
    GetWindowRect(window_.get(), &r);
    return Unscaled(r.bottom - r.top, dpi_);
}

void NativeUpgradeWindow::SetOuterHeight(int height) {
    // The change scaled, not the height: the frame is the system's at every DPI, and 50 96-DPI
    // pixels less are 75 pixels less at 150 %.
    const int change = Scaled(height - OuterHeight(), dpi_);
    RECT r;
    GetWindowRect(window_.get(), &r);
    SetWindowPos(window_.get(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top + change,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool NativeUpgradeWindow::LoadPicture(std::string_view path) {
    std::optional<Picture> loaded = Picture::FromFile(path);
    if (!loaded) return false;
    SetPicture(Child(Control::Image1), nullptr, dpi_);
    picture_ = std::move(loaded);
    ownPicture_ = false;
    SetPicture(Child(Control::Image1), &*picture_, dpi_);
    return true;
}

void NativeUpgradeWindow::Repaint() {
    RedrawWindow(window_.get(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void NativeUpgradeWindow::RepaintControl(Control control) {
    RedrawWindow(Child(control), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

bool NativeUpgradeWindow::BrowseForFolder(std::string_view start, std::string& chosen) {
    const std::string startFolder(start);
    char name[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = window_.get();
    info.pszDisplayName = name;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(startFolder.c_str());
    std::unique_ptr<ITEMIDLIST, ItemListDeleter> list(SHBrowseForFolderA(&info));
    if (!list) return false;
    char path[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(list.get(), path)) return false;
    chosen = path;
    return true;
}

void NativeUpgradeWindow::SetTimerEnabled(bool enabled) {
    if (enabled)
        SetTimer(window_.get(), kTimer1, kTimer1Interval, nullptr);
    else
        KillTimer(window_.get(), kTimer1);
}

void NativeUpgradeWindow::Close() {
    // Closing the main window ends the application: the window goes with the message loop.
    PostQuitMessage(0);
}

platform::WindowHandle NativeUpgradeWindow::Handle() {
    return reinterpret_cast<platform::WindowHandle>(window_.get());
}

std::unique_ptr<ChoiceView> NativeUpgradeWindow::NewChoiceDialog() {
    return std::make_unique<NativeChoiceDialog>(instance_, window_.get());
}

int RunMessageLoop(NativeUpgradeWindow& window) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window.Window(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

} // namespace klv::app::win32
