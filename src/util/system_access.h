// The installed platform services, for the support modules. A missing service is a
// programming error: nothing installed the services.
#pragma once

#include <stdexcept>

#include "platform/system.h"

namespace klv::util::sys {

template <class T> T& Need(T* service) {
    if (!service) throw std::logic_error("platform service not installed");
    return *service;
}

inline platform::Registry& Registry() {
    return Need(platform::System().registry);
}
inline platform::Folders& Folders() {
    return Need(platform::System().folders);
}
inline platform::Drives& Drives() {
    return Need(platform::System().drives);
}
inline platform::Files& Files() {
    return Need(platform::System().files);
}
inline platform::Shell& Shell() {
    return Need(platform::System().shell);
}
inline platform::VersionResources& Versions() {
    return Need(platform::System().versions);
}
inline platform::Keyboard& Keyboard() {
    return Need(platform::System().keyboard);
}
inline platform::WindowSystem& Windows() {
    return Need(platform::System().windows);
}
inline platform::Programs& Programs() {
    return Need(platform::System().programs);
}

} // namespace klv::util::sys
