#include "zip/directory_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/path_names.h"
#include "platform/text.h"
#include "zip/signed_view.h"

namespace klv::zip {

namespace {

// Reads a region of a stream front to back through a buffer.
class SequentialReader {
  public:
    SequentialReader(TZAStream& s, std::int64_t position) : s_(&s), pos_(position) {}
    bool Read(void* out, std::size_t n) {
        auto* dst = static_cast<std::uint8_t*>(out);
        while (n > 0) {
            if (head_ == buffer_.size()) {
                if (!Fill()) return false;
            }
            std::size_t take = std::min(n, buffer_.size() - head_);
            std::memcpy(dst, buffer_.data() + head_, take);
            head_ += take;
            dst += take;
            n -= take;
        }
        return true;
    }
    // A view of the next n bytes: inside the buffer when they lie there, else copied into
    // `scratch`. Throws when the stream holds fewer.
    std::span<const std::uint8_t> Take(std::size_t n, std::vector<std::uint8_t>& scratch) {
        if (n <= buffer_.size() - head_) {
            std::span<const std::uint8_t> out(buffer_.data() + head_, n);
            head_ += n;
            return out;
        }
        scratch.resize(n);
        if (n && !Read(scratch.data(), n)) throw EZAError(u"Stream read error");
        return {scratch.data(), n};
    }
    std::string ReadString(std::size_t n) {
        std::string out(n, '\0');
        if (n && !Read(out.data(), n)) throw EZAError(u"Stream read error");
        return out;
    }
    std::int64_t Position() const {
        return pos_ - static_cast<std::int64_t>(buffer_.size() - head_);
    }

  private:
    bool Fill() {
        constexpr std::int64_t kChunk = 1 << 18;
        std::int64_t left = s_->Size() - pos_;
        if (left <= 0 || pos_ < 0) return false;
        buffer_.resize(static_cast<std::size_t>(std::min(left, kChunk)));
        s_->Seek(pos_);
        std::int64_t got = s_->Read(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
        if (got <= 0) return false;
        buffer_.resize(static_cast<std::size_t>(got));
        pos_ += got;
        head_ = 0;
        return true;
    }
    TZAStream* s_;
    std::int64_t pos_;
    std::vector<std::uint8_t> buffer_;
    std::size_t head_ = 0;
};

// Scans a stream forward for a 4-byte signature. Each block is read with `lookahead` bytes
// beyond it, so that a record starting at a hit can be inspected without another read.
class SignatureScanner {
  public:
    SignatureScanner(TZAStream& s, std::uint32_t signature, std::int64_t from, std::size_t block,
                     std::size_t lookahead)
        : s_(s), size_(s.Size()), next_(std::max<std::int64_t>(from, 0)), block_(block),
          lookahead_(lookahead) {
        PutU32(sig_, signature);
    }

    // The position of the next hit at or after the scan position, or -1.
    std::int64_t Next() {
        while (next_ + 4 <= size_) {
            if (next_ < base_ || next_ + 4 > base_ + static_cast<std::int64_t>(data_.size()) ||
                next_ >= base_ + static_cast<std::int64_t>(block_)) {
                if (!Load(next_)) return -1;
            }
            const std::size_t start = static_cast<std::size_t>(next_ - base_);
            const std::size_t limit = std::min(block_, data_.size() >= 4 ? data_.size() - 3 : 0);
            for (std::size_t i = start; i < limit; ++i) {
                if (data_[i] == sig_[0] && data_[i + 1] == sig_[1] && data_[i + 2] == sig_[2] &&
                    data_[i + 3] == sig_[3]) {
                    next_ = base_ + static_cast<std::int64_t>(i) + 1;
                    return base_ + static_cast<std::int64_t>(i);
                }
            }
            next_ = base_ + static_cast<std::int64_t>(limit);
            if (limit == 0) return -1;
        }
        return -1;
    }
    void ContinueAt(std::int64_t position) { next_ = position; }
    // Bytes at a position inside the current window, or null.
    const std::uint8_t* At(std::int64_t position, std::size_t n) const {
        if (position < base_ || position + static_cast<std::int64_t>(n) >
                                    base_ + static_cast<std::int64_t>(data_.size()))
            return nullptr;
        return data_.data() + (position - base_);
    }

