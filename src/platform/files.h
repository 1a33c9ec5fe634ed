#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The file services of the archive engine, on wide paths. Attributes are the Windows bits
// (0x01 read-only, 0x02 hidden, 0x04 system, 0x10 directory, 0x20 archive); on Linux only
// read-only (no write permission) and directory have a meaning.
namespace klv::platform {

// True when `path` names an existing file (not a folder).
bool FileExists(const std::u16string& path);
// True when `path` names an existing folder.
bool DirectoryExists(const std::u16string& path);
// True when `path` names a plain file on a disk: not a folder, a link, a device, a pipe or a
// console. The last component is not followed, and nothing else is opened: on Windows the
// path is opened for its attributes alone, at identification level (a pipe server cannot act
// as the caller), and the system tells the handle's type.
bool IsRegularFile(const std::u16string& path);
// True when the path's drive is A: or B:, or a drive that the system reports as removable.
bool IsRemovableDrive(const std::u16string& path);

// Makes one folder whose parent exists; true when it exists afterwards.
bool MakeFolder(const std::u16string& path);
std::optional<std::uint32_t> AttributesOf(const std::u16string& path);
bool SetAttributesOf(const std::u16string& path, std::uint32_t attributes);
bool RemoveFile(const std::u16string& path);
// Moves a file over another, replacing it; false (and nothing changed) on failure.
bool MoveReplacing(const std::u16string& from, const std::u16string& to);
// The file's last-write time as a DOS stamp (date << 16 | time) in local time.
std::optional<std::uint32_t> DosStampOf(const std::u16string& path);
std::u16string CurrentDirectory();
// `path` made absolute against the current folder (see Disk::FullPath).
std::u16string FullPathOf(const std::u16string& path);
// The full path of the running program's own file; empty when the system cannot tell.
std::u16string ExecutablePath();

} // namespace klv::platform
