// TKeuzedlgf's native window: a sizeable dialog owned by the installer window, made from an
// in-memory template (the heading and the cancel button), with the entries' buttons and labels
// added at pixel positions. Shown with a modal loop of its own, so the owner's timer goes on
// firing.
#pragma once

#include <windows.h>

#include <vector>

#include "app/choice_view.h"
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

    HWND owner_;
    GdiObject<HFONT> font_;
    OwnedWindow window_;
    HWND heading_ = nullptr;
    HWND cancel_ = nullptr;
    int headingWidthAtRest_ = 0; // the heading's width at the stored client width
    int clientWidthAtRest_ = 0;
    bool done_ = false;
    bool ok_ = false;
    int pressedTag_ = -1;
};

} // namespace klv::app::win32
