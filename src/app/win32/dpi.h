// The installer's windows are described in pixels at 96 DPI (100 %), the size they were laid
// out at; shown at another DPI every length is scaled by DPI/96. The program declares itself
// DPI aware (per monitor where the system offers it, else system wide), so nothing here is
// stretched by the system: at 96 DPI every length is the described one.
#pragma once

#include <windows.h>

namespace klv::app::win32 {

inline constexpr int kBaseDpi = 96;
// WM_DPICHANGED (Windows 8.1 on): wParam the new DPI, lParam the suggested window RECT*.
inline constexpr UINT kDpiChangedMessage = 0x02E0;

// A length of the 96-DPI description at `dpi`, rounded to the nearest pixel.
int Scaled(int length, int dpi);
RECT Scaled(const RECT& rect, int dpi);
// A length in pixels at `dpi` in 96-DPI pixels: rounded to the nearest (Unscaled(Scaled(n))
// is n at every DPI from 96 on), or up (a text's width, so that what it takes is not cut).
int Unscaled(int pixels, int dpi);
int UnscaledUp(int pixels, int dpi);

// The DPI `window` is shown at: GetDpiForWindow where the system has it (Windows 10 1607 on),
// else the screen's (the DPI of a system-aware program, Windows 7 to 8.1).
int WindowDpi(HWND window);
// The screen's DPI, which a window made now is shown at unless it lands on another monitor.
int ScreenDpi();

// Outer size of a window whose client area is `clientWidth` x `clientHeight` at `dpi`: the
// frame as the system draws it at that DPI (AdjustWindowRectExForDpi where there is one).
SIZE OuterSizeForDpi(DWORD style, DWORD exStyle, int clientWidth, int clientHeight, int dpi);

// Keeps the dialog manager from rescaling a dialog on its own when it moves to a monitor of
// another DPI (Windows 10 1703 on): its owner lays it out again at WM_DPICHANGED.
void KeepDialogLayoutOwn(HWND dialog);

} // namespace klv::app::win32
