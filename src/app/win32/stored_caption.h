// The window caption stored in the executable's data block (see stubconf/stored_caption.h).
#pragma once

#include <string>

namespace klv::app::win32 {

// The text behind the marker, up to its NUL.
std::string StoredCaptionText();

} // namespace klv::app::win32
