#include "platform/prompts.h"

#include <mutex>

namespace klv::platform {

namespace {
std::mutex scriptLock;
PromptScript& Script() {
    static PromptScript script;
    return script;
}
} // namespace

void SetPromptScript(PromptScript script) {
    std::lock_guard lock(scriptLock);
    Script() = std::move(script);
}

PromptButton ShowPrompt(const std::u16string& text, const std::vector<PromptButton>& buttons) {
    PromptScript script;
    {
        std::lock_guard lock(scriptLock);
        script = Script();
    }
    return script ? script(text, buttons) : ShowNativePrompt(text, buttons);
}

} // namespace klv::platform
