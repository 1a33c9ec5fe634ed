#pragma once

#include <string>
#include <string_view>

// Text services. Wide text is UTF-16 (std::u16string); 8-bit text is in the ANSI code page
// (1252) unless a function says otherwise; OEM text is code page 850 on Linux builds and the
// system's OEM code page on Windows.
namespace klv::platform {

std::string OemToAnsi(std::string_view oem);
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

// The system's case mapping, one UTF-16 unit at a time.
char16_t UpperUnit(char16_t c);
char16_t LowerUnit(char16_t c);
std::u16string LowerCase(std::u16string_view text);
std::u16string UpperCase(std::u16string_view text);

// Compares two single units with the user's locale collation, no flags: true when equal.
bool SameInLocale(char16_t a, char16_t b);

} // namespace klv::platform
