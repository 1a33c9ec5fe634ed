#include "app/win32/dpi.h"

namespace klv::app::win32 {

namespace {

// A function of user32 that older systems lack, looked up at run time; null where there is none.
template <class Function> Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

} // namespace

int Scaled(int length, int dpi) {
    return dpi == kBaseDpi ? length : MulDiv(length, dpi, kBaseDpi);
}

RECT Scaled(const RECT& rect, int dpi) {
    return RECT{Scaled(rect.left, dpi), Scaled(rect.top, dpi), Scaled(rect.right, dpi),
                Scaled(rect.bottom, dpi)};
}

int Unscaled(int pixels, int dpi) {
    return dpi == kBaseDpi ? pixels : MulDiv(pixels, kBaseDpi, dpi);
}

int UnscaledUp(int pixels, int dpi) {
    if (dpi == kBaseDpi || pixels <= 0) return pixels;
    return static_cast<int>((static_cast<long long>(pixels) * kBaseDpi + dpi - 1) / dpi);
}

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

int WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi && window) {
        const UINT dpi = getDpi(window);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return ScreenDpi();
}

SIZE OuterSizeForDpi(DWORD style, DWORD exStyle, int clientWidth, int clientHeight, int dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    RECT r{0, 0, clientWidth, clientHeight};
    if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void KeepDialogLayoutOwn(HWND dialog) {
    using SetBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehavior = User32Function<SetBehaviorFn>("SetDialogDpiChangeBehavior");
    constexpr int kDisableAll = 1; // DDC_DISABLE_ALL
    if (setBehavior) setBehavior(dialog, kDisableAll, kDisableAll);
}

} // namespace klv::app::win32
