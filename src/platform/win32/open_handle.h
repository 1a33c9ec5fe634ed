// The one place a file is opened on Windows: every other file of the platform asks here.
#pragma once

#include <windows.h>

#include <string>

namespace klv::platform::win32 {

// CreateFileW on `path` (in its WidePath form); INVALID_HANDLE_VALUE with the last error set
// when it cannot be opened.
HANDLE OpenHandle(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags = FILE_ATTRIBUTE_NORMAL);

} // namespace klv::platform::win32
