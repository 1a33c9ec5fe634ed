/* Keeps Wine's desktop process of a test prefix alive: the desktop ends about a second after
 * its last program, and starting it anew with the next program's first window now and then
 * fails to reach the display. One hidden window, never shown (so no test sees it), and a
 * message loop until the prefix's wineserver ends it. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)previous;
    (void)command_line;
    (void)show;
    HWND window = CreateWindowW(L"STATIC", L"klv-desktop-keeper", WS_POPUP, 0, 0, 1, 1, NULL,
                                NULL, instance, NULL);
    if (window == NULL)
        return 1;
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
