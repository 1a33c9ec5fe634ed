// Trimming and A-Z case for 8-bit text, the same rules for every caller in util and app.
// (app/stubconf, which may include nothing else, keeps its own in app/stubconf/ascii.h.)
#pragma once

#include <string>
#include <string_view>

namespace klv::util {

// The characters Trim removes: the blank and every control character (codes 0 to 32).
constexpr bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// `text` without blanks and control characters at either end.
constexpr std::string_view TrimmedView(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

inline std::string Trim(std::string_view text) {
    return std::string(TrimmedView(text));
}

// A-Z lower-cased; every other byte, ANSI letters included, unchanged.
constexpr char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = LowerAscii(c);
    return result;
}

} // namespace klv::util
