#include "platform/file_stream.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/native_path.h"
#include "platform/posix/open_fd.h"
#include "platform/text.h"

namespace klv::platform {

using posix::NativePath;

int posix::OpenFd(const std::string& path, int flags, mode_t mode) {
    return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

std::unique_ptr<FileStream> FileStream::Open(const std::u16string& path, std::uint16_t mode,
                                             int& error) {
    int flags = O_CLOEXEC;
    if (mode == fmCreate) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (mode & 0x3) {
        case fmOpenWrite:
            flags |= O_WRONLY;
            break;
        case fmOpenReadWrite:
            flags |= O_RDWR;
            break;
        default:
            flags |= O_RDONLY;
            break;
        }
    }
    // Share modes have no counterpart here; POSIX files are always shared.
    int fd = posix::OpenFd(NativePath(path), flags);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = EISDIR;
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<FileStream>(new FileStream(fd));
}

std::unique_ptr<FileStream> FileStream::CreateNew(const std::u16string& path, int& error) {
    int fd = posix::OpenFd(NativePath(path), O_RDWR | O_CREAT | O_EXCL);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<FileStream>(new FileStream(fd));
}

FileStream::~FileStream() {
    ::close(static_cast<int>(handle_));
}

std::int64_t FileStream::Read(void* buffer, std::int64_t count) {
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(static_cast<int>(handle_), out + done,
                            static_cast<size_t>(count - done), position_);
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError_ = errno;
            return -1;
        }
        if (n == 0) break;
        done += n;
        position_ += n;
    }
    return done;
}

std::int64_t FileStream::Write(const void* buffer, std::int64_t count) {
    const auto* in = static_cast<const char*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(static_cast<int>(handle_), in + done,
                             static_cast<size_t>(count - done), position_);
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError_ = errno;
            return -1;
        }
        done += n;
        position_ += n;
    }
    return done;
}

std::int64_t FileStream::Size() const {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) return -1;
    return st.st_size;
}

bool FileStream::SetSize(std::int64_t size) {
    if (::ftruncate(static_cast<int>(handle_), size) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool FileStream::Flush() {
    if (::fsync(static_cast<int>(handle_)) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool FileStream::SetDosStamp(std::uint32_t stamp) {
    struct tm t {};
    const unsigned date = stamp >> 16, time = stamp & 0xFFFF;
    t.tm_year = static_cast<int>((date >> 9) + 80);
    t.tm_mon = static_cast<int>(((date >> 5) & 15)) - 1;
    t.tm_mday = static_cast<int>(date & 31);
    t.tm_hour = static_cast<int>(time >> 11);
    t.tm_min = static_cast<int>((time >> 5) & 63);
    t.tm_sec = static_cast<int>((time & 31) * 2);
    // Local time without mktime, which reads the zone file again on every call: the fields
    // taken as UTC, then moved by the zone's offset at that moment (twice, for DST changes).
    const time_t asUtc = ::timegm(&t);
    if (asUtc == static_cast<time_t>(-1)) return false;
    struct tm local {};
    time_t when = asUtc;
    for (int pass = 0; pass < 2; ++pass) {
        if (!::localtime_r(&when, &local)) return false;
        when = asUtc - local.tm_gmtoff;
    }
    struct timespec times[2] = {{when, 0}, {when, 0}};
    times[0].tv_nsec = UTIME_OMIT;
    if (::futimens(static_cast<int>(handle_), times) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool FileStream::SetAttributes(std::uint32_t attributes) {
    if (!(attributes & 0x01)) return true; // a new file is writable already
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) return false;
    return ::fchmod(static_cast<int>(handle_), st.st_mode & 07555 & ~0222) == 0;
}

std::string SystemErrorText(int error) {
    return std::strerror(error);
}

std::string SystemErrorName(int error) {
    if (error == 0) return {};
    std::string name = std::strerror(error);
    if (!name.empty())
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    return name;
}

} // namespace klv::platform
