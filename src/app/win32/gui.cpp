#include "app/win32/gui.h"

namespace klv::app::win32 {

GdiObject<HFONT> StoredFont(int pixels) {
    return GdiObject<HFONT>(CreateFontA(
        -pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
}

std::string WindowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    const int n = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

void SetWindowText(HWND window, std::string_view text) {
    const std::string s(text);
    SetWindowTextA(window, s.c_str());
}

void RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure, HICON icon,
                         int windowExtra) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, name, &existing)) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.cbWndExtra = windowExtra;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassExA(&wc);
}

void RegisterDialogClass(HINSTANCE instance, const char* name, WNDPROC procedure, HICON icon) {
    RegisterWindowClass(instance, name, procedure, icon, DLGWINDOWEXTRA);
}

HWND CreateChild(HWND parent, const char* className, std::string_view text, DWORD style,
                 DWORD exStyle, int left, int top, int width, int height, int id, HFONT font) {
    const std::string t(text);
    HWND child = CreateWindowExA(
        exStyle, className, t.c_str(), style | WS_CHILD | WS_CLIPSIBLINGS, left, top, width, height,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)), nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

} // namespace klv::app::win32
