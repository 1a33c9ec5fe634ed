// Substring search in 8-bit text, forwards or backwards, with or without regard to case.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace klv::util {

// Entry i is the upper-case form of byte i under the system's ANSI case mapping; entry 0 is 0.
// Built on first use, not at start-up: the installer may load no system DLL before it has
// restricted where DLLs are searched.
struct UpperCaseTable {
    unsigned char operator[](std::size_t byte) const;
};
inline constexpr UpperCaseTable UpperCaseMap{};

// The 1-based position in `source` where `searchText` occurs, 0 when it does not (or when
// `searchText` is empty or longer than the part of `source` searched).
// Forwards: the first occurrence that starts at or after `startPos` (which must be 1 or more).
// Backwards: the last one that starts at or before `startPos`; a `startPos` of 0, or one at
// which `startPos` plus the search length reaches the source length, means the last possible
// start. Without `caseSensitive` characters compare through UpperCaseMap.
int SmartFind(std::string_view searchText, std::string_view source, bool caseSensitive,
              int startPos, bool forward);

} // namespace klv::util
