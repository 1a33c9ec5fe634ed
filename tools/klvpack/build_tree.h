// The payload folder as the package's entries, and the name rules of the stub.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "zip_writer.h"

namespace klv::klvpack {

// A path of the command line as the file system library takes it.
std::filesystem::path ToPath(const std::u16string& s);

// Every folder and file below `folder`, names relative with '/', each folder before its
// contents and the entries of a folder in byte order of their UTF-8 names. Refuses (throws
// PackError) symbolic links and other non-files, every name the installer would refuse
// (stubconf/item_names.h), and an `output` path that is `folder` or lies inside it.
std::vector<PackEntry> CollectPayload(const std::u16string& folder, const std::u16string& output);

} // namespace klv::klvpack
