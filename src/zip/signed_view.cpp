#include "zip/signed_view.h"

#include <algorithm>
#include <array>
#include <vector>

#include "zip/byte_reader.h"
#include "zip/pe_header.h"
#include "zip/streams.h"

namespace klv::zip {

namespace {

// The file offset of the "PE\0\0" signature, when the stream starts with a DOS header.
std::optional<std::int64_t> PeOffset(TZAStream& stream) {
    std::array<std::uint8_t, 64> dos{};
    if (!stream.ReadAt(0, dos.data(), dos.size()) || dos[0] != 'M' || dos[1] != 'Z')
        return std::nullopt;
    return ByteReader(dos, kPeOffsetAt).U32();
}

// A section header's size, and where its raw data's size and file offset stand in it.
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kRawDataSizeAt = 16;
constexpr std::size_t kRawDataOffsetAt = 20;
// The optional header's SizeOfHeaders, the same place in PE32 and PE32+.
constexpr std::size_t kSizeOfHeadersAt = 60;

} // namespace

std::optional<std::int64_t> ExecutableImageEnd(TZAStream& stream) {
    const std::optional<std::int64_t> pe = PeOffset(stream);
    if (!pe) return std::nullopt;
    std::array<std::uint8_t, 4 + 20 + 240> head{};
    const std::int64_t headRead =
        std::min<std::int64_t>(static_cast<std::int64_t>(head.size()), stream.Size() - *pe);
    if (headRead <= 0 || !stream.ReadAt(*pe, head.data(), headRead)) return std::nullopt;
    const std::optional<PeHeader> header =
        ReadPeHeader(std::span(head.data(), static_cast<std::size_t>(headRead)));
    if (!header) return std::nullopt;
    std::int64_t end = ByteReader(head, header->optional + kSizeOfHeadersAt).U32();
    // The section table, as far as the file holds it: a table cut off ends the image there.
    const std::int64_t tableAt = *pe + static_cast<std::int64_t>(header->SectionsAt());
    const std::int64_t tableSize = std::int64_t{header->sections} * kSectionHeaderSize;
    end = std::max(end, tableAt + tableSize);
    const std::int64_t readable = std::clamp<std::int64_t>(stream.Size() - tableAt, 0, tableSize);
    std::vector<std::uint8_t> table(static_cast<std::size_t>(readable));
    if (readable > 0 && !stream.ReadAt(tableAt, table.data(), readable)) return end;
    for (std::size_t at = 0; at + kSectionHeaderSize <= table.size(); at += kSectionHeaderSize) {
        const std::int64_t size = ByteReader(table, at + kRawDataSizeAt).U32();
        const std::int64_t offset = ByteReader(table, at + kRawDataOffsetAt).U32();
        if (size > 0) end = std::max(end, offset + size);
    }
    return end;
}

std::optional<CertificateTable> FindCertificateTable(TZAStream& stream) {
    const std::int64_t fileSize = stream.Size();
    const std::optional<std::int64_t> peAt = PeOffset(stream);
    if (!peAt) return std::nullopt;
    const std::int64_t pe = *peAt;
    // Signature, file header, and the optional header up to the end of its data directories.
    std::array<std::uint8_t, 4 + 20 + 240> head{};
    if (pe + static_cast<std::int64_t>(head.size()) > fileSize ||
        !stream.ReadAt(pe, head.data(), head.size()))
        return std::nullopt;
    const std::optional<PeHeader> header = ReadPeHeader(head);
    if (!header || !header->HasDirectory(kPeSecurityDirectory)) return std::nullopt;
    ByteReader dir(head, header->DirectoryAt(kPeSecurityDirectory));
    const std::int64_t offset = dir.U32();
    const std::int64_t size = dir.U32();
    if (!dir.Ok() || offset == 0 || size == 0) return std::nullopt;
    if (offset < pe + static_cast<std::int64_t>(header->SectionsAt()) || offset + size > fileSize)
        return std::nullopt;
    return CertificateTable{offset, size};
}

} // namespace klv::zip
