#include "zip/pe_header.h"

#include "zip/byte_reader.h"

namespace klv::zip {

std::optional<PeHeader> ReadPeHeader(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    if (r.U32() != 0x00004550) return std::nullopt; // "PE\0\0"
    PeHeader h;
    r.Skip(2); // the machine
    h.sections = r.U16();
    r.Skip(12);
    h.optionalSize = r.U16();
    r.Skip(2);
    h.optional = r.Position();
    h.magic = r.U16();
    if (!r.Ok() || (h.magic != kPe32Magic && h.magic != kPe32PlusMagic)) return std::nullopt;
    // The count stands just before the first data directory.
    const std::size_t countAt = h.DirectoryAt(0) - 4;
    if (countAt + 4 > bytes.size()) return std::nullopt;
    h.directories = ByteReader(bytes, countAt).U32();
    return h;
}

} // namespace klv::zip
