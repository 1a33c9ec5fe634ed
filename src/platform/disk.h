// The installer's one way to the disk. Every change (create, write, flush, move, delete, make or
// remove a folder, set times or attributes; the installation's staged files included) and every
// question (is there a file or folder, what kind of entry, a folder's entries, free room, a file in
// use) is a call on a Disk, so that a test can stand a Disk of its own between the installer and
// the system and fail or stop any change. SystemDisk() is the real one: the Win32 or POSIX file
// services (files.h, tree_files.h) behind it. The window logic's ANSI `Files` service (system.h) is
// the narrow view of the same disk.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tree_files.h"

namespace klv::platform {

// Why a change failed, as far as the user can act on it.
enum class DiskFailure {
    None,
    InUse,  // another program holds the file
    Denied, // the user may not change it
    Full,   // the drive has no room left
    Other,  // the write failed for another reason
};

struct DiskStatus {
    DiskFailure failure = DiskFailure::None;
    int code = 0; // the system's error code
    bool ok() const { return failure == DiskFailure::None; }
    static DiskStatus Failed(int code);
};

// A file this run made, held open without sharing until it is released. Its data is on the
// medium (a power cut keeps it) only once Flush has returned.
class DiskFile {
  public:
    virtual ~DiskFile() = default;
    // Appends `bytes` after the last ones appended (a file opened by Extend: after its end).
    virtual DiskStatus Write(std::string_view bytes) = 0;
    // Writes `bytes` at `offset`.
    virtual DiskStatus WriteAt(std::int64_t offset, std::string_view bytes) = 0;
    // Cuts the file off, or extends it, to `size` bytes.
    virtual DiskStatus SetSize(std::int64_t size) = 0;
    // Returns when everything written is on the medium (FlushFileBuffers, fsync).
    virtual DiskStatus Flush() = 0;
    // The last-write time, from a DOS stamp (date << 16 | time) read as local time.
    virtual DiskStatus SetDosStamp(std::uint32_t stamp) = 0;
    // The Windows attribute bits (on Linux the read-only one alone).
    virtual DiskStatus SetAttributes(std::uint32_t attributes) = 0;
    // The file's size now; -1 when the system cannot tell.
    virtual std::int64_t Size() = 0;
};

// What a path names, the path's last component itself (a link is not followed).
enum class EntryKind { Missing, File, Folder, Link };

class Disk {
  public:
    virtual ~Disk() = default;

    // ---- questions. The defaults ask the system, so a Disk that stands in for the changes
    // alone reads what is really there.
    // True when `path` names an existing file (not a folder), or an existing folder; a link
    // is followed.
    virtual bool IsFile(const std::u16string& path);
    virtual bool IsFolder(const std::u16string& path);
    virtual EntryKind Kind(const std::u16string& path);
    // The entries of `folder`, without "." and ".."; empty when it cannot be read.
    virtual std::vector<FolderEntry> List(const std::u16string& folder);
    // The bytes the calling user may still write on the volume that holds `folder`.
    virtual std::optional<std::uint64_t> FreeBytes(const std::u16string& folder);
    // Whether the file could be replaced now (see ProbeFileUse).
    virtual FileUse Use(const std::u16string& path);
    // The programs that hold the file open, "name (process N)" each, as the system's Restart
    // Manager tells them; empty where it cannot (or has none to tell).
    virtual std::vector<std::string> Holders(const std::u16string& path);
    // Appends the whole file to `data`, read with every share allowed.
    virtual DiskStatus Read(const std::u16string& path, std::string& data);
    // True when the entry itself (a link is not followed) is owned by an administrator: on
    // Windows the Administrators group, SYSTEM or TrustedInstaller, the owners a standard user
    // cannot give a file; on POSIX root or the calling user. False when it cannot be told.
    virtual bool AdministratorOwns(const std::u16string& path);
    // A plain file on a disk, asked without opening anything else (see platform::IsRegularFile).
    virtual bool IsRegularFile(const std::u16string& path);
    // Appends at most the first `bytes` of the file to `data`, read with every share allowed.
    virtual DiskStatus ReadHead(const std::u16string& path, std::size_t bytes, std::string& data);
    // The Windows attribute bits of an entry, a link followed (on Linux: 0x10 for a folder,
    // 0x20 for a file, 0x21 for one without write permission); none when nothing is there.
    virtual std::optional<std::uint32_t> Attributes(const std::u16string& path);
    // The last-write time as a DOS stamp (date << 16 | time) in local time.
    virtual std::optional<std::uint32_t> DosStamp(const std::u16string& path);
    // True when the path's drive is A: or B:, or one the system reports as removable.
    virtual bool IsRemovable(const std::u16string& path);
    // `path` made absolute against the current folder, "." and ".." resolved; a path that
    // begins with two backslashes stays as it is. The current folder itself for ".".
    virtual std::u16string FullPath(const std::u16string& path);
    // The entries of `folder` whose names match `mask` ('*' any run, '?' one unit, "*.*"
    // everything; without case), in the system's order.
    virtual std::vector<FolderEntry> Search(const std::u16string& folder, std::u16string_view mask);
    // True when a new file can be made in the existing `folder` now. Asked by making a probe
    // file: here through Create and RemoveFile, so a Disk of a test answers by its changes; the
    // system's disk makes one the system removes as it is closed, so none is left behind
    // whatever happens.
    virtual bool TakesNewFiles(const std::u16string& folder);