  private:
    bool Load(std::int64_t at) {
        std::int64_t want = std::min<std::int64_t>(block_ + lookahead_, size_ - at);
        if (want < 4) return false;
        data_.resize(static_cast<std::size_t>(want));
        if (!s_.ReadAt(at, data_.data(), want)) return false;
        base_ = at;
        return true;
    }
    TZAStream& s_;
    std::int64_t size_;
    std::int64_t next_;
    std::size_t block_;
    std::size_t lookahead_;
    std::uint8_t sig_[4];
    std::int64_t base_ = 0;
    std::vector<std::uint8_t> data_;
};

// The first hit of a signature at or after a position, remembered between calls so that
// many headers in a row cost one pass over the file.
class ForwardFinder {
  public:
    ForwardFinder(TZAStream& s, std::uint32_t signature) : scan_(s, signature, 0, 1 << 16, 0) {}
    std::int64_t Find(std::int64_t from) {
        if (searchedFrom_ >= 0 && from >= searchedFrom_ && (found_ < 0 || from <= found_))
            return found_;
        scan_.ContinueAt(from);
        searchedFrom_ = from;
        found_ = scan_.Next();
        return found_;
    }

  private:
    SignatureScanner scan_;
    std::int64_t searchedFrom_ = -1;
    std::int64_t found_ = -1;
};

// The stored bytes of a name, kept with the item unless they are its plain ASCII FileName
// (which the Unicode name block may still replace).
class StoredName {
  public:
    explicit StoredName(std::string_view raw)
        : ascii_(std::all_of(raw.begin(), raw.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        if (!ascii_) bytes_.assign(raw);
    }
    // `replaced`: the name the extra field replaced (empty when none).
    void Keep(TDirItem& item, const std::u16string& replaced, TZADirManager& m) {
        if (ascii_ && replaced.empty()) return;
        if (ascii_) bytes_.assign(replaced.begin(), replaced.end());
        item.StoredNameIndex = static_cast<std::int32_t>(m.StoredNames.size());
        m.StoredNames.push_back(std::move(bytes_));
    }

  private:
    bool ascii_;
    std::string bytes_;
};

bool ReadAll(TZAStream& s, std::int64_t position, void* out, std::size_t n) {
    return s.ReadAt(position, out, static_cast<std::int64_t>(n));
}

// The local header at a hit of `scan`: from its window, or read from the stream where it runs
// past the window's end.
std::optional<LocalHeader> LocalHeaderAt(const SignatureScanner& scan, TZAStream& s,
                                         std::int64_t position) {
    std::uint8_t raw[kLocalHeaderSize];
    const std::uint8_t* b = scan.At(position, kLocalHeaderSize);
    if (!b) {
        if (!ReadAll(s, position, raw, kLocalHeaderSize)) return std::nullopt;
        b = raw;
    }
    return LocalHeader::Parse(std::span<const std::uint8_t, kLocalHeaderSize>(b, kLocalHeaderSize));
}

// True when a local header repeats what the central record says of its item.
bool SameItem(const LocalHeader& l, const CentralHeader& c) {
    return (l.signature == kStandardSignatures.localHeader ||
            l.signature == kAlternativeSignatures.localHeader) &&
           l.versionNeeded == c.VersionNeeded() && l.method == c.Method() &&
           l.dosTime == c.DosTime() && l.dosDate == c.DosDate() && l.crc32 == c.Crc32() &&
           l.compressedSize == c.CompressedSize() && l.uncompressedSize == c.UncompressedSize();
}

// The Zip64 end record at `position`, when one is there.
std::optional<Zip64EndRecord> Zip64EndRecordAt(TZAStream& s, std::uint64_t position) {
    Zip64EndRecord rec;
    if (position > static_cast<std::uint64_t>(s.Size()) ||
        !ReadAll(s, static_cast<std::int64_t>(position), rec.bytes.data(), kZip64EndRecordSize) ||
        rec.Signature() != kZip64EndRecordSignature)
        return std::nullopt;
    return rec;
}

// The volume of the end record: the last one. Computed in 64 bits: a locator may claim any
// number of disks.
std::int32_t LastDisk(const TZADirManager& m) {
    if (m.End.ThisDisk() != kZip64Marker16) return m.End.ThisDisk();
    return m.IsZip64
               ? static_cast<std::int32_t>(static_cast<std::int64_t>(m.Locator.TotalDisks()) - 1)
               : 0;
}

// The volume the central directory starts on.
std::int32_t DirectoryDisk(const TZADirManager& m) {
    if (m.End.DirectoryDisk() != kZip64Marker16) return m.End.DirectoryDisk();
    return m.IsZip64 ? static_cast<std::int32_t>(m.Zip64End.DirectoryDisk()) : 0;
}

// Where the central directory starts. In one file it ends where the end records start
// (`recordsAt`): an archive behind other data is found by its size; a Zip64 size larger than
// the part of the file before the records (up to 2^64 - 1) places the directory before the
// file's start (-1): damaged, like any such position. Across volumes it is the recorded offset.
std::int64_t DirectoryStart(const TZADirManager& m, std::int64_t recordsAt, bool spanning) {
    if (spanning)
        return m.IsZip64 ? static_cast<std::int64_t>(m.Zip64End.DirectoryOffset())
                         : m.End.DirectoryOffset();
    if (!m.IsZip64) return recordsAt - static_cast<std::int32_t>(m.End.DirectorySize());
    const std::uint64_t size64 = m.Zip64End.DirectorySize();
    return size64 <= static_cast<std::uint64_t>(recordsAt)
               ? recordsAt - static_cast<std::int64_t>(size64)
               : -1;
}

// True when the items' packed sizes add up to more than `limit`. Summed without wrapping: a
// Zip64 size may be as large as 2^64 - 1.
bool PackedSizesExceed(const TZADirArray& dir, std::uint64_t limit) {
    std::uint64_t sum = 0;
    for (std::int32_t i = 0; i < dir.Count() && sum <= limit; ++i) {
        const std::int64_t packed = dir.Item(i).CompressedSize();
        sum = packed < 0 ? UINT64_MAX : sum + static_cast<std::uint64_t>(packed);
    }
    return sum > limit;
}

// The central record a local header at file position `position` stands for, as the rebuild
// makes it: a folder where nothing follows the header.
TDirItem RebuiltItem(const LocalHeader& l, std::int64_t position, std::uint32_t signature) {
    TDirItem item;
    CentralHeader& h = item.Header;
    h.SetSignature(signature);
    h.SetVersionMadeBy(l.versionNeeded);
    h.SetVersionNeeded(l.versionNeeded);
    h.SetFlags(l.flags);
    h.SetMethod(l.method);
    h.SetDosTime(l.dosTime);
    h.SetDosDate(l.dosDate);
    h.SetCrc32(l.crc32);
    h.SetCompressedSize(l.compressedSize);
    h.SetUncompressedSize(l.uncompressedSize);
    h.SetNameLength(l.nameLength);
    h.SetExtraLength(l.extraLength);
    h.SetExternalAttributes(
        l.uncompressedSize != 0 || (l.flags & kFlagDataDescriptor) ? kAttrArchive : kAttrDirectory);
    if (position >= kZip64Marker32) {
        h.SetLocalHeaderOffset(kZip64Marker32);
        item.Zip64LocalHeaderOffset = static_cast<std::uint64_t>(position);
    } else {
        h.SetLocalHeaderOffset(static_cast<std::uint32_t>(position));
    }
    item.ActualMethod = l.method;
    return item;
}

// An item written with a data descriptor takes its CRC and sizes from the descriptor at
// `position` (-1: none was found) when the file holds it whole.
void TakeDataDescriptor(CentralHeader& h, TZAStream& s, std::int64_t position, std::int64_t size) {
    std::uint8_t desc[kDataDescriptorSize];
    if (position < 0 || position + static_cast<std::int64_t>(kDataDescriptorSize) > size ||
        !ReadAll(s, position, desc, kDataDescriptorSize))
        return;
    const DataDescriptor dd = DataDescriptor::Parse(desc);
    h.SetCrc32(dd.crc32);
    h.SetCompressedSize(dd.compressedSize);
    h.SetUncompressedSize(dd.uncompressedSize);
}

// Where the rebuild's scan goes on after the item whose local header is at `header` and whose
// data starts at `dataAt`. Signatures inside an item's data (a stored archive, quoted headers)
// are data: the scan skips the data where the header tells where it ends.
std::int64_t ScanResumesAt(const TDirItem& item, std::int64_t header, std::int64_t dataAt,
                           std::int64_t size) {
    std::int64_t next = header + 4;
    const std::int64_t packed = item.CompressedSize();
    if (!(item.Header.Flags() & kFlagDataDescriptor) && packed >= 0 && packed <= size - dataAt)
        next = std::max(next, dataAt + packed);
    return next;
}

} // namespace

bool IsUtf8Name(std::string_view s) {
    bool high = false;
    const std::size_t n = s.size();
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    auto in = [&](std::size_t i, unsigned lo, unsigned hi) {
        return i < n && b(i) >= lo && b(i) <= hi;
    };
    for (std::size_t i = 0; i < n;) {
        unsigned c = b(i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        high = true;
        if (c >= 0xC2 && c <= 0xDF && in(i + 1, 0x80, 0xBF)) {
            i += 2;
        } else if (c == 0xE0 && in(i + 1, 0xA0, 0xBF) && in(i + 2, 0x80, 0xBF)) {
            i += 3;
        } else if (c >= 0xE1 && c <= 0xEF && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF)) {
            i += 3;
        } else if (c == 0xF0 && in(i + 1, 0x90, 0xBF) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)) {
            i += 4;
        } else if (c >= 0xF1 && c <= 0xF3 && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)) {
            i += 4;
        } else if (c == 0xF4 && in(i + 1, 0x80, 0x8F) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)) {
            i += 4;
        } else {
            return false;
        }
    }
    return high;
}

