// The engine's prompt: a modal dialog made from an in-memory template, with the question
// icon, the text and one button per answer, centred on the screen.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/prompts.h"
#include "platform/win32/dialog_template.h"

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
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32514))),
                            0);
        CentreOnScreen(dialog);
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
    default:
        return FALSE;
    }
}

} // namespace

PromptButton ShowNativePrompt(const std::u16string& text,
                              const std::vector<PromptButton>& buttons) {
    const short buttonWidth = 50, gap = 4;
    const short count = static_cast<short>(buttons.size());
    const short rowWidth = static_cast<short>(count * buttonWidth + (count - 1) * gap);
    const short width = std::max<short>(static_cast<short>(rowWidth + 16), 220);
    const std::wstring wtext(text.begin(), text.end());

    DialogTemplate t;
    t.Dialog(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, width, 70, L"Confirm");
    t.Item(SS_ICON, 8, 8, 21, 20, kIconId, kStaticClass, L"");
    t.Item(SS_LEFT | SS_NOPREFIX, 38, 10, static_cast<short>(width - 46), 30, kTextId, kStaticClass,
           wtext);
    short x = static_cast<short>((width - rowWidth) / 2);
    for (short i = 0; i < count; ++i) {
        t.Item((i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP, x, 48, buttonWidth, 14,
               static_cast<WORD>(kFirstButton + i), kButtonClass,
               Caption(buttons[static_cast<std::size_t>(i)]));
        x = static_cast<short>(x + buttonWidth + gap);
    }
    PromptState state{buttons, -1};
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), GetActiveWindow(), PromptProc,
                            reinterpret_cast<LPARAM>(&state));
    if (state.choice >= 0) return buttons[static_cast<std::size_t>(state.choice)];
    for (PromptButton b : {PromptButton::Cancel, PromptButton::Abort, PromptButton::No})
        if (std::find(buttons.begin(), buttons.end(), b) != buttons.end()) return b;
    return buttons.empty() ? PromptButton::Cancel : buttons.back();
}

} // namespace klv::platform
