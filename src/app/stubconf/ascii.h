// Trimming and A-Z case for the rules of this layer, which may include nothing else; util and
// app use util/ascii_text.h, which follows the same rules.
#pragma once

#include <algorithm>
#include <string_view>
#include <type_traits>

namespace klv::stubconf {

// A-Z lower-cased; every other unit unchanged.
template <class Char> constexpr Char LowerAscii(Char c) {
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

// `text` without blanks and control characters (codes 0 to 32) at either end.
constexpr std::string_view TrimmedView(std::string_view text) {
    constexpr auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace klv::stubconf