std::u16string TZADirectoryReader::DecodeName(std::string_view raw, bool oem,
                                              bool detectUtf8) const {
    bool ascii = std::all_of(raw.begin(), raw.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return std::u16string(raw.begin(), raw.end());
    std::string bytes = oem ? platform::OemToAnsi(raw) : std::string(raw);
    if (detectUtf8 && IsUtf8Name(bytes)) return platform::Utf8ToUtf16(bytes);
    return platform::AnsiToUtf16(bytes);
}

bool TZADirectoryReader::OemNamesFor(std::uint16_t flags, std::uint32_t endSignature) const {
    return endSignature == kStandardSignatures.endRecord && s_.oemNames && !(flags & kFlagUtf8);
}

std::u16string TZADirectoryReader::InterpretExtra(TDirItem& item) const {
    const CentralHeader& h = item.Header;
    std::u16string replacedName;
    item.Extra.ForEach([&](const ExtraFields::Block& b) {
        ByteReader r({b.data, b.size});
        switch (b.id) {
        case kExtraZip64:
            item.HasZip64 = true;
            if (h.UncompressedSize() == kZip64Marker32 && r.Remaining() >= 8)
                item.Zip64UncompressedSize = r.U64();
            if (h.CompressedSize() == kZip64Marker32 && r.Remaining() >= 8)
                item.Zip64CompressedSize = r.U64();
            if (h.LocalHeaderOffset() == kZip64Marker32 && r.Remaining() >= 8)
                item.Zip64LocalHeaderOffset = r.U64();
            if (h.DiskStart() == kZip64Marker16 && r.Remaining() >= 2)
                item.Zip64DiskStart = r.U16();
            break;
        case kExtraUnicodeName:
            if (r.Remaining() >= 8 && r.U32() == kUnicodeNameTag) {
                std::size_t count = std::min<std::size_t>(r.U32(), r.Remaining() / 2);
                std::u16string name(count, u'\0');
                for (auto& c : name)
                    c = r.U16();
                if (replacedName.empty()) replacedName = std::move(item.FileName);
                item.FileName = std::move(name);
            }
            break;
        case kExtraAes:
            if (h.VersionNeeded() < kAlternativeVersionThreshold && r.Remaining() >= 7) {
                r.Skip(4);
                std::uint8_t strength = r.U8();
                std::uint16_t method = r.U16();
                if (strength >= 1 && strength <= 3)
                    item.CryptoAlgorithm = static_cast<TZACryptoAlgorithm>(strength);
                item.ActualMethod = method;
            }
            break;
        default:
            break;
        }
    });
    return replacedName;
}

void TZADirectoryReader::OpenVolume(std::int32_t number) {
    if (!volumes_) throw EZAException(neVolumeDeclined, s_.component);
    m_.Stream = &volumes_->Open(number);
}

std::optional<std::int64_t> TZADirectoryReader::FindEndRecord() {
    m_.Comment.clear();
    m_.End = EndRecord{};
    TZAStream& s = Stream();
    const std::int64_t size = s.Size();
    const std::int64_t window = std::min(size, kEndRecordSearchWindow);
    if (window < static_cast<std::int64_t>(kEndRecordSize)) return std::nullopt;
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(window));
    if (!s.ReadAt(size - window, tail.data(), window)) return std::nullopt;

    auto scan = [&](std::uint32_t signature) -> std::optional<std::int64_t> {
        bool seen = false;
        const std::optional<std::size_t> at = FindEndRecordIn(tail, signature, &seen);
        if (seen) m_.LastEndCandidateSignature = signature;
        if (!at) return std::nullopt;
        std::memcpy(m_.End.bytes.data(), tail.data() + *at, kEndRecordSize);
        m_.Comment.assign(reinterpret_cast<const char*>(tail.data() + *at + kEndRecordSize),
                          tail.size() - *at - kEndRecordSize);
        return size - window + static_cast<std::int64_t>(*at);
    };
    if (s_.standardSignatures) return scan(kStandardSignatures.endRecord);
    if (auto p = scan(kAlternativeSignatures.endRecord)) return p;
    return scan(kStandardSignatures.endRecord);
}

