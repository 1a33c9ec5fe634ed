/* What a screen reader hears from a window of another program, through MSAA:
 *     accessible_names.exe CLASS [TITLE]
 * finds the visible top-level window of class CLASS (and title TITLE) and prints, for each visible child that
 * takes the focus (WS_TABSTOP), in z-order, one line "CLASS|TEXT|NAME" with the control's window
 * class, its window text and the name AccessibleObjectFromWindow and get_accName give for it,
 * then "focus|TEXT|NAME" for the control that has the keyboard focus in that window's thread.
 * Exit 1 when there is no such window. */
#define COBJMACROS
#include <windows.h>
#include <oleacc.h>

#include <stdio.h>

/* IAccessible's interface id, held here: the x86-64 import library of oleacc exports the name
 * IID_IAccessible as a code thunk, so a program linked against it would hand a piece of machine
 * code to AccessibleObjectFromWindow as the interface id (and get no object). */
static const IID accessible_iid = {0x618736e0, 0x3c3d, 0x11cf,
                                   {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

static void print_utf8(const WCHAR *text)
{
    char out[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL);
    fputs(n > 0 ? out : "", stdout);
}

static void print_control(const char *label, HWND control)
{
    WCHAR text[512] = L"", cls[64] = L"";
    IAccessible *acc = NULL;
    BSTR name = NULL;
    VARIANT self;
    GetClassNameW(control, cls, 64);
    GetWindowTextW(control, text, 512);
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    if (SUCCEEDED(AccessibleObjectFromWindow(control, (DWORD)OBJID_CLIENT, &accessible_iid,
                                             (void **)&acc)) &&
        acc) {
        if (IAccessible_get_accName(acc, self, &name) != S_OK)
            name = NULL;
        IAccessible_Release(acc);
    }
    print_utf8(label ? L"" : cls);
    if (label)
        fputs(label, stdout);
    fputs("|", stdout);
    print_utf8(text);
    fputs("|", stdout);
    print_utf8(name ? name : L"");
    fputs("\n", stdout);
    if (name)
        SysFreeString(name);
}

static BOOL CALLBACK each_child(HWND child, LPARAM parent)
{
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (GetParent(child) == (HWND)parent && (style & WS_VISIBLE) && (style & WS_TABSTOP))
        print_control(NULL, child);
    return TRUE;
}

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, argv[1], argc == 3 ? argv[2] : NULL)) &&
           !IsWindowVisible(window)) {
    }
    if (!window)
        return 1;
    CoInitialize(NULL);
    EnumChildWindows(window, each_child, (LPARAM)window);
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) && info.hwndFocus)
        print_control("focus", info.hwndFocus);
    else
        fputs("focus||\n", stdout);
    fflush(stdout);
    CoUninitialize();
    return 0;
}
