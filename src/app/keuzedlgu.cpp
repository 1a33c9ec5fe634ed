#include "app/keuzedlgu.h"

#include <algorithm>

namespace klv::app {

namespace {

// The entries' layout: a square button at the left, its label beside it, one row per entry.
constexpr int kButtonLeft = 20;
constexpr int kButtonSize = 20;
constexpr int kFirstRowGap = 10; // below the heading
constexpr int kRowPitch = 25;
constexpr int kLabelGap = 5;  // between a button and its label
constexpr int kLabelDrop = 4; // a label's top below its button's
constexpr int kNarrowestRight = 200;
constexpr int kBottomRoom = 60;  // below the last row, besides the cancel button
constexpr int kCancelMargin = 5; // below the cancel button
constexpr int kSideRoom = 40;    // right of the widest label

} // namespace

bool TKeuzedlgf::ShowChoices(const std::vector<std::string>& list) {
    int widest = kNarrowestRight;
    if (!list.empty()) {
        const int firstTop = view_.HeadingBottom() + kFirstRowGap;
        int lastBottom = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const int tag = static_cast<int>(i);
            const int top = firstTop + kRowPitch * tag;
            view_.AddButton(tag, kButtonLeft, top, kButtonSize, kButtonSize);
            const int labelLeft = kButtonLeft + kButtonSize + kLabelGap;
            const int labelWidth = view_.AddLabel(tag, labelLeft, top + kLabelDrop, list[i]);
            widest = std::max(widest, labelLeft + labelWidth);
            lastBottom = top + kButtonSize;
        }
        const int height =
            std::max(view_.Height(), lastBottom + view_.CancelHeight() + kBottomRoom);
        view_.SetSize(view_.Width(), height);
        const int cancelTop = view_.ClientHeight() - view_.CancelHeight() - kCancelMargin;
        view_.SetSize(std::clamp(widest + kSideRoom, MinWidth, MaxWidth), view_.Height());
        const int cancelLeft = (view_.ClientWidth() - view_.CancelWidth()) / 2;
        view_.MoveCancel(cancelLeft, cancelTop);
    }
    int pressed = -1;
    if (!view_.ShowModal(pressed)) return false;
    cancelClick(pressed);
    return true;
}

void TKeuzedlgf::cancelClick(int tag) {
    chosenIndex_ = tag;
}

std::string ChooseFromList(std::unique_ptr<ChoiceView> view, const std::vector<std::string>& list,
                           std::string_view caption, std::string_view heading, int& chosenIndex) {
    std::string result;
    view->SetCaption(caption);
    view->SetHeading(heading);
    TKeuzedlgf dialog(*view, chosenIndex);
    if (dialog.ShowChoices(list) && chosenIndex >= 0 && chosenIndex < static_cast<int>(list.size()))
        result = list[static_cast<std::size_t>(chosenIndex)];
    return result;
}

} // namespace klv::app
