// The shortcuts to the installed program: one on the user's desktop, one at the top of the
// user's start menu.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace klv::util {

// Receives the texts of shortcuts that could not be made; optional.
using ReportCallback = std::function<void(const std::string&)>;

// Replaces "<linkName>.lnk" on the desktop and in the start menu with a link to
// "<programFolder>\<programName>.exe". With `onlyReplace` a shortcut is written only where
// one existed. Failures go to `report` (when set) and no further.
void CreateShortcuts(std::string_view programFolder, std::string_view programName,
                     std::string_view linkName, bool onlyReplace,
                     const ReportCallback& report = {});

} // namespace klv::util
