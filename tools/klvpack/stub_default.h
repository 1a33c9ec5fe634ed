// The stub `klvpack build` takes when no --stub is given: the shipped 32-bit one.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace klv::klvpack {

// The places looked at, in order: klvupgradeStub.exe beside the klvpack executable (a
// maker's kit: klvpack.exe shipped beside the stub), then the stub of the 32-bit build this
// build was configured with (a build tree on Linux or a Mac; none in Windows builds).
std::vector<std::u16string> DefaultStubPlaces();
// The first of `places` holding a file; nothing when none does.
std::optional<std::u16string> FirstExisting(const std::vector<std::u16string>& places);

} // namespace klv::klvpack
