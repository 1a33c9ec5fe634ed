// The headers of a PE image (a Windows executable) as far as the signed view and klvpack read
// them: where the optional header, its checksum and its data directories lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace klv::zip {

inline constexpr std::size_t kPeOffsetAt = 0x3C; // in the DOS header: where "PE\0\0" stands
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr std::uint32_t kPeSecurityDirectory = 4; // the certificate table's entry

// Offsets from the "PE\0\0" signature.
struct PeHeader {
    std::uint16_t magic = 0; // kPe32Magic or kPe32PlusMagic
    std::uint16_t sections = 0;
    std::size_t optional = 0; // the optional header
    std::uint16_t optionalSize = 0;
    std::uint32_t directories = 0; // the data directories the optional header counts

    std::size_t ChecksumAt() const { return optional + 64; }
    // Where data directory `index` is recorded: its address and size, 4 bytes each.
    std::size_t DirectoryAt(std::uint32_t index) const {
        return optional + (magic == kPe32PlusMagic ? 112 : 96) + 8 * std::size_t{index};
    }
    // True when the optional header counts and holds data directory `index`.
    bool HasDirectory(std::uint32_t index) const {
        return directories > index && DirectoryAt(index) + 8 <= optional + optionalSize;
    }
    // Behind the optional header: the section table.
    std::size_t SectionsAt() const { return optional + optionalSize; }
};

// The header in `bytes`, which start at the "PE\0\0" signature; nothing when it is not a PE32
// or PE32+ image's, or the bytes end before its count of data directories.
std::optional<PeHeader> ReadPeHeader(std::span<const std::uint8_t> bytes);

} // namespace klv::zip
