// Trimming and A-Z case for 8-bit and 16-bit text: the one rule for every layer (header-only,
// the standard library only, so that app/stubconf, which includes nothing else, shares it).
#pragma once

#include <algorithm>
#include <concepts>
#include <string_view>
#include <type_traits>

namespace klv::platform {

// The characters a trim removes: the blank and every control character (codes 0 to 32).
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

// A-Z lower-cased; every other unit, ANSI letters included, unchanged.
template <std::integral Char> constexpr Char LowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// True when the two texts are equal with A-Z compared without regard to case.
template <class Char>
constexpr bool SameAsciiNoCase(std::basic_string_view<Char> a,
                               std::type_identity_t<std::basic_string_view<Char>> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](Char x, Char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

} // namespace klv::platform
