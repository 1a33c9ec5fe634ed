// A portable reader of what klvpack needs from a Windows executable: its kind (32-bit or
// x86-64) and the fixed file version of its version resource, read from the file's bytes on
// any host.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace klv::klvpack {

// The 64-bit file version (dwFileVersionMS << 32 | dwFileVersionLS) of the image's version
// resource; nothing when the bytes are not a PE image or carry no readable version resource.
std::optional<std::uint64_t> FileVersionOf(std::span<const std::uint8_t> image);

// Where the image's version resource (type 16, name 1 or the first, its first language)
// lies in the file's bytes; nothing when there is none or it lies outside them.
struct ByteRange {
    std::size_t offset = 0, size = 0;
};
std::optional<ByteRange> VersionResourceRange(std::span<const std::uint8_t> image);
// The file offset of the optional header's CheckSum field.
std::optional<std::size_t> ChecksumOffset(std::span<const std::uint8_t> image);

// PE32 runs on every Windows (32-bit, and 64-bit through WOW64); PE32+ only on 64-bit Windows.
enum class PeKind { Pe32, Pe32Plus };
// The kind from the optional header's magic; nothing when the bytes are not a PE image.
std::optional<PeKind> PeKindOf(std::span<const std::uint8_t> image);
// "PE32, 32-bit: runs on every Windows" or "PE32+, x86-64: runs on 64-bit Windows only".
std::string PeKindText(PeKind kind);

} // namespace klv::klvpack
