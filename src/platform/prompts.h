#pragma once

#include <functional>
#include <string>
#include <vector>

// The archive engine's own prompts: a modal box with the question icon, a text and a row of
// buttons (also the combinations a plain message box lacks, such as "No to All").
namespace klv::platform {

enum class PromptButton { Yes, No, NoToAll, YesToAll, Abort, Retry, Ignore, Ok, Cancel };

PromptButton ShowPrompt(const std::u16string& text, const std::vector<PromptButton>& buttons);

// Replaces the window with scripted answers (tests); an empty function restores the window.
using PromptScript =
    std::function<PromptButton(const std::u16string& text, const std::vector<PromptButton>& buttons)>;
void SetPromptScript(PromptScript script);

// The system's own answer when no window can be shown: what Escape would choose.
PromptButton ShowNativePrompt(const std::u16string& text, const std::vector<PromptButton>& buttons);

} // namespace klv::platform
