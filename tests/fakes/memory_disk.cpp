#include "fakes/memory_disk.h"

#include <vector>

namespace klv::fakes {

using platform::DiskStatus;
using platform::EntryKind;

namespace {

constexpr int kNotFound = 2, kDenied = 5, kInUse = 32, kExists = 183, kNotEmpty = 145, kLoop = 1921;

std::vector<std::u16string> Parts(const std::u16string& canonical) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= canonical.size(); ++at)
        if (at == canonical.size() || canonical[at] == u'\\') {
            parts.push_back(canonical.substr(start, at - start));
            start = at + 1;
        }
    return parts;
}

std::u16string ParentOf(const std::u16string& key) {
    const std::size_t at = key.rfind(u'\\');
    return at == std::u16string::npos ? key : key.substr(0, at);
}

bool IsRoot(const std::u16string& key) {
    return key.find(u'\\') == std::u16string::npos;
}

// The path above the last part, as it was written (folders made on the way keep its case).
std::u16string WrittenParent(const std::u16string& path) {
    std::u16string parent = path;
    while (!parent.empty() && (parent.back() == u'\\' || parent.back() == u'/'))
        parent.pop_back();
    const std::size_t at = parent.find_last_of(u"\\/");
    return at == std::u16string::npos ? std::u16string() : parent.substr(0, at);
}

// The last part of a path as it was written.
std::u16string NameIn(const std::u16string& path) {
    std::u16string name = path;
    while (!name.empty() && (name.back() == u'\\' || name.back() == u'/'))
        name.pop_back();
    const std::size_t at = name.find_last_of(u"\\/");
    return at == std::u16string::npos ? name : name.substr(at + 1);
}

// The name a folder lists: as it was written, unless that was not the stored key's last part
// (a name written as "." or ".." resolves elsewhere; listing it would lead back up the tree).
std::u16string ListedName(const std::u16string& written, const std::u16string& key) {
    std::u16string upper = written;
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return upper == key ? written : key;
}

class MemoryFile final : public platform::DiskFile {
  public:
    explicit MemoryFile(MemoryDisk::Entry& entry) : entry_(entry) {}
    DiskStatus Write(std::string_view bytes) override {
        entry_.data += bytes;
        return {};
    }
    DiskStatus WriteAt(std::int64_t offset, std::string_view bytes) override {
        const auto at = static_cast<std::size_t>(offset);
        if (entry_.data.size() < at + bytes.size()) entry_.data.resize(at + bytes.size());
        entry_.data.replace(at, bytes.size(), bytes);
        return {};
    }
    DiskStatus SetSize(std::int64_t size) override {
        entry_.data.resize(static_cast<std::size_t>(size));
        return {};
    }
    DiskStatus Flush() override { return {}; }
    DiskStatus SetDosStamp(std::uint32_t stamp) override {
        entry_.stamp = stamp;
        return {};
    }
    DiskStatus SetAttributes(std::uint32_t attributes) override {
        entry_.attributes = attributes & ~0x10u;
        return {};
    }
    std::int64_t Size() override { return static_cast<std::int64_t>(entry_.data.size()); }

  private:
    MemoryDisk::Entry& entry_;
};

} // namespace

std::u16string MemoryDisk::Canonical(const std::u16string& path) {
    std::u16string upper = path;
    for (char16_t& c : upper) {
        if (c == u'/') c = u'\\';
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    const std::vector<std::u16string> parts = Parts(upper);
    std::vector<std::u16string> kept{parts[0]};
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty() || parts[i] == u".") continue;
        if (parts[i] == u"..") {
            if (kept.size() > 1) kept.pop_back();
            continue;
        }
        kept.push_back(parts[i]);
    }
    std::u16string key = kept[0];
    for (std::size_t i = 1; i < kept.size(); ++i)
        key += u'\\' + kept[i];
    return key;
}

std::optional<std::u16string> MemoryDisk::Resolve(const std::u16string& path,
                                                  bool followLast) const {
    std::u16string key = Canonical(path);
    for (int hops = 0;; ++hops) {
        const std::vector<std::u16string> parts = Parts(key);
        std::u16string at = parts[0];
        bool followed = false;
        for (std::size_t i = 1; i < parts.size() && !followed; ++i) {
            at += u'\\' + parts[i];
            const auto entry = entries_.find(at);
            if (entry == entries_.end() || entry->second.kind != EntryKind::Link) continue;
            if (i + 1 == parts.size() && !followLast) continue;
            if (hops > 32) return std::nullopt;
            std::u16string rest;
            for (std::size_t j = i + 1; j < parts.size(); ++j)
                rest += u'\\' + parts[j];
            key = Canonical(entry->second.target + rest);
            followed = true;
        }
        if (!followed) return key;
    }
}

const MemoryDisk::Entry* MemoryDisk::At(const std::optional<std::u16string>& key) const {
    static const Entry root;
    if (!key) return nullptr;
    if (IsRoot(*key)) return &root;
    const auto entry = entries_.find(*key);
    return entry == entries_.end() ? nullptr : &entry->second;
}