void TZADirectoryReader::Load() {
    std::optional<std::int64_t> end = FindEndRecord();
    if (!end) {
        Rebuild();
        return;
    }
    ReadDirectory(*end);
}

std::int64_t TZADirectoryReader::ReadZip64Records(std::int64_t endPosition) {
    // The locator lies just before the end record, the Zip64 end record where the locator
    // says. An archive appended to other data records that position relative to itself; then
    // the record is taken from just before the locator instead.
    constexpr auto kLocator = static_cast<std::int64_t>(kZip64LocatorSize);
    constexpr auto kEnd64 = static_cast<std::int64_t>(kZip64EndRecordSize);
    TZAStream& s = Stream();
    m_.IsZip64 = false;
    std::int64_t p = endPosition;
    Zip64Locator loc;
    if (p <= kLocator || !ReadAll(s, p - kLocator, loc.bytes.data(), kZip64LocatorSize) ||
        loc.Signature() != kZip64LocatorSignature)
        return p;
    m_.Locator = loc;
    m_.IsZip64 = true;
    p -= kLocator;
    if (p <= kEnd64) return p;
    std::optional<Zip64EndRecord> rec = Zip64EndRecordAt(s, loc.EndRecordPosition());
    if (!rec) rec = Zip64EndRecordAt(s, static_cast<std::uint64_t>(p - kEnd64));
    if (!rec) throw EZAException(neNoZip64EndRecord, s_.component);
    m_.Zip64End = *rec;
    return p - kEnd64;
}

