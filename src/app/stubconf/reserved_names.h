// Names the installation run keeps for itself inside the installation folder (its staging and
// backup folders and its journal): no payload item may use them.
#pragma once

#include <string_view>

namespace klv::stubconf {

inline constexpr std::u16string_view ReservedPrefix = u"~klvupgrade.";

// True when the first component of `name` ('\' or '/' separated) begins with ReservedPrefix,
// compared without regard to case.
inline bool IsReservedName(std::u16string_view name) {
    while (!name.empty() && (name.front() == u'\\' || name.front() == u'/'))
        name.remove_prefix(1);
    if (name.size() < ReservedPrefix.size()) return false;
    for (std::size_t i = 0; i < ReservedPrefix.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != ReservedPrefix[i]) return false;
    }
    return true;
}

} // namespace klv::stubconf