bool MemoryDisk::ParentIsFolder(const std::u16string& key) const {
    const Entry* parent = At(Resolve(ParentOf(key), true));
    return parent && parent->kind == EntryKind::Folder;
}

bool MemoryDisk::Add(const std::u16string& path, Entry entry, Owner owner) {
    const std::optional<std::u16string> key = Resolve(path, false);
    if (!key || IsRoot(*key) || At(key)) return false;
    const std::u16string parent = ParentOf(*key);
    if (!IsRoot(parent) && !At(Resolve(parent, true)) && !AddFolder(WrittenParent(path), owner))
        return false;
    if (!ParentIsFolder(*key)) return false;
    entry.name = NameIn(path);
    entries_[*Resolve(path, false)] = std::move(entry);
    return true;
}

platform::DiskStatus MemoryDisk::Refused(const std::u16string& key, bool changesFile) const {
    for (const std::u16string& folder : denied_)
        if (key == folder || key.starts_with(folder + u'\\'))
            return {platform::DiskFailure::Denied, kDenied};
    const auto entry = entries_.find(key);
    if (!changesFile || entry == entries_.end() || entry->second.kind != EntryKind::File) return {};
    if (entry->second.held) return {platform::DiskFailure::InUse, kInUse};
    if (entry->second.attributes & 0x01) return {platform::DiskFailure::Denied, kDenied};
    return {};
}

void MemoryDisk::DenyWrites(const std::u16string& folder) {
    denied_.push_back(Canonical(folder));
}

MemoryDisk::Entry* MemoryDisk::Find(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    const auto entry = key ? entries_.find(*key) : entries_.end();
    return entry == entries_.end() ? nullptr : &entry->second;
}

void MemoryDisk::Erase(const std::u16string& path) {
    const std::u16string key = Canonical(path);
    entries_.erase(key);
    const std::u16string below = key + u'\\';
    auto it = entries_.lower_bound(below);
    while (it != entries_.end() && it->first.starts_with(below))
        it = entries_.erase(it);
}

bool MemoryDisk::AddFolder(const std::u16string& path, Owner owner) {
    Entry folder;
    folder.owner = owner;
    folder.attributes = 0x10;
    return Add(path, std::move(folder), owner);
}

bool MemoryDisk::AddFile(const std::u16string& path, std::string data, Owner owner) {
    Entry file;
    file.kind = EntryKind::File;
    file.data = std::move(data);
    file.owner = owner;
    return Add(path, std::move(file), owner);
}

bool MemoryDisk::AddLink(const std::u16string& path, const std::u16string& target, Owner owner) {
    Entry link;
    link.kind = EntryKind::Link;
    link.target = target;
    link.owner = owner;
    return Add(path, std::move(link), owner);
}

bool MemoryDisk::IsFile(const std::u16string& path) {
    const Entry* entry = At(Resolve(path, true));
    return entry && entry->kind == EntryKind::File;
}

bool MemoryDisk::IsFolder(const std::u16string& path) {
    const Entry* entry = At(Resolve(path, true));
    return entry && entry->kind == EntryKind::Folder;
}

EntryKind MemoryDisk::Kind(const std::u16string& path) {
    const Entry* entry = At(Resolve(path, false));
    return entry ? entry->kind : EntryKind::Missing;
}

std::vector<platform::FolderEntry> MemoryDisk::List(const std::u16string& folder) {
    std::vector<platform::FolderEntry> list;
    const std::optional<std::u16string> key = Resolve(folder, true);
    const Entry* entry = At(key);
    if (!entry || entry->kind != EntryKind::Folder) return list;
    // The entries below the folder follow one another in the map.
    const std::u16string below = *key + u'\\';
    for (auto it = entries_.lower_bound(below);
         it != entries_.end() && it->first.starts_with(below); ++it)
        if (const auto& [path, child] = *it; path.find(u'\\', below.size()) == std::u16string::npos)
            list.push_back({ListedName(child.name, path.substr(below.size())),
                            child.kind == EntryKind::Folder, child.kind == EntryKind::Link,
                            child.attributes, static_cast<std::int64_t>(child.data.size())});
    return list;
}

platform::FileUse MemoryDisk::Use(const std::u16string& path) {
    const Entry* entry = At(Resolve(path, true));
    if (!entry || entry->kind != EntryKind::File) return platform::FileUse::Missing;
    return entry->held ? platform::FileUse::InUse : platform::FileUse::Free;
}

std::optional<std::uint32_t> MemoryDisk::Attributes(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, true);
    const Entry* entry = At(key);
    if (!entry) return std::nullopt;
    return IsRoot(*key) ? 0x10u : entry->attributes;
}

std::optional<std::uint32_t> MemoryDisk::DosStamp(const std::u16string& path) {
    const Entry* entry = At(Resolve(path, true));
    if (!entry) return std::nullopt;
    return entry->stamp;
}

DiskStatus MemoryDisk::Read(const std::u16string& path, std::string& data) {
    const Entry* entry = At(Resolve(path, true));
    if (!entry || entry->kind != EntryKind::File) return {platform::DiskFailure::Other, kNotFound};
    data += entry->data;
    return {};
}

