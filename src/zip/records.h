// The on-disk records of a ZIP archive: signatures, fixed lengths and field layouts.
// All integers are little-endian; offsets count from the start of a record.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zip/byte_reader.h"

namespace klv::zip {

// The two signature sets; the standard one is used by TZipArchive.
struct SignatureSet {
    std::uint32_t localHeader;
    std::uint32_t centralHeader;
    std::uint32_t endRecord;
};
inline constexpr SignatureSet kStandardSignatures{0x04034B50, 0x02014B50, 0x06054B50};
inline constexpr SignatureSet kAlternativeSignatures{0x05045C61, 0x03025C61, 0x06054141};
inline constexpr std::uint32_t kZip64EndRecordSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kZip64EndRecordSize = 56;
inline constexpr std::size_t kDataDescriptorSize = 16;  // with its signature, 32-bit sizes
inline constexpr std::size_t kExtraBlockHeaderSize = 4; // ID and size
// The most an end record's comment (and any other 16-bit length) can declare.
inline constexpr std::size_t kMaxCommentLength = 0xFFFF;

// A size, offset or disk field holding its marker has its value in the entry's Zip64 block;
// an end record field holding it, in the Zip64 end record.
inline constexpr std::uint16_t kZip64Marker16 = 0xFFFF;
inline constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF;
// The end record lies within the last 65600 bytes of the file.
inline constexpr std::int64_t kEndRecordSearchWindow = 65600;

// Entries written in the alternative layout store their version needed as 0x4100 plus the
// standard value; from this threshold on an entry is taken as such.
inline constexpr std::uint16_t kAlternativeVersionThreshold = 0x4114;

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kMethodDeflate64 = 9;
inline constexpr std::uint16_t kMethodAes = 99;

inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraUnicodeName = 0x554E;   // "NU"
inline constexpr std::uint32_t kUnicodeNameTag = 0x5843554E; // "NUCX"
inline constexpr std::uint16_t kExtraAes = 0x9901;
inline constexpr std::size_t kMaxLocalExtraForRebuild = 260;

inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;

// One field of a fixed-length record, read through the bounds-checked reader.
template <std::size_t N> std::uint16_t U16At(const std::array<std::uint8_t, N>& b, std::size_t at) {
    return ByteReader(b, at).U16();
}
template <std::size_t N> std::uint32_t U32At(const std::array<std::uint8_t, N>& b, std::size_t at) {
    return ByteReader(b, at).U32();
}
template <std::size_t N> std::uint64_t U64At(const std::array<std::uint8_t, N>& b, std::size_t at) {
    return ByteReader(b, at).U64();
}

// The 46 bytes of a central directory file header, kept verbatim, signature included.
struct CentralHeader {
    std::array<std::uint8_t, kCentralHeaderSize> bytes{};

    std::uint32_t Signature() const { return U32At(bytes, 0); }
    std::uint16_t VersionMadeBy() const { return U16At(bytes, 4); }
    std::uint16_t VersionNeeded() const { return U16At(bytes, 6); }
    std::uint16_t Flags() const { return U16At(bytes, 8); }
    std::uint16_t Method() const { return U16At(bytes, 10); }
    std::uint16_t DosTime() const { return U16At(bytes, 12); }
    std::uint16_t DosDate() const { return U16At(bytes, 14); }
    std::uint32_t Crc32() const { return U32At(bytes, 16); }
    std::uint32_t CompressedSize() const { return U32At(bytes, 20); }
    std::uint32_t UncompressedSize() const { return U32At(bytes, 24); }
    std::uint16_t NameLength() const { return U16At(bytes, 28); }
    std::uint16_t ExtraLength() const { return U16At(bytes, 30); }
    std::uint16_t CommentLength() const { return U16At(bytes, 32); }
    std::uint16_t DiskStart() const { return U16At(bytes, 34); }
    std::uint16_t InternalAttributes() const { return U16At(bytes, 36); }
    std::uint32_t ExternalAttributes() const { return U32At(bytes, 38); }
    std::uint32_t LocalHeaderOffset() const { return U32At(bytes, 42); }

