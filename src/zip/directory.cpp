#include "zip/directory.h"

#include <algorithm>

#include "platform/text.h"
#include "zip/errors.h"

namespace klv::zip {

TDirItem::TDirItem(const TDirItem& other)
    : Header(other.Header), FileName(other.FileName), Comment(other.Comment), Extra(other.Extra),
      CryptoAlgorithm(other.CryptoAlgorithm), HasZip64(other.HasZip64), Selected(other.Selected),
      UpdateState(other.UpdateState), ActualMethod(other.ActualMethod),
      Zip64DiskStart(other.Zip64DiskStart), StoredNameIndex(other.StoredNameIndex),
      Zip64UncompressedSize(other.Zip64UncompressedSize),
      Zip64CompressedSize(other.Zip64CompressedSize),
      Zip64LocalHeaderOffset(other.Zip64LocalHeaderOffset),
      Update(other.Update ? std::make_unique<TDirItemUpdate>(*other.Update) : nullptr) {}

TDirItem& TDirItem::operator=(const TDirItem& other) {
    if (this != &other) *this = TDirItem(other);
    return *this;
}

namespace {

bool HasLocalRecords(const TDirItem& item) {
    return !(item.Header.ExternalAttributes() & kAttrDirectory);
}

// Where an item's local records start: disk, then offset (unsigned: a Zip64 offset beyond
// the signed range sorts last).
struct RecordKey {
    std::uint32_t disk;
    std::uint64_t offset;
    auto operator<=>(const RecordKey&) const = default;
};

RecordKey KeyOf(const TZADirManager& m, const TDirItem& item) {
    std::uint32_t disk = 0;
    if (m.MultiVolume) {
        disk = item.Header.DiskStart();
        if (disk == kZip64Marker16) disk = m.IsZip64 ? item.Zip64DiskStart : 0;
    }
    return {disk, static_cast<std::uint64_t>(item.LocalHeaderOffset())};
}

// The first byte after the item's local header, name and data as the directory records them
// (the local extra field, unknown here, can only make it later).
std::uint64_t LeastRecordEnd(const TDirItem& item) {
    const std::uint64_t start = static_cast<std::uint64_t>(item.LocalHeaderOffset());
    const std::uint64_t header = kLocalHeaderSize + item.Header.NameLength();
    const std::uint64_t data = static_cast<std::uint64_t>(item.CompressedSize());
    const std::uint64_t end = start + header;
    if (end < start || end + data < end) return UINT64_MAX;
    return end + data;
}

} // namespace

void TZARecordOrder::Next(std::int32_t index, const TDirItem& item) {
    if (!inOrder_ || overlap_ || !HasLocalRecords(item)) return;
    std::uint32_t disk = 0;
    if (multiVolume_) {
        disk = item.Header.DiskStart();
        if (disk == kZip64Marker16) disk = zip64_ ? item.Zip64DiskStart : 0;
    }
    const std::uint64_t offset = static_cast<std::uint64_t>(item.LocalHeaderOffset());
    if (previous_ >= 0) {
        if (disk < previousDisk_ || (disk == previousDisk_ && offset <= previousOffset_)) {
            inOrder_ = false;
            return;
        }
        if (disk == previousDisk_ && previousEnd_ > offset) {
            overlap_ = std::pair{previous_, index};
            return;
        }
    }
    previous_ = index;
    previousDisk_ = disk;
    previousOffset_ = offset;
    previousEnd_ = LeastRecordEnd(item);
}

std::optional<std::pair<std::int32_t, std::int32_t>>
TZADirManager::OrderLocalRecords(const TZARecordOrder* seen) {
    OffsetOrder.clear();
    const std::int32_t count = Directory.Count();
    // Most archives list their items in file order: then one pass checks them, each item
    // against the one before, and no index is kept.
    TZARecordOrder order(MultiVolume, IsZip64);
    if (!seen) {
        for (std::int32_t i = 0; i < count && order.InOrder() && !order.Overlap(); ++i)
            order.Next(i, Directory.Item(i));
        seen = &order;
    }
    if (seen->InOrder() || seen->Overlap()) return seen->Overlap();

    for (std::int32_t i = 0; i < count; ++i)
        if (HasLocalRecords(Directory.Item(i))) OffsetOrder.push_back(i);
    std::sort(OffsetOrder.begin(), OffsetOrder.end(), [&](std::int32_t x, std::int32_t y) {
        const RecordKey kx = KeyOf(*this, Directory.Item(x));
        const RecordKey ky = KeyOf(*this, Directory.Item(y));
        return kx != ky ? kx < ky : x < y;
    });
    for (std::size_t n = 1; n < OffsetOrder.size(); ++n) {
        const TDirItem& before = Directory.Item(OffsetOrder[n - 1]);
        const TDirItem& item = Directory.Item(OffsetOrder[n]);
        if (KeyOf(*this, before).disk == KeyOf(*this, item).disk &&
            LeastRecordEnd(before) > static_cast<std::uint64_t>(item.LocalHeaderOffset()))
            return std::pair{OffsetOrder[n - 1], OffsetOrder[n]};
    }
    return std::nullopt;
}

std::int64_t TZADirManager::NextLocalHeader(std::int32_t index) const {
    const TDirItem& item = Directory.Item(index);
    if (!HasLocalRecords(item)) return -1;
    const RecordKey key = KeyOf(*this, item);
    std::int32_t next = -1;
    if (OffsetOrder.empty()) {
        for (std::int32_t i = index + 1; i < Directory.Count() && next < 0; ++i)
            if (HasLocalRecords(Directory.Item(i))) next = i;
    } else {
        const auto at = std::lower_bound(OffsetOrder.begin(), OffsetOrder.end(), key,
                                         [&](std::int32_t i, const RecordKey& k) {
                                             return KeyOf(*this, Directory.Item(i)) < k;
                                         });
        if (at != OffsetOrder.end() && at + 1 != OffsetOrder.end()) next = *(at + 1);
    }
    if (next < 0) return -1;
    const RecordKey following = KeyOf(*this, Directory.Item(next));
    if (following.disk != key.disk || following.offset <= key.offset) return -1;
    return Directory.Item(next).LocalHeaderOffset();
}

bool TZADirManager::IsStoredName(const TDirItem& item, std::span<const std::uint8_t> bytes) const {
    if (item.StoredNameIndex >= 0) {
        if (static_cast<std::size_t>(item.StoredNameIndex) >= StoredNames.size()) return false;
        const std::string& stored = StoredNames[static_cast<std::size_t>(item.StoredNameIndex)];
        return std::equal(stored.begin(), stored.end(), bytes.begin(), bytes.end(),
                          [](char s, std::uint8_t b) { return static_cast<std::uint8_t>(s) == b; });
    }
    return std::equal(item.FileName.begin(), item.FileName.end(), bytes.begin(), bytes.end(),
                      [](char16_t s, std::uint8_t b) { return s < 0x80 && s == b; });
}

TZAStringHash::TZAStringHash(std::size_t buckets) : heads_(std::max<std::size_t>(buckets, 1), -1) {}

std::uint32_t TZAStringHash::Hash(std::u16string_view s) {
    std::uint32_t h = 0;
    for (char16_t c : s)
        h = ((h << 2) | (h >> 30)) ^ c;
    return h;
}

std::uint32_t TZAStringHash::HashLower(std::u16string_view s) {
    std::uint32_t h = 0;
    for (char16_t c : s)
        h = ((h << 2) | (h >> 30)) ^ platform::LowerUnit(c);
    return h;
}

void TZAStringHash::Add(std::u16string_view key, std::int32_t value) {
    Add(Hash(key), value);
}

void TZAStringHash::Add(std::uint32_t hash, std::int32_t value) {
    if (static_cast<std::size_t>(value) >= next_.size())
        next_.resize(static_cast<std::size_t>(value) + 1, -1);
    std::int32_t& head = heads_[hash % heads_.size()];
    next_[static_cast<std::size_t>(value)] = head;
    head = value;
}

std::u16string TZAHashedStringList::Key(std::u16string_view s) const {
    return CaseSensitive ? std::u16string(s) : platform::LowerCase(s);
}

std::u16string TZAHashedStringList::NameKey(std::int32_t i) const {
    const std::u16string& s = items_[static_cast<std::size_t>(i)];
    return Key(std::u16string_view(s).substr(0, s.find(u'=')));
}

std::int32_t TZAHashedStringList::Add(std::u16string s) {
    items_.push_back(std::move(s));
    std::int32_t i = Count() - 1;
    if (index_) {
        index_->Add(Key(items_.back()), i);
        if (items_.size() > 5 * index_->BucketCount()) index_.reset();
    }
    nameIndex_.reset();
    return i;
}

void TZAHashedStringList::Insert(std::int32_t index, std::u16string s) {
    items_.insert(items_.begin() + index, std::move(s));
    index_.reset();
    nameIndex_.reset();
}

void TZAHashedStringList::Delete(std::int32_t index) {
    items_.erase(items_.begin() + index);
    index_.reset();
    nameIndex_.reset();
}

void TZAHashedStringList::Put(std::int32_t index, std::u16string s) {
    items_[static_cast<std::size_t>(index)] = std::move(s);
    index_.reset();
    nameIndex_.reset();
}

void TZAHashedStringList::Clear() {
    items_.clear();
    items_.shrink_to_fit();
    index_.reset();
    nameIndex_.reset();
}

std::int32_t TZAHashedStringList::IndexOf(std::u16string_view s) const {
    if (!index_) {
        index_ = std::make_unique<TZAStringHash>(std::max<std::size_t>(items_.size(), 1000));
        // Items go to the head of their chain: of equal strings the last one is found.
        for (std::int32_t i = 0; i < Count(); ++i)
            index_->Add(Key(items_[static_cast<std::size_t>(i)]), i);
    }
    std::u16string key = Key(s);
    if (CaseSensitive)
        return index_->Find(key, [&](std::int32_t i) -> std::u16string_view {
            return items_[static_cast<std::size_t>(i)];
        });
    return index_->Find(key,
                        [&](std::int32_t i) { return Key(items_[static_cast<std::size_t>(i)]); });
}

std::int32_t TZAHashedStringList::IndexOfName(std::u16string_view name) const {
    if (!nameIndex_) {
        nameIndex_ = std::make_unique<TZAStringHash>(256);
        for (std::int32_t i = 0; i < Count(); ++i)
            nameIndex_->Add(NameKey(i), i);
    }
    return nameIndex_->Find(Key(name), [&](std::int32_t i) { return NameKey(i); });
}

namespace {
bool EqualsLowered(std::u16string_view name, std::u16string_view lower) {
    if (name.size() != lower.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (platform::LowerUnit(name[i]) != lower[i]) return false;
    return true;
}
} // namespace

void TZADirArray::Grow(std::size_t required) {
    if (required <= items_.capacity()) return;
    growStep_ = std::min<std::size_t>(growStep_ * 2, 10000);
    items_.reserve(std::max(items_.capacity() + growStep_, required));
}

void TZADirArray::SetCount(std::int32_t count) {
    index_.reset();
    if (count <= 0) {
        std::vector<TDirItem>().swap(items_);
        growStep_ = 250;
        return;
    }
    Grow(static_cast<std::size_t>(count));
    items_.resize(static_cast<std::size_t>(count));
}

TDirItem TZADirArray::Get(std::int32_t index) const {
    if (index < 0 || index >= Count()) throw EZAException(neGetIndex, Owner);
    return items_[static_cast<std::size_t>(index)];
}

TDirItem& TZADirArray::Item(std::int32_t index) {
    if (index < 0 || index >= Count()) throw EZAException(neItemIndex, Owner);
    return items_[static_cast<std::size_t>(index)];
}

const TDirItem& TZADirArray::Item(std::int32_t index) const {
    if (index < 0 || index >= Count()) throw EZAException(neItemIndex, Owner);
    return items_[static_cast<std::size_t>(index)];
}

void TZADirArray::Put(std::int32_t index, TDirItem item) {
    if (index < 0 || index >= Count()) throw EZAException(nePutIndex, Owner);
    items_[static_cast<std::size_t>(index)] = std::move(item);
    index_.reset();
}

void TZADirArray::Add(TDirItem item) {
    Grow(items_.size() + 1);
    items_.push_back(std::move(item));
    if (index_) {
        index_->Add(TZAStringHash::HashLower(items_.back().FileName), Count() - 1);
        if (items_.size() > 5 * index_->BucketCount()) index_.reset();
    }
}

void TZADirArray::Delete(std::int32_t index) {
    if (index < 0 || index >= Count()) throw EZAException(neDeleteIndex, Owner);
    items_.erase(items_.begin() + index);
    index_.reset();
}

void TZADirArray::Rename(std::int32_t index, const std::u16string& name) {
    TDirItem& item = Item(index);
    std::int32_t existing = IndexOfName(platform::LowerCase(name));
    if (existing >= 0 && existing != index) throw EZAException(neDuplicateName, Owner);
    item.FileName = name;
    index_.reset();
}

std::int32_t TZADirArray::IndexOfName(std::u16string_view lowerName) const {
    if (!index_) {
        index_ = std::make_unique<TZAStringHash>(std::max<std::size_t>(items_.size(), 1000));
        for (std::int32_t i = 0; i < Count(); ++i)
            index_->Add(TZAStringHash::HashLower(items_[static_cast<std::size_t>(i)].FileName), i);
    }
    return index_->Find(TZAStringHash::Hash(lowerName), [&](std::int32_t i) {
        return EqualsLowered(items_[static_cast<std::size_t>(i)].FileName, lowerName);
    });
}

} // namespace klv::zip
