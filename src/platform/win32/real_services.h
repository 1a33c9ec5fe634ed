// The real services, one instance each, for win32/services.cpp.
#pragma once

#include "platform/system.h"

namespace klv::platform::win32 {

Registry& RealRegistry();
Folders& RealFolders();
Drives& RealDrives();
Files& RealFiles();
Shell& RealShell();
VersionResources& RealVersionResources();
Keyboard& RealKeyboard();
WindowSystem& RealWindowSystem();
Programs& RealPrograms();

} // namespace klv::platform::win32
