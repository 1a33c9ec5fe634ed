// Small pieces shared by the installer's native windows: owned handles, the stored font,
// window texts, and the window classes that take the dialog manager's keyboard handling.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace klv::app::win32 {

struct GdiObjectDeleter {
    void operator()(void* object) const { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
// A font, bitmap or brush, deleted with the owner.
template <class Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter>;

struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using OwnedIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

struct WindowDeleter {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

// "MS Sans Serif" with a character height of `pixels` (the form designer's negative height,
// scaled to the window's DPI by the caller).
GdiObject<HFONT> StoredFont(int pixels);

std::string WindowText(HWND window);
void SetWindowText(HWND window, std::string_view text);

// Registers (once) a window class: the button face as background, the arrow cursor.
void RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure, HICON icon,
                         int windowExtra);

// Registers (once) a top-level window class whose default procedure is the dialog manager's,
// so that windows made with CreateWindowEx get dialog keyboard handling (Tab, Enter for the
// default button, Escape as IDCANCEL) when the message loop passes their messages through
// IsDialogMessage. The procedure must end in DefDlgProcA.
void RegisterDialogClass(HINSTANCE instance, const char* name, WNDPROC procedure, HICON icon);

// The window procedure of a window made by an object of `Owner` that passed itself as
// CreateWindowEx's creation parameter: the object is kept in the window's user data at
// WM_NCCREATE, and the window's messages go to its HandleMessage. Messages that come before,
// or after the object has let go of the window (user data 0), go to the dialog manager.
template <class Owner>
LRESULT CALLBACK OwnerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Owner*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && self->window_.get() == window) return self->HandleMessage(message, wParam, lParam);
    return DefDlgProcA(window, message, wParam, lParam);
}

// A child control at pixel position, with the given font.
HWND CreateChild(HWND parent, const char* className, std::string_view text, DWORD style,
                 DWORD exStyle, int left, int top, int width, int height, int id, HFONT font);

} // namespace klv::app::win32
