// Wide paths as Linux takes them: UTF-8, with '\\' and '/' both separating components.
#pragma once

#include <string>

namespace klv::platform::posix {

std::string NativePath(const std::u16string& path);

} // namespace klv::platform::posix
