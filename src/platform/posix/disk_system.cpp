// The POSIX side of the disk: kinds and owners of entries without following links, error
// codes, and the one-installer claim (a lock on a file in the temporary folder, for the native
// tests).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/disk.h"
#include "platform/posix/native_path.h"
#include "platform/posix/open_fd.h"
#include "platform/tree_files.h"

namespace klv::platform {

using posix::NativePath;

EntryKind KindOf(const std::u16string& path) {
    // Without its trailing separators: "link/" would name what the link points to.
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) return EntryKind::Missing;
    if (S_ISLNK(st.st_mode)) return EntryKind::Link;
    return S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::File;
}

bool OwnedByAdministrator(const std::u16string& path) {
    // No split token here: a process trusts what root or its own user made.
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) return false;
    return st.st_uid == 0 || st.st_uid == ::geteuid();
}

int LastSystemError() {
    return errno;
}

DiskFailure FailureOf(int code) {
    switch (code) {
    case 0:
        return DiskFailure::Other;
    case EBUSY:
    case ETXTBSY:
        return DiskFailure::InUse;
    case EACCES:
    case EPERM:
    case EROFS:
        return DiskFailure::Denied;
    case ENOSPC:
    case EDQUOT:
        return DiskFailure::Full;
    default:
        return DiskFailure::Other;
    }
}

namespace {
class LockFile final : public InstallerClaim {
  public:
    LockFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~LockFile() override {
        ::unlink(path_.c_str());
        ::close(fd_);
    }

  private:
    int fd_;
    std::string path_;
};
} // namespace

std::unique_ptr<InstallerClaim> ClaimInstaller() {
    const std::string path = NativePath(TempDirectory() + u"klvupgrade.lock");
    const int fd = posix::OpenFd(path, O_CREAT | O_RDWR, 0600);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LockFile>(fd, path);
}

} // namespace klv::platform
