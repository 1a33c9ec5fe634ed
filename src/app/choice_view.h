// The choice dialog as its logic sees it: a heading, one small button and one label per entry,
// the cancel button, and its size. The native dialog (win32/) implements it; logic tests use
// a fake. Lengths are pixels at 96 DPI, which the native dialog scales to the DPI it is shown
// at; the dialog's own size is its outer size.
#pragma once

#include <string_view>

namespace klv::app {

class ChoiceView {
  public:
    virtual ~ChoiceView() = default;
    virtual void SetCaption(std::string_view caption) = 0;
    virtual void SetHeading(std::string_view heading) = 0;
    // The bottom edge of the heading label (top plus height) in the client area.
    virtual int HeadingBottom() = 0;
    // A push button without caption; pressing it reports `tag` and closes the dialog with OK.
    virtual void AddButton(int tag, int left, int top, int width, int height) = 0;
    // A label showing `text`, sized to its text; returns the width it took.
    virtual int AddLabel(int tag, int left, int top, std::string_view text) = 0;
    virtual int Width() = 0;
    virtual int Height() = 0;
    // The outer size; the width is kept within the dialog's minimum and maximum.
    virtual void SetSize(int width, int height) = 0;
    virtual int ClientWidth() = 0;
    virtual int ClientHeight() = 0;
    // The cancel button (tag -1): its size and position.
    virtual int CancelWidth() = 0;
    virtual int CancelHeight() = 0;
    virtual void MoveCancel(int left, int top) = 0;
    // Shows the dialog modally. True when it closed with OK; `pressedTag` then holds the tag of
    // the button that closed it. The close box gives false.
    virtual bool ShowModal(int& pressedTag) = 0;
};

} // namespace klv::app
