#include "platform/tree_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/disk.h"
#include "platform/path_names.h"
#include "platform/posix/native_path.h"
#include "platform/posix/open_fd.h"
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
        const bool folderEntry = known && S_ISDIR(st.st_mode);
        const std::uint32_t attributes =
            folderEntry ? 0x10u : (known && !(st.st_mode & S_IWUSR) ? 0x21u : 0x20u);
        entries.push_back({Utf8ToUtf16(name), folderEntry, known && S_ISLNK(st.st_mode), attributes,
                           known ? static_cast<std::int64_t>(st.st_size) : 0});
    }
    ::closedir(dir);
    return entries;
}

std::vector<FolderEntry> SearchFolder(const std::u16string& folder, std::u16string_view mask) {
    std::vector<FolderEntry> found;
    for (FolderEntry& entry : ListFolder(folder))
        if (MaskMatches(mask, entry.name)) found.push_back(std::move(entry));
    return found;
}

bool TakesNewFiles(const std::u16string& folder) {
    std::string probe = NativePath(folder);
    if (probe.empty() || probe.back() != '/') probe += '/';
    probe += "~klvupgrade-" + std::to_string(::getpid()) + ".tmp";
    const int fd = posix::OpenFd(probe, O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (fd < 0) return false;
    ::unlink(probe.c_str());
    ::close(fd);
    return true;
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
