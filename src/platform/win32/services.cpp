#include "platform/system.h"

#include <windows.h>

#include "platform/win32/real_services.h"

namespace klv::platform {

namespace {
Services& Current() {
    static Services services{&win32::RealRegistry(), &win32::RealFolders(),
                             &win32::RealDrives(),   &win32::RealFiles(),
                             &win32::RealShell(),    &win32::RealVersionResources(),
                             &win32::RealKeyboard(), &win32::RealWindowSystem()};
    return services;
}
} // namespace

const Services& System() {
    return Current();
}

Services InstallServices(const Services& services) {
    Services previous = Current();
    Current() = services;
    return previous;
}

ComApartment::ComApartment() {
    initialized_ = SUCCEEDED(CoInitialize(nullptr));
}

ComApartment::~ComApartment() {
    if (initialized_) CoUninitialize();
}

} // namespace klv::platform
