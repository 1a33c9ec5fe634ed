#include <algorithm>

#include "platform/prompts.h"

namespace klv::platform {

// No window system here: the answer is the one Escape would give.
PromptButton ShowNativePrompt(const std::u16string&, const std::vector<PromptButton>& buttons) {
    for (PromptButton b : {PromptButton::Cancel, PromptButton::Abort, PromptButton::No})
        if (std::find(buttons.begin(), buttons.end(), b) != buttons.end()) return b;
    return buttons.empty() ? PromptButton::Cancel : buttons.back();
}

} // namespace klv::platform
