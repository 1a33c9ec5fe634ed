// The choice dialog: the user picks one of several folders.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/choice_view.h"

namespace klv::app {

// The index the choice dialog's buttons set: the chosen entry, or -1 for the cancel button.
extern int ChosenIndex;

// Shows `list` in a new choice dialog made by `view` with `caption` and `heading`; the chosen
// entry, or an empty string when nothing was chosen.
std::string ChooseFromList(std::unique_ptr<ChoiceView> view, const std::vector<std::string>& list,
                           std::string_view caption, std::string_view heading);

} // namespace klv::app
