#include "platform/files.h"
#include "platform/win32/busy_retry.h"

#include <windows.h>

#include "platform/path_names.h"
#include "platform/win32/open_handle.h"
#include "platform/win32/wide_path.h"

#include <vector>

namespace klv::platform {

namespace {
DWORD Attributes(const std::u16string& path) {
    if (path.empty()) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(win32::WidePath(path).c_str());
}
} // namespace

bool FileExists(const std::u16string& path) {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::u16string& path) {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::u16string& path) {
    if (path.empty()) return false;
    const HANDLE h =
        win32::OpenHandle(path, FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS |
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular =
        GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    CloseHandle(h);
    return regular;
}

bool IsRemovableDrive(const std::u16string& path) {
    if (!StartsWithDrive(path)) return false;
    wchar_t d = static_cast<wchar_t>(path[0]);
    if (d >= L'a' && d <= L'z') d = static_cast<wchar_t>(d - 32);
    if (d == L'A' || d == L'B') return true;
    wchar_t root[4] = {d, L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_REMOVABLE;
}

bool MakeFolder(const std::u16string& path) {
    if (CreateDirectoryW(win32::WidePath(path).c_str(), nullptr)) return true;
    // Made meanwhile by another program: there all the same. Else the failure's own code.
    const DWORD error = GetLastError();
    if (DirectoryExists(path)) return true;
    SetLastError(error);
    return false;
}

std::optional<std::uint32_t> AttributesOf(const std::u16string& path) {
    DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return static_cast<std::uint32_t>(a);
}

bool SetAttributesOf(const std::u16string& path, std::uint32_t attributes) {
    return SetFileAttributesW(win32::WidePath(path).c_str(), attributes) != 0;
}

bool RemoveFile(const std::u16string& path) {
    return DeleteFileW(win32::WidePath(path).c_str()) != 0;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to) {
    // Refused while another program has either file open for a moment: tried again.
    const auto move = [&] {
        if (MoveFileExW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING))
            return win32::Attempt::Done;
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                       error == ERROR_ACCESS_DENIED
                   ? win32::Attempt::Busy
                   : win32::Attempt::Failed;
    };
    return win32::RetryWhileBusy(move, [](int ms) { Sleep(static_cast<DWORD>(ms)); }) ==
           win32::Attempt::Done;
}

std::optional<std::uint32_t> DosStampOf(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win32::WidePath(path).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    FILETIME local{};
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return std::nullopt;
    return (static_cast<std::uint32_t>(date) << 16) | time;
}

std::u16string CurrentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> buffer(n + 1);
    n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::u16string(buffer.begin(), buffer.begin() + n);
}

std::u16string FullPathOf(const std::u16string& path) {
    if (path.empty()) return {};
    const std::wstring wide(path.begin(), path.end());
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()),
                                         buffer.data(), nullptr);
        if (n == 0) return path;
        if (n < buffer.size()) return std::u16string(buffer.begin(), buffer.begin() + n);
        buffer.assign(n + 1, L'\0');
    }
}

std::u16string ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::u16string(buffer.begin(), buffer.begin() + n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace klv::platform
