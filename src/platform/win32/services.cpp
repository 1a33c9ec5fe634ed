#include "platform/system.h"

#include <windows.h>

#include "platform/win32/real_services.h"

namespace klv::platform {

Services SystemServices() {
    return Services{
        &win32::RealRegistry(), &win32::RealFolders(),      &win32::RealDrives(),
        &win32::RealFiles(),    &win32::RealShell(),        &win32::RealVersionResources(),
        &win32::RealKeyboard(), &win32::RealWindowSystem(), &win32::RealPrograms()};
}

ComApartment::ComApartment() {
    initialized_ = SUCCEEDED(CoInitialize(nullptr));
}

ComApartment::~ComApartment() {
    if (initialized_) CoUninitialize();
}

} // namespace klv::platform
