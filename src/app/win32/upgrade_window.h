// TUpgradeForm's native window: a top-level window with its controls at the stored pixel
// positions (96-DPI pixels, scaled to the window's DPI: dpi.h), implementing the view the
// window's logic talks to; the view's lengths are 96-DPI pixels at every DPI. Window events (paint,
// timer, clicks) go to one event handler; an exception leaving it is handed to the error handler,
// the application's default error handler, and the message loop goes on.
#pragma once

#include <windows.h>

#include <array>
#include <exception>
#include <functional>
#include <optional>

#include "app/view.h"
#include "app/win32/dpi.h"
#include "app/win32/gui.h"
#include "app/win32/picture.h"

namespace klv::app::win32 {

enum class WindowEvent { Paint, Timer, Click };

class NativeUpgradeWindow final : public UpgradeView {
  public:
    using EventHandler = std::function<void(WindowEvent event, Control sender)>;
    using ErrorHandler = std::function<void(std::exception_ptr error)>;

    // Creates the window, hidden, centred on the screen, with `caption`; Timer1 runs.
    NativeUpgradeWindow(HINSTANCE instance, std::string_view caption);
    ~NativeUpgradeWindow() override;
    NativeUpgradeWindow(const NativeUpgradeWindow&) = delete;
    NativeUpgradeWindow& operator=(const NativeUpgradeWindow&) = delete;

    void Connect(EventHandler events, ErrorHandler errors);
    void Show(int showCommand);
    HWND Window() const { return window_.get(); }

    std::string Caption() override;
    void SetCaption(std::string_view caption) override;
    std::string Text(Control control) override;
    void SetText(Control control, std::string_view text) override;
    bool Visible(Control control) override;
    void SetVisible(Control control, bool visible) override;
    bool Enabled(Control control) override;
    void SetEnabled(Control control, bool enabled) override;
    void FocusWhenEnabled(Control control) override;
    bool Checked(Control control) override;
    void SetChecked(Control control, bool checked) override;
    int OuterHeight() override;
    void SetOuterHeight(int height) override;
    bool LoadPicture(std::string_view path) override;
    void Repaint() override;
    void RepaintControl(Control control) override;
    bool BrowseForFolder(std::string_view start, std::string& chosen) override;
    void SetTimerEnabled(bool enabled) override;
    void Close() override;
    platform::WindowHandle Handle() override;
    std::unique_ptr<ChoiceView> NewChoiceDialog() override;

  private:
    template <class Owner>
    friend LRESULT CALLBACK OwnerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The one place where window events reach the logic.
    void Dispatch(WindowEvent event, Control sender);
    void KeepAnchors();
    // The fonts for dpi_, given to the controls; the picture at dpi_ (the program's icon made
    // anew at its size, the package's picture drawn larger).
    void MakeFonts();
    void ShowPictureAtDpi();
    // WM_DPICHANGED: the window at its new DPI, in the system's `suggested` rectangle.
    void ChangeDpi(int dpi, const RECT& suggested);
    HWND Child(Control control) const { return children_[static_cast<std::size_t>(control)]; }

    HINSTANCE instance_;
    OwnedIcon icon_;
    GdiObject<HFONT> font_;
    GdiObject<HFONT> headingFont_;
    std::optional<Picture> picture_;
    bool ownPicture_ = true; // the program's icon, not a picture file of the package
    int dpi_ = kBaseDpi;
    OwnedWindow window_;
    std::array<HWND, 9> children_{};
    EventHandler events_;
    ErrorHandler errors_;
    // A focus asked for while its control was disabled, and where the focus was then.
    HWND pendingFocus_ = nullptr;
    HWND focusAtRequest_ = nullptr;
};

// Runs the message loop of the application until it is asked to end; the exit code.
int RunMessageLoop(NativeUpgradeWindow& window);

} // namespace klv::app::win32
