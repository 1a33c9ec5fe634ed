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
    // Normalise into blocks whose sizes fit: the stored copy never runs past itself.
    std::vector<std::uint8_t> out;
    out.reserve(area.size());
    std::size_t pos = 0;
    while (pos + 4 <= area.size()) {
        std::uint16_t id = GetU16(&area[pos]);
        std::size_t size = GetU16(&area[pos + 2]);
        std::size_t left = area.size() - pos - 4;
        bool truncated = size > left;
        size = std::min(size, left);
        std::uint8_t head[4];
        PutU16(head, id);
        PutU16(head + 2, static_cast<std::uint16_t>(size));
        out.insert(out.end(), head, head + 4);
        out.insert(out.end(), area.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                   area.begin() + static_cast<std::ptrdiff_t>(pos + 4 + size));
        pos += 4 + size;
        if (truncated) break;
    }
    if (out.empty()) {
        Clear();
        return;
    }
    buffer_ = std::make_unique<std::uint8_t[]>(out.size());
    std::memcpy(buffer_.get(), out.data(), out.size());
    length_ = static_cast<std::uint32_t>(out.size());
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