    void SetSignature(std::uint32_t v) { PutU32(&bytes[0], v); }
    void SetVersionMadeBy(std::uint16_t v) { PutU16(&bytes[4], v); }
    void SetVersionNeeded(std::uint16_t v) { PutU16(&bytes[6], v); }
    void SetFlags(std::uint16_t v) { PutU16(&bytes[8], v); }
    void SetMethod(std::uint16_t v) { PutU16(&bytes[10], v); }
    void SetDosTime(std::uint16_t v) { PutU16(&bytes[12], v); }
    void SetDosDate(std::uint16_t v) { PutU16(&bytes[14], v); }
    void SetCrc32(std::uint32_t v) { PutU32(&bytes[16], v); }
    void SetCompressedSize(std::uint32_t v) { PutU32(&bytes[20], v); }
    void SetUncompressedSize(std::uint32_t v) { PutU32(&bytes[24], v); }
    void SetNameLength(std::uint16_t v) { PutU16(&bytes[28], v); }
    void SetExtraLength(std::uint16_t v) { PutU16(&bytes[30], v); }
    void SetCommentLength(std::uint16_t v) { PutU16(&bytes[32], v); }
    void SetDiskStart(std::uint16_t v) { PutU16(&bytes[34], v); }
    void SetInternalAttributes(std::uint16_t v) { PutU16(&bytes[36], v); }
    void SetExternalAttributes(std::uint32_t v) { PutU32(&bytes[38], v); }
    void SetLocalHeaderOffset(std::uint32_t v) { PutU32(&bytes[42], v); }
};

// The fixed 30 bytes of a local file header.
struct LocalHeader {
    std::uint32_t signature = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;

    static LocalHeader Parse(std::span<const std::uint8_t, kLocalHeaderSize> b);
    // The 30 bytes as stored, the reverse of Parse.
    std::array<std::uint8_t, kLocalHeaderSize> Bytes() const;
};

struct EndRecord {
    std::array<std::uint8_t, kEndRecordSize> bytes{};

    std::uint32_t Signature() const { return U32At(bytes, 0); }
    std::uint16_t ThisDisk() const { return U16At(bytes, 4); }
    std::uint16_t DirectoryDisk() const { return U16At(bytes, 6); }
    std::uint16_t EntriesOnDisk() const { return U16At(bytes, 8); }
    std::uint16_t TotalEntries() const { return U16At(bytes, 10); }
    std::uint32_t DirectorySize() const { return U32At(bytes, 12); }
    std::uint32_t DirectoryOffset() const { return U32At(bytes, 16); }
    std::uint16_t CommentLength() const { return U16At(bytes, 20); }

    void SetSignature(std::uint32_t v) { PutU32(&bytes[0], v); }
    void SetThisDisk(std::uint16_t v) { PutU16(&bytes[4], v); }
    void SetDirectoryDisk(std::uint16_t v) { PutU16(&bytes[6], v); }
    void SetEntriesOnDisk(std::uint16_t v) { PutU16(&bytes[8], v); }
    void SetTotalEntries(std::uint16_t v) { PutU16(&bytes[10], v); }
    void SetDirectorySize(std::uint32_t v) { PutU32(&bytes[12], v); }
    void SetDirectoryOffset(std::uint32_t v) { PutU32(&bytes[16], v); }
    void SetCommentLength(std::uint16_t v) { PutU16(&bytes[20], v); }
};

// The last end record with `signature` in `tail` (the end of a file) whose comment runs
// exactly to the end: its offset in `tail`. `sawSignature` tells whether the signature
// occurred at all.
std::optional<std::size_t> FindEndRecordIn(std::span<const std::uint8_t> tail,
                                           std::uint32_t signature, bool* sawSignature = nullptr);

// What a data descriptor (signature first) says of the data before it.
struct DataDescriptor {
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;