bool MemoryDisk::AdministratorOwns(const std::u16string& path) {
    const Entry* entry = At(Resolve(path, false));
    return entry && entry->owner == Owner::Administrator;
}

std::unique_ptr<platform::DiskFile> MemoryDisk::Create(const std::u16string& path,
                                                       DiskStatus& status) {
    const std::optional<std::u16string> key = Resolve(path, false);
    if (key && (status = Refused(*key, false)).failure != platform::DiskFailure::None)
        return nullptr;
    if (!key || IsRoot(*key) || !ParentIsFolder(*key) || At(key)) {
        status = {platform::DiskFailure::Other, key && At(key) ? kExists : kNotFound};
        return nullptr;
    }
    // What a link in the last part names is not replaced: the link is there.
    Entry& entry = entries_[*key] = {};
    entry.kind = EntryKind::File;
    entry.owner = creator;
    entry.name = NameIn(path);
    status = {};
    return std::make_unique<MemoryFile>(entry);
}

std::unique_ptr<platform::DiskFile> MemoryDisk::Extend(const std::u16string& path,
                                                       DiskStatus& status) {
    const std::optional<std::u16string> key = Resolve(path, true);
    if (!key || !At(key) || At(key)->kind != EntryKind::File) {
        status = {platform::DiskFailure::Other, kNotFound};
        return nullptr;
    }
    if ((status = Refused(*key, true)).failure != platform::DiskFailure::None) return nullptr;
    return std::make_unique<MemoryFile>(entries_[*key]);
}

DiskStatus MemoryDisk::Move(const std::u16string& from, const std::u16string& to) {
    const std::optional<std::u16string> source = Resolve(from, false);
    const std::optional<std::u16string> target = Resolve(to, false);
    const Entry* moved = At(source);
    if (!moved || IsRoot(*source) || !target || IsRoot(*target) || !ParentIsFolder(*target))
        return {platform::DiskFailure::Other, kNotFound};
    if (*source == *target) return {};
    if (DiskStatus refused = Refused(*source, true); !refused.ok()) return refused;
    if (DiskStatus refused = Refused(*target, true); !refused.ok()) return refused;
    if (target->starts_with(*source + u'\\')) return {platform::DiskFailure::Denied, kDenied};
    if (const Entry* there = At(target)) {
        // An existing file is replaced by a file; nothing else is.
        if (there->kind == EntryKind::Folder || moved->kind == EntryKind::Folder)
            return {platform::DiskFailure::Denied, kDenied};
    }
    std::map<std::u16string, Entry> carried;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->first == *source || it->first.starts_with(*source + u'\\')) {
            carried[*target + it->first.substr(source->size())] = std::move(it->second);
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    carried[*target].name = NameIn(to);
    for (auto& [key, entry] : carried)
        entries_[key] = std::move(entry);
    return {};
}

DiskStatus MemoryDisk::RemoveFile(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    const Entry* entry = At(key);
    if (!entry || IsRoot(*key)) return {platform::DiskFailure::Other, kNotFound};
    if (entry->kind == EntryKind::Folder) return {platform::DiskFailure::Denied, kDenied};
    if (DiskStatus refused = Refused(*key, true); !refused.ok()) return refused;
    entries_.erase(*key);
    return {};
}

DiskStatus MemoryDisk::MakeFolder(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    if (!key || IsRoot(*key) || !ParentIsFolder(*key))
        return {platform::DiskFailure::Other, key ? kNotFound : kLoop};
    if (At(key)) return {platform::DiskFailure::Other, kExists};
    if (DiskStatus refused = Refused(*key, false); !refused.ok()) return refused;
    Entry& folder = entries_[*key] = {};
    folder.owner = creator;
    folder.name = NameIn(path);
    folder.attributes = 0x10;
    return {};
}

DiskStatus MemoryDisk::RemoveFolder(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    const Entry* entry = At(key);
    if (!entry || IsRoot(*key)) return {platform::DiskFailure::Other, kNotFound};
    if (entry->kind == EntryKind::File) return {platform::DiskFailure::Denied, kDenied};
    if (entry->kind == EntryKind::Folder && !List(path).empty())
        return {platform::DiskFailure::Other, kNotEmpty};
    if (DiskStatus refused = Refused(*key, false); !refused.ok()) return refused;
    entries_.erase(*key);
    return {};
}

DiskStatus MemoryDisk::SetAttributes(const std::u16string& path, std::uint32_t attributes) {
    const std::optional<std::u16string> key = Resolve(path, true);
    if (!At(key) || IsRoot(*key)) return {platform::DiskFailure::Other, kNotFound};
    if (DiskStatus refused = Refused(*key, false); !refused.ok()) return refused;
    Entry& entry = entries_[*key];
    entry.attributes = (entry.kind == EntryKind::Folder ? 0x10u : 0u) | (attributes & ~0x10u);
    return {};
}

} // namespace klv::fakes
