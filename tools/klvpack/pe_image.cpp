#include "pe_image.h"

#include <vector>

#include "zip/byte_reader.h"
#include "zip/pe_header.h"

namespace klv::klvpack {

namespace {

using zip::ByteReader;

// A reader at `at`; one that fails at its first read when `at` lies beyond the bytes.
ByteReader At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return at <= bytes.size() ? ByteReader(bytes, at) : ByteReader(bytes.first(0));
}

constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kVersionType = 16; // RT_VERSION
constexpr std::uint32_t kSubdirectoryBit = 0x80000000;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeImage {
  public:
    explicit PeImage(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool Parse() {
        ByteReader dos(bytes_);
        if (dos.U16() != 0x5A4D) return false; // "MZ"
        const std::uint32_t pe = At(bytes_, zip::kPeOffsetAt).U32();
        const auto header =
            zip::ReadPeHeader(pe <= bytes_.size() ? bytes_.subspan(pe) : bytes_.first(0));
        if (!header) return false;
        checksumAt_ = pe + header->ChecksumAt();
        if (header->HasDirectory(kResourceDirectory)) {
            ByteReader d = At(bytes_, pe + header->DirectoryAt(kResourceDirectory));
            resourceRva_ = d.U32();
            resourceSize_ = d.U32();
        }
        ByteReader s = At(bytes_, pe + header->SectionsAt());
        for (std::uint16_t i = 0; i < header->sections && s.Ok(); ++i) {
            s.Skip(8);
            Section sec{};
            sec.virtualSize = s.U32();
            sec.virtualAddress = s.U32();
            sec.rawSize = s.U32();
            sec.rawOffset = s.U32();
            s.Skip(16);
            if (s.Ok()) sections_.push_back(sec);
        }
        return s.Ok();
    }

    // The file offset of an address, when the bytes hold `length` bytes there.
    std::optional<std::size_t> Offset(std::uint32_t rva, std::size_t length) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize) continue;
            const std::size_t at = std::size_t{s.rawOffset} + (rva - s.virtualAddress);
            if (length > s.rawSize - (rva - s.virtualAddress)) return std::nullopt;
            if (at > bytes_.size() || length > bytes_.size() - at) return std::nullopt;
            return at;
        }
        return std::nullopt;
    }

    // The first version resource's bytes: type 16, name 1 when present (else the first
    // name), its first language.
    std::optional<std::span<const std::uint8_t>> VersionResource() const {
        if (resourceRva_ == 0) return std::nullopt;
        const auto root = Offset(resourceRva_, 16);
        if (!root) return std::nullopt;
        std::uint32_t entry = 0;
        if (!FindEntry(*root, kVersionType, entry) || !(entry & kSubdirectoryBit))
            return std::nullopt;
        std::uint32_t name = 0;
        if (!FindEntry(*root + (entry & ~kSubdirectoryBit), 1, name) &&
            !FindEntry(*root + (entry & ~kSubdirectoryBit), std::nullopt, name))
            return std::nullopt;
        if (!(name & kSubdirectoryBit)) return std::nullopt;
        std::uint32_t language = 0;
        if (!FindEntry(*root + (name & ~kSubdirectoryBit), std::nullopt, language) ||
            (language & kSubdirectoryBit))
            return std::nullopt;
        if (std::size_t{language} + 16 > resourceSize_) return std::nullopt;
        ByteReader data = At(bytes_, *root + language);
        const std::uint32_t rva = data.U32();
        const std::uint32_t size = data.U32();
        if (!data.Ok()) return std::nullopt;
        const auto at = Offset(rva, size);
        if (!at) return std::nullopt;
        return bytes_.subspan(*at, size);
    }

    std::size_t ChecksumAt() const { return checksumAt_; }

  private:
    // The entry of the directory at `dir` with numeric id `id` (or its first entry).
    bool FindEntry(std::size_t dir, std::optional<std::uint32_t> id, std::uint32_t& target) const {
        ByteReader r = At(bytes_, dir + 12);
        const std::uint32_t count = std::uint32_t{r.U16()} + r.U16();
        for (std::uint32_t i = 0; i < count && r.Ok(); ++i) {
            const std::uint32_t name = r.U32();
            const std::uint32_t offset = r.U32();
            if (!r.Ok()) return false;
            if (!id || name == *id) {
                target = offset;
                return (offset & ~kSubdirectoryBit) < resourceSize_;
            }
        }
        return false;
    }

    std::span<const std::uint8_t> bytes_;
    std::uint32_t resourceRva_ = 0;
    std::uint32_t resourceSize_ = 0;
    std::size_t checksumAt_ = 0;
    std::vector<Section> sections_;
};

} // namespace

std::optional<PeKind> PeKindOf(std::span<const std::uint8_t> image) {
    ByteReader dos(image);
    if (dos.U16() != 0x5A4D) return std::nullopt; // "MZ"
    ByteReader lfanew = At(image, zip::kPeOffsetAt);
    ByteReader pe = At(image, lfanew.U32());
    if (!lfanew.Ok() || pe.U32() != 0x00004550) return std::nullopt;
    pe.Skip(20); // the file header; the optional header's magic follows
    const std::uint16_t magic = pe.U16();
    if (!pe.Ok()) return std::nullopt;
    if (magic == zip::kPe32Magic) return PeKind::Pe32;
    if (magic == zip::kPe32PlusMagic) return PeKind::Pe32Plus;
    return std::nullopt;
}

std::string PeKindText(PeKind kind) {
    return kind == PeKind::Pe32 ? "PE32, 32-bit: runs on every Windows"
                                : "PE32+, x86-64: runs on 64-bit Windows only";
}

std::optional<ByteRange> VersionResourceRange(std::span<const std::uint8_t> image) {
    PeImage pe(image);
    if (!pe.Parse()) return std::nullopt;
    const auto resource = pe.VersionResource();
    if (!resource) return std::nullopt;
    return ByteRange{static_cast<std::size_t>(resource->data() - image.data()), resource->size()};
}

std::optional<std::size_t> ChecksumOffset(std::span<const std::uint8_t> image) {
    PeImage pe(image);
    if (!pe.Parse() || pe.ChecksumAt() + 4 > image.size()) return std::nullopt;
    return pe.ChecksumAt();
}

std::optional<std::uint64_t> FileVersionOf(std::span<const std::uint8_t> image) {
    PeImage pe(image);
    if (!pe.Parse()) return std::nullopt;
    const auto resource = pe.VersionResource();
    if (!resource) return std::nullopt;
    // VS_VERSIONINFO: length, value length, type, the key "VS_VERSION_INFO" in UTF-16 with
    // its NUL, padding to 4 bytes, then the fixed file information.
    ByteReader r(*resource);
    r.Skip(2);
    const std::uint16_t valueLength = r.U16();
    r.Skip(2);
    while (r.Ok() && r.U16() != 0) {
    }
    r.Skip((4 - r.Position() % 4) % 4);
    if (valueLength < 52) return std::nullopt;
    if (r.U32() != kFixedInfoSignature) return std::nullopt;
    r.Skip(4);
    const std::uint64_t ms = r.U32();
    const std::uint64_t ls = r.U32();
    if (!r.Ok()) return std::nullopt;
    return ms << 32 | ls;
}

} // namespace klv::klvpack
