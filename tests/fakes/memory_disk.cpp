#include "fakes/memory_disk.h"

#include <vector>

namespace klv::fakes {

using platform::DiskStatus;
using platform::EntryKind;

namespace {

constexpr int kNotFound = 2, kDenied = 5, kExists = 183, kNotEmpty = 145, kLoop = 1921;

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
    DiskStatus SetDosStamp(std::uint32_t) override { return {}; }
    DiskStatus SetAttributes(std::uint32_t) override { return {}; }
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
    if (!IsRoot(parent) && !At(Resolve(parent, true)) && !AddFolder(parent, owner)) return false;
    if (!ParentIsFolder(*key)) return false;
    entries_[*Resolve(path, false)] = std::move(entry);
    return true;
}

bool MemoryDisk::AddFolder(const std::u16string& path, Owner owner) {
    return Add(path, {EntryKind::Folder, {}, {}, owner}, owner);
}

bool MemoryDisk::AddFile(const std::u16string& path, std::string data, Owner owner) {
    return Add(path, {EntryKind::File, std::move(data), {}, owner}, owner);
}

bool MemoryDisk::AddLink(const std::u16string& path, const std::u16string& target, Owner owner) {
    return Add(path, {EntryKind::Link, {}, target, owner}, owner);
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
    for (const auto& [path, child] : entries_)
        if (ParentOf(path) == *key && path != *key)
            list.push_back({path.substr(key->size() + 1), child.kind == EntryKind::Folder,
                            child.kind == EntryKind::Link});
    return list;
}

platform::FileUse MemoryDisk::Use(const std::u16string& path) {
    return IsFile(path) ? platform::FileUse::Free : platform::FileUse::Missing;
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
    if (!key || IsRoot(*key) || !ParentIsFolder(*key) || At(key)) {
        status = {platform::DiskFailure::Other, key && At(key) ? kExists : kNotFound};
        return nullptr;
    }
    // What a link in the last part names is not replaced: the link is there.
    Entry& entry = entries_[*key] = {EntryKind::File, {}, {}, creator};
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
    status = {};
    return std::make_unique<MemoryFile>(entries_[*key]);
}

DiskStatus MemoryDisk::Move(const std::u16string& from, const std::u16string& to) {
    const std::optional<std::u16string> source = Resolve(from, false);
    const std::optional<std::u16string> target = Resolve(to, false);
    const Entry* moved = At(source);
    if (!moved || IsRoot(*source) || !target || IsRoot(*target) || !ParentIsFolder(*target))
        return {platform::DiskFailure::Other, kNotFound};
    if (*source == *target) return {};
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
    for (auto& [key, entry] : carried)
        entries_[key] = std::move(entry);
    return {};
}

DiskStatus MemoryDisk::RemoveFile(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    const Entry* entry = At(key);
    if (!entry || IsRoot(*key)) return {platform::DiskFailure::Other, kNotFound};
    if (entry->kind == EntryKind::Folder) return {platform::DiskFailure::Denied, kDenied};
    entries_.erase(*key);
    return {};
}

DiskStatus MemoryDisk::MakeFolder(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    if (!key || IsRoot(*key) || !ParentIsFolder(*key))
        return {platform::DiskFailure::Other, key ? kNotFound : kLoop};
    if (At(key)) return {platform::DiskFailure::Other, kExists};
    entries_[*key] = {EntryKind::Folder, {}, {}, creator};
    return {};
}

DiskStatus MemoryDisk::RemoveFolder(const std::u16string& path) {
    const std::optional<std::u16string> key = Resolve(path, false);
    const Entry* entry = At(key);
    if (!entry || IsRoot(*key)) return {platform::DiskFailure::Other, kNotFound};
    if (entry->kind == EntryKind::File) return {platform::DiskFailure::Denied, kDenied};
    if (entry->kind == EntryKind::Folder && !List(path).empty())
        return {platform::DiskFailure::Other, kNotEmpty};
    entries_.erase(*key);
    return {};
}

DiskStatus MemoryDisk::SetAttributes(const std::u16string& path, std::uint32_t) {
    return At(Resolve(path, true)) ? DiskStatus{}
                                   : DiskStatus{platform::DiskFailure::Other, kNotFound};
}

} // namespace klv::fakes
