#include "platform/password_dialog.h"

#include <mutex>
#include <utility>

namespace klv::platform {

namespace {
std::mutex scriptLock;
PasswordPromptScript& Script() {
    static PasswordPromptScript script;
    return script;
}
} // namespace

void SetPasswordPromptScript(PasswordPromptScript script) {
    std::lock_guard<std::mutex> hold(scriptLock);
    Script() = std::move(script);
}

bool AskPassword(const std::string& caption, const std::string& label, std::string& password) {
    PasswordPromptScript script;
    {
        std::lock_guard<std::mutex> hold(scriptLock);
        script = Script();
    }
    if (script) return script(caption, label, password);
    return AskPasswordNative(caption, label, password);
}

} // namespace klv::platform
