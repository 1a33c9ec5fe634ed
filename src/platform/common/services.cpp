#include "platform/system.h"

namespace klv::platform {

namespace {
Services& Current() {
    static Services services = SystemServices();
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

} // namespace klv::platform
