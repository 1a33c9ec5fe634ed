#include "zip/signed_view.h"

#include <array>

#include "zip/byte_reader.h"
#include "zip/streams.h"

namespace klv::zip {

namespace {
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;
} // namespace

std::optional<CertificateTable> FindCertificateTable(TZAStream& stream) {
    const std::int64_t fileSize = stream.Size();
    std::array<std::uint8_t, 64> dos{};
    if (!stream.ReadAt(0, dos.data(), dos.size()) || dos[0] != 'M' || dos[1] != 'Z')
        return std::nullopt;
    const std::int64_t pe = ByteReader(dos, 0x3C).U32();
    // Signature, file header, and the optional header up to the end of its data directories.
    std::array<std::uint8_t, 4 + 20 + 240> head{};
    if (pe + static_cast<std::int64_t>(head.size()) > fileSize ||
        !stream.ReadAt(pe, head.data(), head.size()))
        return std::nullopt;
    ByteReader r(head);
    if (r.U32() != 0x00004550) return std::nullopt; // "PE\0\0"
    r.Skip(16);
    const std::uint16_t optionalSize = r.U16();
    r.Skip(2);
    const std::size_t optional = r.Position();
    const std::uint16_t magic = r.U16();
    std::size_t countAt = 0;
    if (magic == kPe32Magic)
        countAt = optional + 92;
    else if (magic == kPe32PlusMagic)
        countAt = optional + 108;
    else
        return std::nullopt;
    ByteReader count(head, countAt);
    const std::uint32_t directories = count.U32();
    const std::size_t entry = countAt + 4 + 8 * kSecurityDirectory;
    if (directories <= kSecurityDirectory || entry + 8 > optional + optionalSize)
        return std::nullopt;
    ByteReader dir(head, entry);
    const std::int64_t offset = dir.U32();
    const std::int64_t size = dir.U32();
    if (!dir.Ok() || offset == 0 || size == 0) return std::nullopt;
    if (offset < pe + static_cast<std::int64_t>(optional + optionalSize) ||
        offset + size > fileSize)
        return std::nullopt;
    return CertificateTable{offset, size};
}

} // namespace klv::zip