    // ---- changes. The defaults change the system's disk.
    // Creates a file that must not exist yet, held open without sharing.
    virtual std::unique_ptr<DiskFile> Create(const std::u16string& path, DiskStatus& status);
    // Opens an existing file to write at its end, shared with every other writer.
    virtual std::unique_ptr<DiskFile> Extend(const std::u16string& path, DiskStatus& status);
    // Moves a file or folder; an existing file at `to` is replaced.
    virtual DiskStatus Move(const std::u16string& from, const std::u16string& to);
    virtual DiskStatus RemoveFile(const std::u16string& path);
    // Makes one folder whose parent exists (see MakeFolders for a path).
    virtual DiskStatus MakeFolder(const std::u16string& path);
    // Removes an empty folder, or a link to a folder (never what it points to).
    virtual DiskStatus RemoveFolder(const std::u16string& path);
    virtual DiskStatus SetAttributes(const std::u16string& path, std::uint32_t attributes);
};

// The system's disk.
Disk& SystemDisk();

// The system's answer to Disk::Kind.
EntryKind KindOf(const std::u16string& path);
// The system's answer to Disk::AdministratorOwns.
bool OwnedByAdministrator(const std::u16string& path);

// `folder` (with a trailing separator) followed by `name` (relative, '\' between its parts),
// when no part of `name` is a link, junction, mount point or other reparse point: a part that
// is missing ends the test, as nothing lies below it. None when a part is a link. `folder`
// itself is not tested (an installation folder may be a link, followed as its user chose).
std::optional<std::u16string> PathBelow(Disk& disk, const std::u16string& folder,
                                        std::u16string_view name);

// Makes `path` and its missing parents, one MakeFolder each.
DiskStatus MakeFolders(Disk& disk, const std::u16string& path);

// Removes `folder` and everything below it, read-only files included. A link, junction or
// other reparse point met on the way is removed itself; what it points to is never entered.
// True when `folder` is gone.
bool RemoveTree(Disk& disk, const std::u16string& folder);

// The system's error code of the last failed call of this thread, and what it means.
int LastSystemError();
DiskFailure FailureOf(int code);

// One installer run on this machine at a time: held from a successful ClaimInstaller() until
// the claim is released. Null when another process holds it.
class InstallerClaim {
  public:
    virtual ~InstallerClaim() = default;
};
std::unique_ptr<InstallerClaim> ClaimInstaller();

} // namespace klv::platform
