// An in-memory disk for fuzzing the installer's work on the disk: files with their bytes,
// folders, links (symbolic links, junctions, mount points: followed in every part of a path but
// the last, as Windows follows them) and each entry's owner, which Wine does not keep. Paths are
// Windows paths compared without case, '/' or '\' between parts, "." and ".." resolved as
// Windows resolves them. A test double, never shipped.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

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

    std::map<std::u16string, Entry> entries_;
};

} // namespace klv::fakes
