#include "platform/system.h"

namespace klv::platform {

// Linux has no system of its own to offer: tests install the fake machine.
Services SystemServices() { return Services{}; }

// There is no COM on Linux; shell links come from an installed Shell service.
ComApartment::ComApartment() = default;
ComApartment::~ComApartment() = default;

} // namespace klv::platform
