// Linux has no window for the prompt: only a script can answer it.
#include "platform/password_dialog.h"

namespace klv::platform {

bool AskPasswordNative(const std::string&, const std::string&, std::string&) { return false; }

} // namespace klv::platform
