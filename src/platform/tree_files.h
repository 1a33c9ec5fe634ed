// Whole-folder services for the installation run: listing a folder, removing a tree, the free
// space of a volume, and whether another program holds a file open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::platform {

struct FolderEntry {
    std::u16string name; // the entry's own name
    bool folder = false;
    bool link = false;            // a symbolic link, junction or other reparse point, never entered
    std::uint32_t attributes = 0; // the Windows bits, as Disk::Attributes gives them
    std::int64_t size = 0;
};

// The entries of `folder`, without "." and ".."; empty when it cannot be read.
std::vector<FolderEntry> ListFolder(const std::u16string& folder);

// The entries of `folder` whose names match `mask` (see Disk::Search).
std::vector<FolderEntry> SearchFolder(const std::u16string& folder, std::u16string_view mask);

// Whether a new file can be made in `folder` now: a probe file made and gone again.
bool TakesNewFiles(const std::u16string& folder);

// Removes an empty folder.
bool RemoveEmptyFolder(const std::u16string& folder);

// Removes `folder` and everything below it, read-only files included; true when it is gone.
// A link met on the way is removed itself, never followed (see disk.h).
bool RemoveTree(const std::u16string& folder);

// The bytes the calling user may still write on the volume that holds `folder`.
std::optional<std::uint64_t> FreeBytes(const std::u16string& folder);

// The system's folder for temporary files, with a trailing separator.
std::u16string TempDirectory();

enum class FileUse { Free, InUse, Missing };
// Whether the file could be replaced now: InUse when another program holds it open without
// sharing, or runs it.
FileUse ProbeFileUse(const std::u16string& path);
// The programs holding `path` open, from the Restart Manager where the system has one:
// "name (process N)" each.
std::vector<std::string> FileHolders(const std::u16string& path);

} // namespace klv::platform
