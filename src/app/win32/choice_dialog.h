// TKeuzedlgf's native window: a sizeable dialog owned by the installer window, made from an
// in-memory template (the heading and the cancel button), with the entries' buttons and labels
// added at pixel positions. Its view speaks 96-DPI pixels; the dialog scales them to its DPI
// (dpi.h) and lays itself out again when that changes. Shown with a modal loop of its own, so
// the owner's timer goes on firing.
#pragma once

#include <windows.h>

#include <vector>

#include "app/choice_view.h"
#include "app/win32/dpi.h"
#include "app/win32/gui.h"

namespace klv::app::win32 {

class NativeChoiceDialog final : public ChoiceView {
  public:
    NativeChoiceDialog(HINSTANCE instance, HWND owner);
    ~NativeChoiceDialog() override;
    NativeChoiceDialog(const NativeChoiceDialog&) = delete;
    NativeChoiceDialog& operator=(const NativeChoiceDialog&) = delete;

    void SetCaption(std::string_view caption) override;
    void SetHeading(std::string_view heading) override;
    int HeadingBottom() override;
    void AddButton(int tag, int left, int top, int width, int height) override;
    int AddLabel(int tag, int left, int top, std::string_view text) override;
    int Width() override;
    int Height() override;
    void SetSize(int width, int height) override;
    int ClientWidth() override;
    int ClientHeight() override;
    int CancelWidth() override;
    int CancelHeight() override;
    void MoveCancel(int left, int top) override;
    bool ShowModal(int& pressedTag) override;

  private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Press(int tag);
    // The width in pixels of a label showing `text` in the dialog's font, and its height.
    SIZE LabelSize(std::string_view text);
    void FitHeading(int clientWidth);
    void ChangeDpi(int dpi, const RECT& suggested);

    // A control the logic added, where it put it (96-DPI pixels); a label's width is its text's.
    struct Added {
        HWND window;
        RECT rect;
        bool label;
    };

    HWND owner_;
    int dpi_ = kBaseDpi;
    GdiObject<HFONT> font_;
    OwnedWindow window_;
    HWND heading_ = nullptr;
    HWND cancel_ = nullptr;
    POINT cancelAt_{}; // the cancel button's position, 96-DPI pixels
    std::vector<Added> added_;
    int headingMargin_ = 0; // from the heading's right end to the client area's, in pixels
    bool done_ = false;
    bool ok_ = false;
    int pressedTag_ = -1;
};

} // namespace klv::app::win32