void TZADirectoryReader::ReadDirectory(std::int64_t endPosition) {
    const std::int64_t recordsAt = ReadZip64Records(endPosition);
    if (!m_.IsZip64 && m_.End.TotalEntries() == kZip64Marker16) {
        Rebuild();
        return;
    }
    const std::int32_t lastDisk = LastDisk(m_);
    if (volumes_) volumes_->SetLastVolume(lastDisk);
    const bool spanning = s_.multiVolume;
    if (spanning) OpenVolume(DirectoryDisk(m_));
    const std::int64_t position = DirectoryStart(m_, recordsAt, spanning);
    const std::uint32_t count =
        m_.IsZip64 ? static_cast<std::uint32_t>(m_.Zip64End.TotalEntries()) : m_.End.TotalEntries();
    try {
        m_.MultiVolume = spanning;
        order_ = TZARecordOrder(spanning, m_.IsZip64);
        ReadEntries(position, count);
    } catch (const EZAError&) {
        if (!s_.tolerant) throw;
        Rebuild();
        return;
    }
    if (!s_.tolerant && !spanning &&
        PackedSizesExceed(m_.Directory, static_cast<std::uint64_t>(Stream().Size())))
        throw EZAException(nePackedSizesTooLarge, s_.component);
    bool shifted = false;
    if (lastDisk == 0) {
        DetectArchiveStart(recordsAt, count);
        shifted = ShiftRelativeOffsets();
    }
    // Two items sharing local records (an archive that makes much out of little, or one that
    // lies about where its items are) are refused whole.
    if (const auto overlap = m_.OrderLocalRecords(shifted ? nullptr : &order_))
        throw EZAException(neOverlappingItems, s_.component,
                           {platform::WithSeparators(m_.Directory.Item(overlap->first).FileName),
                            platform::WithSeparators(m_.Directory.Item(overlap->second).FileName)});
}

