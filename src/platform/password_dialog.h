// The password prompt for encrypted archive items: a small modal dialog with a hidden-text
// edit field, OK and Cancel. All text is 8-bit ANSI.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace klv::platform {

// Asks for a password in a modal dialog centred on the screen, titled `caption`, with `label`
// above an empty edit field. OK gives true and the edit text in `password`; Cancel or closing
// the dialog gives false and leaves `password` as it was. Without a window system (the Linux
// build) there is no dialog: the answer is false unless a script is set.
bool AskPassword(const std::string& caption, const std::string& label, std::string& password);

// Replaces the prompt in both builds (for tests and non-interactive runs); an empty function
// restores the real prompt. The script gets the caption and label and answers as the dialog
// would.
using PasswordPromptScript = std::function<bool(const std::string& caption,
                                                const std::string& label, std::string& password)>;
void SetPasswordPromptScript(PasswordPromptScript script);
// The system's own prompt, behind AskPassword when no script is set.
bool AskPasswordNative(const std::string& caption, const std::string& label, std::string& password);

#ifdef _WIN32
// The dialog as it came out of its template, for checking the layout: the dialog is made
// hidden and modeless, measured and destroyed again. Rectangles are in pixels, relative to the
// dialog's client area; `unitX` and `unitY` are the pixels of 4 horizontal and 8 vertical
// dialog units.
struct PasswordDialogControl {
    int id = 0;
    std::string className;
    std::string text;
    unsigned long style = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
};
struct PasswordDialogLayout {
    std::string caption;
    int clientWidth = 0, clientHeight = 0;
    int unitX = 0, unitY = 0;
    int windowLeft = 0, windowTop = 0, windowRight = 0, windowBottom = 0;
    int screenWidth = 0, screenHeight = 0;
    int defaultId = 0;
    int editLimit = 0;
    int passwordChar = 0;
    std::vector<PasswordDialogControl> controls;
};
// False when the dialog cannot be made (no window station, for instance).
bool ProbePasswordDialog(const std::string& caption, const std::string& label,
                         PasswordDialogLayout& layout);
#endif

} // namespace klv::platform
