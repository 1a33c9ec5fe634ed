#include "check_signature.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "zip/byte_reader.h"
#include "zip/pe_header.h"
#include "zip/signed_view.h"
#include "zip/streams.h"

namespace klv::klvpack {

namespace {

struct Algorithm {
    const char* name;
    int id;
    std::size_t size;
    std::string_view digestInfo; // DER of DigestInfo up to the digest's bytes
};

// SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING (n) } of SpcIndirectDataContent.
constexpr std::string_view kSha256Info{
    "\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20", 17};
constexpr std::string_view kSha1Info{"\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14", 13};
const Algorithm kAlgorithms[] = {{"SHA-256", GCRY_MD_SHA256, 32, kSha256Info},
                                 {"SHA-1", GCRY_MD_SHA1, 20, kSha1Info}};

// The byte ranges signing hashes: all before the table except the checksum and the entry.
bool HashedRanges(zip::TZAStream& file, std::int64_t end,
                  std::vector<std::pair<std::int64_t, std::int64_t>>& ranges) {
    std::array<std::uint8_t, 64> dos{};
    if (!file.ReadAt(0, dos.data(), dos.size())) return false;
    const std::int64_t pe = zip::ByteReader(dos, zip::kPeOffsetAt).U32();
    // As far as the signed view reads the headers (which found the table).
    std::array<std::uint8_t, 4 + 20 + 240> head{};
    if (!file.ReadAt(pe, head.data(), head.size())) return false;
    const std::optional<zip::PeHeader> header = zip::ReadPeHeader(head);
    if (!header) return false;
    const std::int64_t checksum = pe + static_cast<std::int64_t>(header->ChecksumAt());
    const std::int64_t entry =
        pe + static_cast<std::int64_t>(header->DirectoryAt(zip::kPeSecurityDirectory));
    if (entry + 8 > end) return false;
    ranges = {{0, checksum}, {checksum + 4, entry}, {entry + 8, end}};
    return true;
}

} // namespace

SignatureDigest CheckSignatureDigest(zip::TZAStream& file, const zip::CertificateTable& table) {
    SignatureDigest result;
    if (table.size > (16 << 20)) return result;
    std::vector<std::uint8_t> blob(static_cast<std::size_t>(table.size));
    if (!file.ReadAt(table.offset, blob.data(), table.size)) return result;
    const std::string_view der(reinterpret_cast<const char*>(blob.data()), blob.size());
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    if (!HashedRanges(file, table.offset, ranges)) return result;
    for (const Algorithm& a : kAlgorithms) {
        const std::size_t at = der.find(a.digestInfo);
        if (at == std::string_view::npos || at + a.digestInfo.size() + a.size > der.size())
            continue;
        const std::string_view want = der.substr(at + a.digestInfo.size(), a.size);
        gcry_md_hd_t raw = nullptr;
        if (gcry_md_open(&raw, a.id, 0) != 0) return result;
        std::unique_ptr<gcry_md_handle, void (*)(gcry_md_hd_t)> md(raw, gcry_md_close);
        std::vector<std::uint8_t> buffer(1 << 20);
        for (auto [from, to] : ranges) {
            file.Seek(from);
            while (from < to) {
                const std::int64_t n =
                    file.Read(buffer.data(), std::min<std::int64_t>(to - from, buffer.size()));
                if (n <= 0) return result;
                gcry_md_write(md.get(), buffer.data(), static_cast<std::size_t>(n));
                from += n;
            }
        }
        const auto* got = reinterpret_cast<const char*>(gcry_md_read(md.get(), a.id));
        result.algorithm = a.name;
        result.verdict =
            std::string_view(got, a.size) == want ? DigestVerdict::Matches : DigestVerdict::Differs;
        return result;
    }
    return result;
}

} // namespace klv::klvpack