void TZADirectoryReader::ReadEntries(std::int64_t position, std::uint32_t count) {
    TZAStream* s = &Stream();
    const bool spanning = s_.multiVolume;
    const std::uint32_t centralSignature = Signatures().centralHeader;
    const std::uint32_t endSignature = m_.End.Signature();
    if (position < 0 || position > s->Size()) throw EZAException(neArchiveDamaged, s_.component);
    // Never trust the count for memory: each entry takes at least 46 bytes.
    const std::int64_t room = s->Size() - position;
    const std::size_t expected =
        static_cast<std::size_t>(std::min<std::int64_t>(count, room / kCentralHeaderSize));
    m_.Directory.SetCount(0);
    m_.Directory.Reserve(expected);
    m_.StoredNames.clear();

    SequentialReader r(*s, position);
    std::vector<std::uint8_t> scratch;
    auto chars = [](std::span<const std::uint8_t> b) {
        return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        if (spanning && s->Size() - r.Position() < static_cast<std::int64_t>(kCentralHeaderSize)) {
            OpenVolume(volumes_ ? volumes_->Current() + 1 : 0);
            s = &Stream();
            r = SequentialReader(*s, 0);
        }
        if (i == 0) m_.DirectoryPosition = r.Position();
        TDirItem item;
        if (!r.Read(item.Header.bytes.data(), kCentralHeaderSize))
            throw EZAError(u"Stream read error");
        const CentralHeader& h = item.Header;
        if (h.Signature() != centralSignature) throw EZAException(neArchiveDamaged, s_.component);
        // Every new entry starts with the classic algorithm, which is also what an
        // encrypted entry below the alternative threshold is set to.
        item.CryptoAlgorithm = TZACryptoAlgorithm::caPkzipClassic;
        item.ActualMethod = h.Method();
        const std::string_view rawName = chars(r.Take(h.NameLength(), scratch));
        StoredName stored(rawName);
        item.FileName = DecodeName(rawName, OemNamesFor(h.Flags(), endSignature), true);
        item.Extra.Assign(r.Take(h.ExtraLength(), scratch));
        stored.Keep(item, InterpretExtra(item), m_);
        if (h.CommentLength()) item.Comment = r.ReadString(h.CommentLength());
        order_.Next(static_cast<std::int32_t>(i), item);
        m_.Directory.Add(std::move(item));
    }
}

void TZADirectoryReader::DetectArchiveStart(std::int64_t endPosition, std::uint32_t count) {
    m_.ArchiveStart = 0;
    if (count == 0) {
        m_.ArchiveStart = endPosition;
        return;
    }
    if (m_.Directory.Count() == 0) return;
    const CentralHeader& c = m_.Directory.Item(0).Header;
    const std::int64_t from = m_.Directory.Item(0).LocalHeaderOffset();
    TZAStream& s = Stream();
    SignatureScanner scan(s, Signatures().localHeader, from, 10000, kLocalHeaderSize);
    for (std::int64_t hit; (hit = scan.Next()) >= 0;) {
        if (hit == 0) {
            m_.ArchiveStart = 0;
            return;
        }
        const std::optional<LocalHeader> l = LocalHeaderAt(scan, s, hit);
        if (l && SameItem(*l, c)) {
            m_.ArchiveStart = hit;
            return;
        }
    }
}

bool TZADirectoryReader::ShiftRelativeOffsets() {
    const std::uint32_t start = static_cast<std::uint32_t>(m_.ArchiveStart);
    TZADirArray& dir = m_.Directory;
    std::int32_t first = -1;
    for (std::int32_t i = 0; i < dir.Count() && first < 0; ++i)
        if (dir.Item(i).Header.CompressedSize() != 0) first = i;
    if (first < 0 || dir.Item(first).Header.LocalHeaderOffset() >= start) return false;
    for (std::int32_t i = 0; i < dir.Count(); ++i) {
        CentralHeader& h = dir.Item(i).Header;
        // Folder entries and Zip64 offsets stay as recorded.
        if ((h.ExternalAttributes() & kAttrDirectory) || h.LocalHeaderOffset() == kZip64Marker32)
            continue;
        h.SetLocalHeaderOffset(h.LocalHeaderOffset() + start);
    }
    return true;
}

