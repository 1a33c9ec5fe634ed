#include <windows.h>

#include <string>

#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

class RealKeyboardImpl final : public Keyboard {
  public:
    std::int16_t AsyncKeyState(int key) override { return GetAsyncKeyState(key); }
};

class RealWindowSystemImpl final : public WindowSystem {
  public:
    int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override {
        std::string t(text), c(caption);
        return MessageBoxA(GetActiveWindow(), t.c_str(), c.c_str(), flags);
    }

    void ProcessMessages() override {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Leave the request to end for the message loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    void SetCursorShape(Cursor cursor) override {
        SetCursor(LoadCursor(nullptr, cursor == Cursor::HourGlass ? IDC_WAIT : IDC_ARROW));
    }

    void Terminate() override { PostQuitMessage(0); }
};

} // namespace

Keyboard& RealKeyboard() {
    static RealKeyboardImpl keyboard;
    return keyboard;
}

WindowSystem& RealWindowSystem() {
    static RealWindowSystemImpl windows;
    return windows;
}

} // namespace klv::platform::win32
