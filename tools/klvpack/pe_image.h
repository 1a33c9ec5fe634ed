// A portable reader of what klvpack needs from a Windows executable: the fixed file version
// of its version resource, read from the file's bytes on any host.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace klv::klvpack {

// The 64-bit file version (dwFileVersionMS << 32 | dwFileVersionLS) of the image's version
// resource; nothing when the bytes are not a PE image or carry no readable version resource.
std::optional<std::uint64_t> FileVersionOf(std::span<const std::uint8_t> image);

} // namespace klv::klvpack
