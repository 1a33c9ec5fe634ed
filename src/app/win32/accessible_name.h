// The name a screen reader speaks for a control whose own text does not say what it is (the
// "..." button, the choice dialog's empty entry buttons) or that has no text of its own (the
// folder field). The control answers the accessibility query (WM_GETOBJECT) with the system's
// own accessible object for it, its name replaced; look, text and tab order stay as they are.
// Without the system's accessibility library the control keeps the system's answer.
#pragma once

#include <windows.h>

#include <string_view>

namespace klv::app::win32 {

// `control` is named `name` (ANSI).
void SetAccessibleName(HWND control, std::string_view name);

} // namespace klv::app::win32
