// The in-memory directory of an open archive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zip/records.h"
#include "zip/streams.h"
#include "zip/types.h"

namespace klv::zip {

class TZAComponent;

// Fields of an entry that only the archive-updating operations use; absent while reading.
struct TDirItemUpdate {
    std::u16string NewName;
    std::string NewComment;
    std::shared_ptr<TZAStream> NewData;
    bool OwnsNewData = false;
    std::u16string SourceName;
};

// One archive entry.
struct TDirItem {
    CentralHeader Header;
    std::u16string FileName; // stored name, '/' separators
    std::string Comment;
    ExtraFields Extra;
    TZACryptoAlgorithm CryptoAlgorithm = TZACryptoAlgorithm::caPkzipClassic;
    bool HasZip64 = false;
    bool Selected = false;
    TZAProcessOperation UpdateState = TZAProcessOperation::poNone;
    std::uint16_t ActualMethod = 0;
    std::uint32_t Zip64DiskStart = 0;
    // The name's bytes as its record stores them: -1 when they are FileName's units (all
    // below 0x80), else their position in the manager's StoredNames.
    std::int32_t StoredNameIndex = -1;
    std::uint64_t Zip64UncompressedSize = 0;
    std::uint64_t Zip64CompressedSize = 0;
    std::uint64_t Zip64LocalHeaderOffset = 0;
    std::unique_ptr<TDirItemUpdate> Update;

    TDirItem() = default;
    TDirItem(TDirItem&&) noexcept = default;
    TDirItem& operator=(TDirItem&&) noexcept = default;
    TDirItem(const TDirItem& other);
    TDirItem& operator=(const TDirItem& other);

    // The 64-bit values: the Zip64 value where the 32-bit field holds the marker.
    std::int64_t CompressedSize() const {
        return Header.CompressedSize() == kZip64Marker32
                   ? static_cast<std::int64_t>(Zip64CompressedSize)
                   : Header.CompressedSize();
    }
    std::int64_t UncompressedSize() const {
        return Header.UncompressedSize() == kZip64Marker32
                   ? static_cast<std::int64_t>(Zip64UncompressedSize)
                   : Header.UncompressedSize();
    }
    std::int64_t LocalHeaderOffset() const {
        return Header.LocalHeaderOffset() == kZip64Marker32
                   ? static_cast<std::int64_t>(Zip64LocalHeaderOffset)
                   : Header.LocalHeaderOffset();
    }
    bool Encrypted() const { return Header.Flags() & kFlagEncrypted; }
};

// Chained hash table from strings to positions in a list that owns the strings.
class TZAStringHash {
  public:
    explicit TZAStringHash(std::size_t buckets);
    static std::uint32_t Hash(std::u16string_view s);
    // The hash of the lower-cased string, without making it.
    static std::uint32_t HashLower(std::u16string_view s);
    // `key` is the string at `value`, already in the index's case.
    void Add(std::u16string_view key, std::int32_t value);
    void Add(std::uint32_t hash, std::int32_t value);
    // Walks the chain of `hash`; `equal(i)` tells whether position i holds the key.
    template <class Equal> std::int32_t Find(std::uint32_t hash, Equal&& equal) const {
        for (std::int32_t i = heads_[hash % heads_.size()]; i >= 0;
             i = next_[static_cast<std::size_t>(i)])
            if (equal(i)) return i;
        return -1;
    }
    template <class KeyAt> std::int32_t Find(std::u16string_view key, KeyAt&& keyAt) const {
        return Find(Hash(key), [&](std::int32_t i) { return keyAt(i) == key; });
    }
    std::size_t BucketCount() const { return heads_.size(); }

  private:
    std::vector<std::int32_t> heads_;
    std::vector<std::int32_t> next_; // chain links, by value
};

// A list of wide strings with lazily built hash indexes over whole strings and over the
// name part (before '=') of name-value entries.
class TZAHashedStringList {
  public:
    bool CaseSensitive = false;

    std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
    const std::u16string& operator[](std::int32_t i) const {
        return items_[static_cast<std::size_t>(i)];
    }
    std::int32_t Add(std::u16string s);
    void Insert(std::int32_t index, std::u16string s);
    void Delete(std::int32_t index);
    void Put(std::int32_t index, std::u16string s);
    void Clear();
    void Reserve(std::size_t n) { items_.reserve(n); }
    std::int32_t IndexOf(std::u16string_view s) const;
    std::int32_t IndexOfName(std::u16string_view name) const;

