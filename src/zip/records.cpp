#include "zip/records.h"

#include <algorithm>
#include <cstring>

namespace klv::zip {

LocalHeader LocalHeader::Parse(std::span<const std::uint8_t, kLocalHeaderSize> b) {
    ByteReader r(b);
    LocalHeader h;
    h.signature = r.U32();
    h.versionNeeded = r.U16();
    h.flags = r.U16();
    h.method = r.U16();
    h.dosTime = r.U16();
    h.dosDate = r.U16();
    h.crc32 = r.U32();
    h.compressedSize = r.U32();
    h.uncompressedSize = r.U32();
    h.nameLength = r.U16();
    h.extraLength = r.U16();
    return h;
}

std::array<std::uint8_t, kLocalHeaderSize> LocalHeader::Bytes() const {
    std::array<std::uint8_t, kLocalHeaderSize> b{};
    PutU32(&b[0], signature);
    PutU16(&b[4], versionNeeded);
    PutU16(&b[6], flags);
    PutU16(&b[8], method);
    PutU16(&b[10], dosTime);
    PutU16(&b[12], dosDate);
    PutU32(&b[14], crc32);
    PutU32(&b[18], compressedSize);
    PutU32(&b[22], uncompressedSize);
    PutU16(&b[26], nameLength);
    PutU16(&b[28], extraLength);
    return b;
}

std::optional<std::size_t> FindEndRecordIn(std::span<const std::uint8_t> tail,
                                           std::uint32_t signature, bool* sawSignature) {
    if (sawSignature) *sawSignature = false;
    for (std::size_t back = 4; back <= tail.size(); ++back) {
        const std::size_t at = tail.size() - back;
        ByteReader r(tail, at);
        if (r.U32() != signature) continue;
        if (sawSignature) *sawSignature = true;
        if (back < kEndRecordSize) continue;
        r.Skip(kEndRecordSize - 6); // to the comment length
        if (r.U16() == back - kEndRecordSize) return at;
    }
    return std::nullopt;
}

DataDescriptor DataDescriptor::Parse(std::span<const std::uint8_t, kDataDescriptorSize> b) {
    ByteReader r(b);
    r.Skip(4); // signature
    DataDescriptor d;
    d.crc32 = r.U32();
    d.compressedSize = r.U32();
    d.uncompressedSize = r.U32();
    return d;
}

void ExtraFields::Assign(std::span<const std::uint8_t> area) {
    // The blocks are stored as found, the one that runs past the area cut to what is left:
    // the stored copy never runs past itself. Nothing after a cut block is read.
    ByteReader r(area);
    std::size_t lastAt = 0, length = 0;
    bool cut = false;
    while (!cut && r.Remaining() >= kExtraBlockHeaderSize) {
        lastAt = r.Position();
        r.Skip(2); // ID
        const std::size_t size = r.U16();
        cut = size > r.Remaining();
        r.Skip(std::min(size, r.Remaining()));
        length = r.Position();
    }
    if (length == 0) {
        Clear();
        return;
    }
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    std::memcpy(buffer_.get(), area.data(), length);
    length_ = static_cast<std::uint32_t>(length);
    // The cut block's size becomes what it holds.
    if (cut)
        PutU16(&buffer_[lastAt + 2],
               static_cast<std::uint16_t>(length - lastAt - kExtraBlockHeaderSize));
}

std::size_t ExtraFields::Count() const {
    std::size_t n = 0;
    ForEach([&](const Block&) { ++n; });
    return n;
}

std::vector<ExtraFields::Block> ExtraFields::Blocks() const {
    std::vector<Block> out;
    ForEach([&](const Block& b) { out.push_back(b); });
    return out;
}

} // namespace klv::zip
