#include "zip/signed_view.h"

#include <array>

#include "zip/byte_reader.h"
#include "zip/pe_header.h"
#include "zip/streams.h"

namespace klv::zip {

std::optional<CertificateTable> FindCertificateTable(TZAStream& stream) {
    const std::int64_t fileSize = stream.Size();
    std::array<std::uint8_t, 64> dos{};
    if (!stream.ReadAt(0, dos.data(), dos.size()) || dos[0] != 'M' || dos[1] != 'Z')
        return std::nullopt;
    const std::int64_t pe = ByteReader(dos, kPeOffsetAt).U32();
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