  private:
    std::u16string Key(std::u16string_view s) const;
    std::u16string NameKey(std::int32_t i) const;
    std::vector<std::u16string> items_;
    mutable std::unique_ptr<TZAStringHash> index_;
    mutable std::unique_ptr<TZAStringHash> nameIndex_;
};

// The growable array of entries, with a hash index over their lower-cased names. The index
// is built at the first lookup, kept up to date by appends and rebuilt after other changes;
// it holds positions only, the names themselves stay in the entries.
class TZADirArray {
  public:
    std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
    void SetCount(std::int32_t count);
    TDirItem Get(std::int32_t index) const; // a copy; code 2 on a bad index
    TDirItem& Item(std::int32_t index);     // a reference; code 3 on a bad index
    const TDirItem& Item(std::int32_t index) const;
    void Put(std::int32_t index, TDirItem item); // code 1 on a bad index
    void Add(TDirItem item);
    void Delete(std::int32_t index);                             // code 4 on a bad index
    void Rename(std::int32_t index, const std::u16string& name); // code 59 on a clash
    // Position of an entry by lower-cased stored name, or -1 (of equal names, the last).
    std::int32_t IndexOfName(std::u16string_view lowerName) const;
    void Reserve(std::size_t n) { items_.reserve(n); }

    const TZAComponent* Owner = nullptr;

  private:
    void Grow(std::size_t required);
    std::vector<TDirItem> items_;
    mutable std::unique_ptr<TZAStringHash> index_;
    std::size_t growStep_ = 250; // doubled before each growth: 500, 1000, ... 10000
};

// Follows items in directory order: whether their local records come in file order, and the
// first two (in that order) whose records overlap as far as the directory tells.
class TZARecordOrder {
  public:
    TZARecordOrder(bool multiVolume, bool zip64) : multiVolume_(multiVolume), zip64_(zip64) {}
    void Next(std::int32_t index, const TDirItem& item);
    bool InOrder() const { return inOrder_; }
    const std::optional<std::pair<std::int32_t, std::int32_t>>& Overlap() const { return overlap_; }

  private:
    bool multiVolume_, zip64_;
    bool inOrder_ = true;
    std::optional<std::pair<std::int32_t, std::int32_t>> overlap_;
    std::int32_t previous_ = -1;
    std::uint32_t previousDisk_ = 0;
    std::uint64_t previousOffset_ = 0, previousEnd_ = 0;
};

// One per open archive: the records read from its end and the directory.
struct TZADirManager {
    TZAStream* Stream = nullptr;
    bool Creating = false;
    bool StreamSupplied = false;
    TZAComponent* Owner = nullptr;
    TZADirArray Directory;
    TZADirArray UpdateDirectory;
    std::string Comment;
    Zip64Locator Locator;
    Zip64EndRecord Zip64End;
    EndRecord End;
    std::int64_t ArchiveStart = 0;
    bool IsZip64 = false;
    bool Aborted = false;
    std::int64_t DirectoryPosition = 0;
    // Signature of the last end-record candidate seen by the search (0: none).
    std::uint32_t LastEndCandidateSignature = 0;
    // The directory was rebuilt from local headers: the recorded one was missing or unusable.
    bool Rebuilt = false;
    // Stored names that are not plain ASCII (see TDirItem::StoredNameIndex).
    std::vector<std::string> StoredNames;
    // The items with local records (folder entries have none that is read), by disk and local
    // offset; empty when the directory lists them in that order already.
    std::vector<std::int32_t> OffsetOrder;

    // Offsets count per volume in a split or spanned archive, else from the file's start.
    bool MultiVolume = false;

    // Fills OffsetOrder and returns the first two items whose local records overlap as far
    // as the directory tells (local header, name, data), or nothing. `seen`: the items were
    // followed as they were read, and their offsets have not changed since.
    std::optional<std::pair<std::int32_t, std::int32_t>>
    OrderLocalRecords(const TZARecordOrder* seen = nullptr);
    // True when `bytes` are the item's name as its directory record stores it.
    bool IsStoredName(const TDirItem& item, std::span<const std::uint8_t> bytes) const;
    // The local header offset of the item that follows `index` on its disk, or -1 (the last
    // one, a folder entry).
    std::int64_t NextLocalHeader(std::int32_t index) const;
};

} // namespace klv::zip
