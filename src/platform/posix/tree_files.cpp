#include "platform/tree_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/disk.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace klv::platform {

using posix::NativePath;

std::vector<FolderEntry> ListFolder(const std::u16string& folder) {
    std::vector<FolderEntry> entries;
    const std::string base = NativePath(folder);
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return entries;
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        const bool known = ::lstat((base + "/" + name).c_str(), &st) == 0;
        entries.push_back(
            {Utf8ToUtf16(name), known && S_ISDIR(st.st_mode), known && S_ISLNK(st.st_mode)});
    }
    ::closedir(dir);
    return entries;
}

bool RemoveEmptyFolder(const std::u16string& folder) {
    return ::rmdir(NativePath(folder).c_str()) == 0;
}

bool RemoveTree(const std::u16string& folder) {
    return RemoveTree(SystemDisk(), folder);
}

std::optional<std::uint64_t> FreeBytes(const std::u16string& folder) {
    struct statvfs st {};
    if (::statvfs(NativePath(folder).c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

std::u16string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return Utf8ToUtf16(path);
}

FileUse ProbeFileUse(const std::u16string& path) {
    // Linux has no mandatory sharing modes: a file that exists can always be replaced.
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 ? FileUse::Free : FileUse::Missing;
}

} // namespace klv::platform
