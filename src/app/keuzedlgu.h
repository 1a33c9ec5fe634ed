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

// The choice dialog's logic over its view: one small button and a label per entry below the
// heading, the dialog grown to hold them, the cancel button centred at the bottom.
class TKeuzedlgf {
  public:
    // The stored limits of the dialog's outer width.
    static constexpr int MinWidth = 400;
    static constexpr int MaxWidth = 2000;

    explicit TKeuzedlgf(ChoiceView& view) : view_(view) {}

    // Builds the entries of `list` and shows the dialog modally; true when it closed with OK.
    bool ShowChoices(const std::vector<std::string>& list);
    // Every button's click: the pressed button's tag becomes ChosenIndex.
    void cancelClick(int tag);

  private:
    ChoiceView& view_;
};

// Shows `list` in a new choice dialog made by `view` with `caption` and `heading`; the chosen
// entry, or an empty string when nothing was chosen.
std::string ChooseFromList(std::unique_ptr<ChoiceView> view, const std::vector<std::string>& list,
                           std::string_view caption, std::string_view heading);

} // namespace klv::app
