#pragma once

#include <cstddef>
#include <string_view>

// Case services for 8-bit text in the ANSI code page (1252 on Linux builds).
namespace klv::platform {

// Upper-cases `length` bytes at `text` in place with the system's ANSI case mapping.
void UpperAnsiInPlace(char* text, std::size_t length);
// True when the two texts are equal without regard to case, in the user's locale.
bool SameTextAnsi(std::string_view a, std::string_view b);

} // namespace klv::platform
