// The installer window as its logic sees it: the controls by name, and the few things of the
// window system that belong to the window (repaint, picture, folder dialog, timer, closing).
// The native window (win32/) implements it; logic tests use a fake view.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/choice_view.h"
#include "platform/system.h"

namespace klv::app {

// The window's controls, named as stored.
enum class Control {
    Label1,
    Label2,
    Image1,
    bnExtract,
    bnExit,
    edPath,
    bnSelectDestPath,
    zoeklocs,
    MakeShortcuts,
};

class UpgradeView {
  public:
    virtual ~UpgradeView() = default;

    // The window caption (8-bit ANSI, as all texts here).
    virtual std::string Caption() = 0;
    virtual void SetCaption(std::string_view caption) = 0;
    // The text of a label, button, check box or the edit field.
    virtual std::string Text(Control control) = 0;
    virtual void SetText(Control control, std::string_view text) = 0;
    virtual bool Visible(Control control) = 0;
    virtual void SetVisible(Control control, bool visible) = 0;
    virtual bool Enabled(Control control) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    // The check box's state (MakeShortcuts).
    virtual bool Checked(Control control) = 0;
    virtual void SetChecked(Control control, bool checked) = 0;

    // The window's outer height in pixels at 96 DPI (the native window scales the lengths of
    // this view to the DPI it is shown at). A change keeps the bottom-anchored controls at their
    // distance from the bottom edge.
    virtual int OuterHeight() = 0;
    virtual void SetOuterHeight(int height) = 0;

    // Loads a bitmap, JPEG or icon file (by its extension) into Image1, drawn at its top left
    // and clipped; false when the file cannot be read as such a picture (the picture stays).
    virtual bool LoadPicture(std::string_view path) = 0;

    // Repaints the whole window at once, or one control.
    virtual void Repaint() = 0;
    virtual void RepaintControl(Control control) = 0;

    // The system's modal folder dialog, opened at `start`, without a new-folder button; true
    // and the folder in `chosen` when the user confirms one.
    virtual bool BrowseForFolder(std::string_view start, std::string& chosen) = 0;

    // Puts the keyboard focus on `control` as soon as it can take it: now, or when it is next
    // enabled, unless the focus moved in between.
    virtual void FocusWhenEnabled(Control control) { (void)control; }

    // Timer1: on (every 200 ms) or off.
    virtual void SetTimerEnabled(bool enabled) = 0;

    // Closes the window (the application ends when the message loop sees the request).
    virtual void Close() = 0;

    // The application's window, owner of started programs and boxes.
    virtual platform::WindowHandle Handle() = 0;

    // A new choice dialog, owned by this window, not yet shown.
    virtual std::unique_ptr<ChoiceView> NewChoiceDialog() = 0;
};

} // namespace klv::app
