// The machine a run happens on, as a help desk reading its log needs it: the system's version
// and build, whether the system is 64-bit, the user, whether the process is elevated, and the
// temporary folder.
#pragma once

#include <string>

namespace klv::platform {

// One line: "Windows 10.0 build 19045, 64-bit Windows, user jan, not elevated, temp
// C:\Users\jan\AppData\Local\Temp\" (what cannot be told is left out or "unknown").
std::u16string DescribeMachine();

} // namespace klv::platform
