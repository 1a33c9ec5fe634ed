// The payload folder as the package's entries, and the name rules of the stub.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zip_writer.h"

namespace klv::klvpack {

// Every folder and file below `folder`, names relative with '/', each folder before its
// contents and the entries of a folder in byte order of their UTF-8 names. Refuses (throws
// PackError) symbolic links and other non-files, names the stub would refuse or Windows
// cannot hold, and an `output` path inside `folder`.
std::vector<PackEntry> CollectPayload(const std::u16string& folder, const std::u16string& output);

// Why the stub would not write an item of this stored name ('/' or '\' between
// components): absolute, with a drive or ':', a doubled separator or a ".." component;
// nothing when it is fine.
std::optional<std::string> StubRefusesName(std::u16string_view storedName);

} // namespace klv::klvpack
