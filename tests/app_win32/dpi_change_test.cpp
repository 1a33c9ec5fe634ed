// The installer window and the choice dialog moved to a monitor of 144 DPI: WM_DPICHANGED, as
// the system sends it, lays them out again at the new DPI (the end-to-end suite e2e_dpi shows
// them started at another DPI).
#include <windows.h>

#include <gtest/gtest.h>

#include "app/win32/choice_dialog.h"
#include "app/win32/dpi.h"
#include "app/win32/upgrade_window.h"

using namespace klv::app::win32;
using klv::app::Control;

namespace {

constexpr int kDpi = 144;

int S(int length) {
    return MulDiv(length, kDpi, 96);
}

// A child's rectangle in its parent's client area, as left, top, right, bottom.
RECT ChildRect(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

::testing::AssertionResult At(HWND child, int left, int top, int right, int bottom) {
    const RECT r = ChildRect(child);
    if (r.left == S(left) && r.top == S(top) && r.right == S(right) && r.bottom == S(bottom))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "at " << r.left << "," << r.top << " - " << r.right << "," << r.bottom
           << ", expected " << S(left) << "," << S(top) << " - " << S(right) << "," << S(bottom);
}

LONG FontHeight(HWND control) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font.lfHeight;
}

// Tells `window` it is now at kDpi, suggesting a rectangle whose client area is `client`.
void MoveToDpi(HWND window, SIZE client) {
    RECT suggested{0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&suggested, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)));
    OffsetRect(&suggested, 100 - suggested.left, 50 - suggested.top);
    SendMessageA(window, kDpiChangedMessage, MAKEWPARAM(kDpi, kDpi),
                 reinterpret_cast<LPARAM>(&suggested));
}

BOOL CALLBACK WithEntry(HWND top, LPARAM found) {
    if (GetDlgItem(top, 1000)) *reinterpret_cast<HWND*>(found) = top;
    return TRUE;
}

} // namespace

TEST(DpiChange, TheWindowTakesTheNewDpisLayoutFontsAndShortening) {
    NativeUpgradeWindow view(GetModuleHandleA(nullptr), "Kelvaro");
    HWND window = view.Window();
    auto child = [&](Control c) { return GetDlgItem(window, 100 + static_cast<int>(c)); };
    MoveToDpi(window, SIZE{S(441), S(144)});

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, S(441));
    EXPECT_EQ(client.bottom, S(144));
    EXPECT_TRUE(At(child(Control::Label1), 8, 8, 8 + 425, 8 + 25));
    EXPECT_TRUE(At(child(Control::edPath), 8, 64, 8 + 393, 64 + 21));
    EXPECT_TRUE(At(child(Control::Image1), 352, 4, 352 + 84, 4 + 55));
    EXPECT_TRUE(At(child(Control::bnExit), 328, 108, 328 + 75, 108 + 25));
    EXPECT_EQ(FontHeight(child(Control::Label1)), -S(19));
    EXPECT_EQ(FontHeight(child(Control::bnExit)), -S(11));

    // The view still speaks 96-DPI pixels: 50 less are 75 pixels less, and the bottom row
    // moves up by as much.
    view.SetOuterHeight(view.OuterHeight() - 50);
    GetClientRect(window, &client);
    EXPECT_EQ(client.bottom, S(144) - S(50));
    EXPECT_EQ(ChildRect(child(Control::bnExit)).top, S(108) - S(50));
}

TEST(DpiChange, TheChoiceDialogPlacesItsEntriesAgainInTheNewFont) {
    NativeChoiceDialog dialog(GetModuleHandleA(nullptr), nullptr);
    dialog.AddButton(0, 20, 43, 20, 20);
    dialog.AddLabel(0, 45, 47, "d:\\Kelvaro3\\");
    dialog.MoveCancel(143, 100);
    // The dialog: this thread's window with the entry button.
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), WithEntry, reinterpret_cast<LPARAM>(&window));
    ASSERT_TRUE(window);
    HWND entry = GetDlgItem(window, 1000);
    HWND label = GetDlgItem(window, 0xFFFF);
    HWND cancel = GetDlgItem(window, IDCANCEL);
    MoveToDpi(window, SIZE{S(420), S(180)});

    EXPECT_TRUE(At(entry, 20, 43, 40, 63));
    EXPECT_TRUE(At(cancel, 143, 100, 143 + 113, 100 + 33));
    EXPECT_EQ(FontHeight(label), -S(11));
    const RECT r = ChildRect(label);
    EXPECT_EQ(r.left, S(45));
    EXPECT_EQ(r.top, S(47));
    EXPECT_EQ(dialog.ClientWidth(), 420); // in 96-DPI pixels, as its logic reads it
}
