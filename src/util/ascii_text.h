// Trimming and A-Z case for 8-bit text in util and app: the rule of platform/ascii.h, and the
// forms that return a new string.
#pragma once

#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace klv::util {

using platform::LowerAscii;
using platform::TrimmedView;

inline std::string Trim(std::string_view text) {
    return std::string(TrimmedView(text));
}

inline std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = LowerAscii(c);
    return result;
}

} // namespace klv::util