    static DataDescriptor Parse(std::span<const std::uint8_t, kDataDescriptorSize> b);
};

struct Zip64Locator {
    std::array<std::uint8_t, kZip64LocatorSize> bytes{};

    std::uint32_t Signature() const { return U32At(bytes, 0); }
    std::uint32_t EndRecordDisk() const { return U32At(bytes, 4); }
    std::uint64_t EndRecordPosition() const { return U64At(bytes, 8); }
    std::uint32_t TotalDisks() const { return U32At(bytes, 16); }

    void SetSignature(std::uint32_t v) { PutU32(&bytes[0], v); }
    void SetEndRecordDisk(std::uint32_t v) { PutU32(&bytes[4], v); }
    void SetEndRecordPosition(std::uint64_t v) { PutU64(&bytes[8], v); }
    void SetTotalDisks(std::uint32_t v) { PutU32(&bytes[16], v); }
};

struct Zip64EndRecord {
    std::array<std::uint8_t, kZip64EndRecordSize> bytes{};

    std::uint32_t Signature() const { return U32At(bytes, 0); }
    std::uint32_t ThisDisk() const { return U32At(bytes, 16); }
    std::uint32_t DirectoryDisk() const { return U32At(bytes, 20); }
    std::uint64_t TotalEntries() const { return U64At(bytes, 32); }
    std::uint64_t DirectorySize() const { return U64At(bytes, 40); }
    std::uint64_t DirectoryOffset() const { return U64At(bytes, 48); }

    void SetSignature(std::uint32_t v) { PutU32(&bytes[0], v); }
    // The size of the record after this field (44 without extensible data).
    void SetRecordSize(std::uint64_t v) { PutU64(&bytes[4], v); }
    void SetVersionMadeBy(std::uint16_t v) { PutU16(&bytes[12], v); }
    void SetVersionNeeded(std::uint16_t v) { PutU16(&bytes[14], v); }
    void SetThisDisk(std::uint32_t v) { PutU32(&bytes[16], v); }
    void SetDirectoryDisk(std::uint32_t v) { PutU32(&bytes[20], v); }
    void SetEntriesOnDisk(std::uint64_t v) { PutU64(&bytes[24], v); }
    void SetTotalEntries(std::uint64_t v) { PutU64(&bytes[32], v); }
    void SetDirectorySize(std::uint64_t v) { PutU64(&bytes[40], v); }
    void SetDirectoryOffset(std::uint64_t v) { PutU64(&bytes[48], v); }
};

// An entry's extra blocks in one buffer, in order, each as ID (2), size (2) and data, with
// a block that ran past the area truncated to what was left.
class ExtraFields {
  public:
    struct Block {
        std::uint16_t id;
        std::uint16_t size;
        const std::uint8_t* data;
    };

    // Splits an extra area into blocks; a block whose declared size exceeds what is left is
    // cut to what is left, and nothing after it is read.
    void Assign(std::span<const std::uint8_t> area);
    ExtraFields() = default;
    ExtraFields(ExtraFields&&) noexcept = default;
    ExtraFields& operator=(ExtraFields&&) noexcept = default;
    ExtraFields(const ExtraFields& other) { *this = other; }
    ExtraFields& operator=(const ExtraFields& other) {
        if (this != &other) Assign({other.buffer_.get(), other.length_});
        return *this;
    }
    void Clear() {
        buffer_.reset();
        length_ = 0;
    }
    std::size_t Count() const;
    std::vector<Block> Blocks() const;
    template <class F> void ForEach(F&& f) const {
        ByteReader r({buffer_.get(), length_});
        while (r.Remaining() >= kExtraBlockHeaderSize) {
            Block b;
            b.id = r.U16();
            b.size = r.U16();
            b.data = buffer_.get() + r.Position();
            f(b);
            r.Skip(b.size); // (Assign cut the last block to what the buffer holds)
        }
    }

  private:
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint32_t length_ = 0;
};

} // namespace klv::zip
