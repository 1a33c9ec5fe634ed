#pragma once

#include <string>

namespace klv::platform {

// True when `path` names an existing file (not a folder).
bool FileExists(const std::u16string& path);
// True when `path` names an existing folder.
bool DirectoryExists(const std::u16string& path);
// True when the path's drive is A: or B:, or a drive that the system reports as removable.
bool IsRemovableDrive(const std::u16string& path);

} // namespace klv::platform
