#include "platform/win32/dialog_template.h"

namespace klv::platform {

void DialogTemplate::Dialog(DWORD style, short cx, short cy, std::wstring_view caption,
                            std::wstring_view font, WORD pointSize, DWORD exStyle) {
    words_.clear();
    PutDword(style | DS_SETFONT);
    PutDword(exStyle);
    countAt_ = words_.size();
    Put(0);         // item count, raised by Item()
    Put(0), Put(0); // x, y
    Put(static_cast<WORD>(cx)), Put(static_cast<WORD>(cy));
    Put(0); // no menu
    Put(0); // the standard dialog class
    PutText(caption);
    Put(pointSize);
    PutText(font);
}

void DialogTemplate::Item(DWORD style, short x, short y, short cx, short cy, WORD id,
                          WORD classAtom, std::wstring_view text) {
    if (words_.size() % 2) // DWORD alignment
        Put(0);
    PutDword(style | WS_CHILD | WS_VISIBLE);
    PutDword(0); // extended style
    Put(static_cast<WORD>(x)), Put(static_cast<WORD>(y));
    Put(static_cast<WORD>(cx)), Put(static_cast<WORD>(cy));
    Put(id);
    Put(0xFFFF), Put(classAtom);
    PutText(text);
    Put(0); // no creation data
    ++words_[countAt_];
}

void DialogTemplate::PutDword(DWORD d) {
    Put(LOWORD(d));
    Put(HIWORD(d));
}

void DialogTemplate::PutText(std::wstring_view s) {
    for (wchar_t c : s)
        Put(static_cast<WORD>(c));
    Put(0);
}

void CentreOnScreen(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace klv::platform