void TZADirectoryReader::ReadLocalNameAndExtra(TDirItem& item, const LocalHeader& l,
                                               std::int64_t position) {
    TZAStream& s = Stream();
    const bool oemAllowed = m_.LastEndCandidateSignature == kStandardSignatures.endRecord;
    const std::int64_t nameAt = position + static_cast<std::int64_t>(kLocalHeaderSize);
    std::string name(l.nameLength, '\0');
    if (ReadAll(s, nameAt, name.data(), name.size()))
        item.FileName = DecodeName(
            name, oemAllowed && OemNamesFor(l.flags, kStandardSignatures.endRecord), false);
    else
        name.clear();
    StoredName stored(name);
    if (l.extraLength > 0) {
        std::vector<std::uint8_t> extra(l.extraLength);
        if (ReadAll(s, nameAt + l.nameLength, extra.data(), extra.size())) item.Extra.Assign(extra);
    }
    stored.Keep(item, InterpretExtra(item), m_);
}

void TZADirectoryReader::Rebuild() {
    if (s_.multiVolume) throw EZAException(neRebuildSpanned, s_.component);
    m_.Rebuilt = true;
    m_.Directory.SetCount(0);
    m_.StoredNames.clear();
    TZAStream& s = Stream();
    const std::int64_t size = s.Size();
    const std::uint32_t localSignature = Signatures().localHeader;
    ForwardFinder descriptors(s, kDataDescriptorSignature);
    ForwardFinder locals(s, localSignature);
    // Behind an executable (a package's stub) the archive begins where the image ends: the
    // signatures its code and data hold by chance, or as the constants the engine compares
    // with, are no records. A file cut off inside the image holds no archive at all.
    const std::int64_t from = std::min(ExecutableImageEnd(s).value_or(0), size);
    SignatureScanner scan(s, localSignature, from, 65535, kLocalHeaderSize);
    bool anyHit = false;
    std::int64_t damagedHeaders = 0;
    for (std::int64_t q; (q = scan.Next()) >= 0;) {
        if (q + static_cast<std::int64_t>(kLocalHeaderSize) > size) continue;
        anyHit = true;
        const std::optional<LocalHeader> l = LocalHeaderAt(scan, s, q);
        if (!l || static_cast<std::int64_t>(l->compressedSize) >= size ||
            l->extraLength > kMaxLocalExtraForRebuild)
            continue;
        // A header whose name and extra field run past the file or into the next local
        // header is damaged, not an item. So the headers taken never share a byte, and what
        // the rebuild keeps is bounded by the file's size whatever the lengths claim.
        const std::int64_t headerEnd =
            q + static_cast<std::int64_t>(kLocalHeaderSize) + l->nameLength + l->extraLength;
        const std::int64_t nextLocal = locals.Find(q + 1);
        if (headerEnd > size || (nextLocal >= 0 && headerEnd > nextLocal)) {
            ++damagedHeaders;
            continue;
        }
        TDirItem item = RebuiltItem(*l, q, localSignature);
        ReadLocalNameAndExtra(item, *l, q);
        if (l->flags & kFlagDataDescriptor)
            TakeDataDescriptor(item.Header, s, descriptors.Find(headerEnd), size);
        scan.ContinueAt(ScanResumesAt(item, q, headerEnd, size));
        m_.Directory.Add(std::move(item));
    }
    if (!anyHit) throw EZAException(neNoArchive, s_.component);
    // Headers were there, and every one was damaged: nothing is left to read.
    if (m_.Directory.Count() == 0 && damagedHeaders > 0)
        throw EZAException(neArchiveDamaged, s_.component);
    m_.DirectoryPosition = size;
    // Read in file order, each item after the one before: only the local extra fields can
    // still make one reach into the next, which extraction checks.
    m_.MultiVolume = false;
    m_.OrderLocalRecords();
}

void TZADirectoryReader::WriteEmptyDirectory() {
    TZAStream& s = Stream();
    const std::size_t comment = std::min(m_.Comment.size(), kMaxCommentLength);
    EndRecord rec;
    rec.SetSignature(Signatures().endRecord);
    rec.SetDirectoryOffset(static_cast<std::uint32_t>(m_.ArchiveStart));
    rec.SetCommentLength(static_cast<std::uint16_t>(comment));
    s.Seek(m_.ArchiveStart);
    s.Write(rec.bytes.data(), kEndRecordSize);
    if (comment > 0) s.Write(m_.Comment.data(), static_cast<std::int64_t>(comment));
}

} // namespace klv::zip
