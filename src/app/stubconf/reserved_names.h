// The prefix of the names the installation run keeps for itself inside the installation
// folder (its staging and backup folders and its journal): no part of a payload item's path
// may begin with it (item_names.h).
#pragma once

#include <string_view>

namespace klv::stubconf {

inline constexpr std::u16string_view ReservedPrefix = u"~klvupgrade.";

} // namespace klv::stubconf
