/* The layout of a window of another program as the system has it, in physical pixels:
 *     window_layout.exe CLASS TITLE PIXELS [ID:PIXELS ...]
 * finds the visible top-level window of class CLASS and title TITLE and prints
 *     window|DPI|AWARENESS|OUTER WIDTH|OUTER HEIGHT|CLIENT WIDTH|CLIENT HEIGHT
 * (the window's DPI and DPI awareness as the system keeps them: 0 unaware, 1 system, 2 per
 * monitor), then for each visible child, in z-order,
 *     child|CLASS|ID|LEFT|TOP|WIDTH|HEIGHT|TEXT WIDTH|TEXT HEIGHT
 * with its rectangle in the window's client area and the size its text takes in "MS Sans
 * Serif" of PIXELS character height (or the PIXELS given for its ID): on one line, or, for a
 * static that wraps its text, wrapped at its width. Exit 1 when there is no such window.
 * The program is per-monitor DPI aware itself, so that nothing it reads is scaled for it. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static int font_pixels(int id, int argc, char **argv)
{
    for (int i = 4; i < argc; ++i)
        if (atoi(argv[i]) == id && strchr(argv[i], ':'))
            return atoi(strchr(argv[i], ':') + 1);
    return atoi(argv[3]);
}

struct context {
    HWND parent;
    int argc;
    char **argv;
};

static BOOL CALLBACK each_child(HWND child, LPARAM param)
{
    const struct context *c = (const struct context *)param;
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (GetParent(child) != c->parent || !(style & WS_VISIBLE))
        return TRUE;
    char cls[64] = "", text[512] = "";
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(NULL, c->parent, (POINT *)&r, 2);
    const int id = GetDlgCtrlID(child);
    HFONT font = CreateFontA(-font_pixels(id, c->argc, c->argv), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    const BOOL isStatic = lstrcmpiA(cls, "Static") == 0;
    const BOOL wraps = isStatic && (style & SS_TYPEMASK) == SS_LEFT;
    UINT format = DT_CALCRECT | DT_LEFT | (wraps ? DT_WORDBREAK : DT_SINGLELINE);
    if (isStatic && (style & SS_NOPREFIX))
        format |= DT_NOPREFIX;
    RECT t = {0, 0, wraps ? r.right - r.left : 0, 0};
    if (text[0])
        DrawTextA(dc, text, -1, &t, format);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    DeleteObject(font);
    printf("child|%s|%d|%ld|%ld|%ld|%ld|%ld|%ld\n", cls, id, r.left, r.top, r.right - r.left,
           r.bottom - r.top, t.right - t.left, t.bottom - t.top);
    return TRUE;
}

typedef BOOL(WINAPI *set_context_fn)(HANDLE);
typedef UINT(WINAPI *dpi_for_window_fn)(HWND);
typedef HANDLE(WINAPI *window_context_fn)(HWND);
typedef int(WINAPI *awareness_fn)(HANDLE);

int main(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    HMODULE user32 = GetModuleHandleA("user32.dll");
    set_context_fn set_context =
        (set_context_fn)(void *)GetProcAddress(user32, "SetProcessDpiAwarenessContext");
    if (!set_context || !set_context((HANDLE)-4 /* per monitor v2 */))
        SetProcessDPIAware();
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, argv[1], argv[2])) && !IsWindowVisible(window)) {
    }
    if (!window)
        return 1;
    dpi_for_window_fn dpi_for_window =
        (dpi_for_window_fn)(void *)GetProcAddress(user32, "GetDpiForWindow");
    window_context_fn window_context =
        (window_context_fn)(void *)GetProcAddress(user32, "GetWindowDpiAwarenessContext");
    awareness_fn awareness =
        (awareness_fn)(void *)GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext");
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    printf("window|%u|%d|%ld|%ld|%ld|%ld\n", dpi_for_window ? dpi_for_window(window) : 0,
           window_context && awareness ? awareness(window_context(window)) : -1,
           outer.right - outer.left, outer.bottom - outer.top, client.right, client.bottom);
    struct context c = {window, argc, argv};
    EnumChildWindows(window, each_child, (LPARAM)&c);
    fflush(stdout);
    return 0;
}
