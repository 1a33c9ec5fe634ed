// The choice dialog: the user picks one of several folders.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/choice_view.h"

namespace klv::app {

// The choice dialog's logic over its view: one small button and a label per entry below the
// heading, the dialog grown to hold them, the cancel button centred at the bottom.
class TKeuzedlgf {
  public:
    // The stored limits of the dialog's outer width.
    static constexpr int MinWidth = 400;
    static constexpr int MaxWidth = 2000;

    // `chosenIndex` is the run's ChosenIndex (RunContext): the index the buttons set, the
    // chosen entry or -1 for the cancel button.
    TKeuzedlgf(ChoiceView& view, int& chosenIndex) : view_(view), chosenIndex_(chosenIndex) {}

    // Builds the entries of `list` and shows the dialog modally; true when it closed with OK.
    bool ShowChoices(const std::vector<std::string>& list);
    // Every button's click: the pressed button's tag becomes ChosenIndex.
    void cancelClick(int tag);

  private:
    ChoiceView& view_;
    int& chosenIndex_;
};

// Shows `list` in a new choice dialog made by `view` with `caption` and `heading`; the chosen
// entry, or an empty string when nothing was chosen. The pressed button's tag goes into
// `chosenIndex`; the close box leaves it as it was.
std::string ChooseFromList(std::unique_ptr<ChoiceView> view, const std::vector<std::string>& list,
                           std::string_view caption, std::string_view heading, int& chosenIndex);

} // namespace klv::app
