// The engine's prompt: a modal dialog made from an in-memory template, with the question
// icon, the text and one button per answer, centred on the screen.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/prompts.h"

namespace klv::platform {

namespace {

const wchar_t* Caption(PromptButton b) {
    switch (b) {
    case PromptButton::Yes: return L"&Yes";
    case PromptButton::No: return L"&No";
    case PromptButton::NoToAll: return L"N&o to All";
    case PromptButton::YesToAll: return L"Yes to &All";
    case PromptButton::Abort: return L"&Abort";
    case PromptButton::Retry: return L"&Retry";
    case PromptButton::Ignore: return L"&Ignore";
    case PromptButton::Ok: return L"OK";
    case PromptButton::Cancel: return L"Cancel";
    }
    return L"";
}

constexpr WORD kFirstButton = 100;
constexpr WORD kIconId = 90;
constexpr WORD kTextId = 91;

// Appends a DLGITEMTEMPLATE (DWORD aligned) with a class atom and a title.
void AddItem(std::vector<WORD>& t, DWORD style, short x, short y, short cx, short cy, WORD id,
             WORD classAtom, const wchar_t* title) {
    if (t.size() % 2) t.push_back(0);
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    const WORD* raw = reinterpret_cast<const WORD*>(&item);
    t.insert(t.end(), raw, raw + sizeof item / sizeof(WORD));
    t.push_back(0xFFFF);
    t.push_back(classAtom);
    for (const wchar_t* p = title; *p; ++p)
        t.push_back(static_cast<WORD>(*p));
    t.push_back(0);
    t.push_back(0); // no creation data
}

struct PromptState {
    std::vector<PromptButton> buttons;
    int choice = -1;
};

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, kIconId, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32514))), 0);
        RECT r{};
        GetWindowRect(dialog, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        return TRUE;
    }
    case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        if (state && id >= kFirstButton && id < kFirstButton + state->buttons.size()) {
            state->choice = id - kFirstButton;
            EndDialog(dialog, 1);
        } else if (id == IDCANCEL) {
            EndDialog(dialog, 0);
        }
        return TRUE;
    }
    default: return FALSE;
    }
}

} // namespace

PromptButton ShowNativePrompt(const std::u16string& text, const std::vector<PromptButton>& buttons) {
    const short buttonWidth = 50, gap = 4;
    const short count = static_cast<short>(buttons.size());
    const short rowWidth = static_cast<short>(count * buttonWidth + (count - 1) * gap);
    const short width = std::max<short>(static_cast<short>(rowWidth + 16), 220);
    const std::wstring wtext(text.begin(), text.end());

    std::vector<WORD> t;
    DLGTEMPLATE head{};
    head.style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    head.cdit = static_cast<WORD>(2 + count);
    head.cx = width;
    head.cy = 70;
    const WORD* raw = reinterpret_cast<const WORD*>(&head);
    t.insert(t.end(), raw, raw + sizeof head / sizeof(WORD));
    t.push_back(0); // no menu
    t.push_back(0); // default class
    for (const wchar_t* p = L"Confirm"; *p; ++p)
        t.push_back(static_cast<WORD>(*p));
    t.push_back(0);
    t.push_back(8);
    for (const wchar_t* p = L"MS Shell Dlg"; *p; ++p)
        t.push_back(static_cast<WORD>(*p));
    t.push_back(0);
    AddItem(t, SS_ICON, 8, 8, 21, 20, kIconId, 0x0082, L"");
    AddItem(t, SS_LEFT | SS_NOPREFIX, 38, 10, static_cast<short>(width - 46), 30, kTextId, 0x0082,
            wtext.c_str());
    short x = static_cast<short>((width - rowWidth) / 2);
    for (short i = 0; i < count; ++i) {
        AddItem(t, (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP, x, 48, buttonWidth,
                14, static_cast<WORD>(kFirstButton + i), 0x0080, Caption(buttons[static_cast<std::size_t>(i)]));
        x = static_cast<short>(x + buttonWidth + gap);
    }
    PromptState state{buttons, -1};
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                            GetActiveWindow(), PromptProc, reinterpret_cast<LPARAM>(&state));
    if (state.choice >= 0) return buttons[static_cast<std::size_t>(state.choice)];
    for (PromptButton b : {PromptButton::Cancel, PromptButton::Abort, PromptButton::No})
        if (std::find(buttons.begin(), buttons.end(), b) != buttons.end()) return b;
    return buttons.empty() ? PromptButton::Cancel : buttons.back();
}

} // namespace klv::platform
