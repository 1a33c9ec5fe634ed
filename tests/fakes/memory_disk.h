// The in-memory disk of the tests and the fuzzers: files with their bytes, attributes and time
// stamp, folders, links (symbolic links, junctions, mount points: followed in every part of a
// path but the last, as Windows follows them), each entry's owner, which Wine does not keep,
// files another program holds and folders the user may not change. Paths are Windows paths
// compared without case (a name keeps the case it was made with), '/' or '\' between parts,
// "." and ".." resolved as Windows resolves them. A test double, never shipped.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk.h"

namespace klv::fakes {

class MemoryDisk final : public platform::Disk {
  public:
    enum class Owner { Administrator, User };
    struct Entry {
        platform::EntryKind kind = platform::EntryKind::Folder;
        std::string data;      // a file's bytes
        std::u16string target; // a link's target
        Owner owner = Owner::Administrator;
        std::u16string name;              // the last part, with the case it was made with
        std::uint32_t attributes = 0x20;  // a file's Windows bits (a folder adds 0x10)
        std::uint32_t stamp = 0x00210000; // the last-write time as a DOS stamp
        bool held = false; // another program holds it open: no write, move or removal
        bool operator==(const Entry&) const = default;
    };

    // Each makes the missing folders above it (owned by `owner`); false when a part above is a
    // file or the entry is there already.
    bool AddFolder(const std::u16string& path, Owner owner = Owner::Administrator);
    bool AddFile(const std::u16string& path, std::string data, Owner owner = Owner::Administrator);
    bool AddLink(const std::u16string& path, const std::u16string& target,
                 Owner owner = Owner::User);
    // The owner of what the code under test makes.
    Owner creator = Owner::User;
    // Nothing can be made, changed or removed in `folder` or below it.
    void DenyWrites(const std::u16string& folder);
    // The entry `path` names, a link in its last part not followed; null when none.
    Entry* Find(const std::u16string& path);
    // Removes the entry and everything below it, as a test stages it.
    void Erase(const std::u16string& path);

    // Every entry, by its path in canonical form (upper case, '\' between parts, no trailing
    // '\'); a path beginning with '\' is below the root of the current drive.
    const std::map<std::u16string, Entry>& Entries() const { return entries_; }
    static std::u16string Canonical(const std::u16string& path);

    bool IsFile(const std::u16string& path) override;
    bool IsFolder(const std::u16string& path) override;
    platform::EntryKind Kind(const std::u16string& path) override;
    std::vector<platform::FolderEntry> List(const std::u16string& folder) override;
    std::optional<std::uint64_t> FreeBytes(const std::u16string&) override { return 1ull << 40; }
    platform::FileUse Use(const std::u16string& path) override;
    std::vector<std::string> Holders(const std::u16string&) override { return {}; }
    platform::DiskStatus Read(const std::u16string& path, std::string& data) override;
    bool AdministratorOwns(const std::u16string& path) override;
    std::optional<std::uint32_t> Attributes(const std::u16string& path) override;
    std::optional<std::uint32_t> DosStamp(const std::u16string& path) override;

    std::unique_ptr<platform::DiskFile> Create(const std::u16string& path,
                                               platform::DiskStatus& status) override;
    std::unique_ptr<platform::DiskFile> Extend(const std::u16string& path,
                                               platform::DiskStatus& status) override;
    platform::DiskStatus Move(const std::u16string& from, const std::u16string& to) override;
    platform::DiskStatus RemoveFile(const std::u16string& path) override;
    platform::DiskStatus MakeFolder(const std::u16string& path) override;
    platform::DiskStatus RemoveFolder(const std::u16string& path) override;
    platform::DiskStatus SetAttributes(const std::u16string& path, std::uint32_t) override;

  private:
    // The canonical path `path` reaches, links followed in every part (the last only with
    // `followLast`); none when links loop.
    std::optional<std::u16string> Resolve(const std::u16string& path, bool followLast) const;
    // The entry at a resolved path; roots (a drive, or "") are folders of their own.
    const Entry* At(const std::optional<std::u16string>& key) const;
    bool ParentIsFolder(const std::u16string& key) const;
    bool Add(const std::u16string& path, Entry entry, Owner owner);
    // Why the entry at `key` (resolved) cannot be changed, or None.
    platform::DiskStatus Refused(const std::u16string& key, bool changesFile) const;

    std::map<std::u16string, Entry> entries_;
    std::vector<std::u16string> denied_; // canonical
};

} // namespace klv::fakes
