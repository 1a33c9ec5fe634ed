#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "platform/path_names.h"
#include "platform/posix/native_path.h"
#include "platform/text.h"

namespace klv::platform {

namespace posix {
std::string NativePath(const std::u16string& path) {
    std::string p = Utf16ToUtf8(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}
} // namespace posix

namespace {
using posix::NativePath;

bool Stat(const std::u16string& path, struct stat& st) {
    std::string p = NativePath(path);
    return !p.empty() && ::stat(p.c_str(), &st) == 0;
}
} // namespace

bool FileExists(const std::u16string& path) {
    struct stat st {};
    return Stat(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::u16string& path) {
    struct stat st {};
    return Stat(path, st) && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::u16string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsRemovableDrive(const std::u16string& path) {
    // Linux paths carry no drive; only the floppy letters count.
    if (StartsWithDrive(path)) {
        char16_t d = UpperUnit(path[0]);
        return d == u'A' || d == u'B';
    }
    return false;
}

bool MakeFolder(const std::u16string& path) {
    std::string p = NativePath(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (::mkdir(p.c_str(), 0777) == 0) return true;
    // Made meanwhile by another program: there all the same. Else the failure's own code.
    const int error = errno;
    if (DirectoryExists(path)) return true;
    errno = error;
    return false;
}

std::optional<std::uint32_t> AttributesOf(const std::u16string& path) {
    struct stat st {};
    if (!Stat(path, st)) return std::nullopt;
    if (S_ISDIR(st.st_mode)) return 0x10u;
    return (st.st_mode & S_IWUSR) ? 0x20u : 0x21u;
}

bool SetAttributesOf(const std::u16string& path, std::uint32_t attributes) {
    struct stat st {};
    if (!Stat(path, st)) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & 0x01)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return mode == (st.st_mode & 07777) || ::chmod(NativePath(path).c_str(), mode) == 0;
}

bool RemoveFile(const std::u16string& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to) {
    return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

std::optional<std::uint32_t> DosStampOf(const std::u16string& path) {
    struct stat st {};
    if (!Stat(path, st)) return std::nullopt;
    struct tm t {};
    time_t when = st.st_mtime;
    if (!::localtime_r(&when, &t)) return std::nullopt;
    if (t.tm_year < 80) return 0x00210000u; // 1980-01-01
    const std::uint32_t date =
        static_cast<std::uint32_t>(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    const std::uint32_t time =
        static_cast<std::uint32_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    return (date << 16) | time;
}

std::u16string CurrentDirectory() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return {};
    return Utf8ToUtf16(buffer);
}

std::u16string FullPathOf(const std::u16string& path) {
    if (path.empty()) return {};
    const std::string native = NativePath(path);
    if (native.starts_with("//")) return path;
    std::filesystem::path full =
        native.starts_with('/') ? std::filesystem::path(native)
                                : std::filesystem::path(Utf16ToUtf8(CurrentDirectory())) / native;
    std::string text = full.lexically_normal().string();
    const bool trailing = native.back() == '/';
    if (!trailing)
        while (text.size() > 1 && text.back() == '/')
            text.pop_back();
    return Utf8ToUtf16(text);
}

std::u16string ExecutablePath() {
    std::error_code ec;
#ifdef __APPLE__
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string raw(size, '\0');
    if (_NSGetExecutablePath(raw.data(), &size) != 0) return {};
    raw.resize(raw.find('\0'));
    const std::filesystem::path path = std::filesystem::canonical(raw, ec);
#else
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
#endif
    return ec ? std::u16string() : Utf8ToUtf16(path.string());
}

} // namespace klv::platform
