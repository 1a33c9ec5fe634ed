#include "zip/records.h"

#include <algorithm>
#include <cstring>

namespace klv::zip {

LocalHeader LocalHeader::Parse(std::span<const std::uint8_t, kLocalHeaderSize> b) {
    LocalHeader h;
    const std::uint8_t* p = b.data();
    h.signature = GetU32(p);
    h.versionNeeded = GetU16(p + 4);
    h.flags = GetU16(p + 6);
    h.method = GetU16(p + 8);
    h.dosTime = GetU16(p + 10);
    h.dosDate = GetU16(p + 12);
    h.crc32 = GetU32(p + 14);
    h.compressedSize = GetU32(p + 18);
    h.uncompressedSize = GetU32(p + 22);
    h.nameLength = GetU16(p + 26);
    h.extraLength = GetU16(p + 28);
    return h;
}

void ExtraFields::Assign(std::span<const std::uint8_t> area) {
    // The blocks are stored as found, the one that runs past the area cut to what is left:
    // the stored copy never runs past itself. Nothing after a cut block is read.
    std::size_t length = 0;
    bool cut = false;
    while (!cut && length + 4 <= area.size()) {
        const std::size_t left = area.size() - length - 4;
        const std::size_t size = GetU16(&area[length + 2]);
        cut = size > left;
        length += 4 + std::min(size, left);
    }
    if (length == 0) {
        Clear();
        return;
    }
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    std::memcpy(buffer_.get(), area.data(), length);
    length_ = static_cast<std::uint32_t>(length);
    if (cut) {
        // Rewrite the last block's size to what it holds.
        std::size_t pos = 0;
        while (pos + 4 + GetU16(&buffer_[pos + 2]) < length)
            pos += 4 + GetU16(&buffer_[pos + 2]);
        PutU16(&buffer_[pos + 2], static_cast<std::uint16_t>(length - pos - 4));
    }
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
