#include "platform/system.h"

namespace klv::platform {

namespace {
Services& Current() {
    static Services services;
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

// There is no COM on Linux; shell links come from an installed Shell service.
ComApartment::ComApartment() = default;
ComApartment::~ComApartment() = default;

} // namespace klv::platform
