#include "platform/tree_files.h"
#include "platform/win32/busy_retry.h"

#include <windows.h>

#include "platform/win32/open_handle.h"
#include "platform/win32/wide_path.h"

#include "platform/disk.h"

namespace klv::platform {

namespace {
std::u16string WithSeparator(std::u16string folder) {
    if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
    return folder;
}
} // namespace

namespace {
FolderEntry EntryOf(const WIN32_FIND_DATAW& data) {
    const std::wstring_view name = data.cFileName;
    return {std::u16string(name.begin(), name.end()),
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, data.dwFileAttributes,
            static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                      data.nFileSizeLow)};
}

// The entries `pattern` finds, without "." and "..".
std::vector<FolderEntry> Find(const std::u16string& pattern) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(win32::WidePath(pattern).c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring_view name = data.cFileName;
        if (name != L"." && name != L"..") entries.push_back(EntryOf(data));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
}
} // namespace

std::vector<FolderEntry> ListFolder(const std::u16string& folder) {
    return Find(WithSeparator(folder) + u"*");
}

std::vector<FolderEntry> SearchFolder(const std::u16string& folder, std::u16string_view mask) {
    return Find(WithSeparator(folder) + std::u16string(mask));
}

bool TakesNewFiles(const std::u16string& folder) {
    const std::string pid = std::to_string(GetCurrentProcessId());
    const std::u16string probe =
        WithSeparator(folder) + u"~klvupgrade-" + std::u16string(pid.begin(), pid.end()) + u".tmp";
    const HANDLE h = win32::OpenHandle(probe, GENERIC_WRITE, 0, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool RemoveEmptyFolder(const std::u16string& folder) {
    return RemoveDirectoryW(win32::WidePath(folder).c_str()) != 0;
}

bool RemoveTree(const std::u16string& folder) {
    return RemoveTree(SystemDisk(), folder);
}

std::optional<std::uint64_t> FreeBytes(const std::u16string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(win32::WidePath(WithSeparator(folder)).c_str(), &available, nullptr,
                             nullptr))
        return std::nullopt;
    return available.QuadPart;
}

std::u16string TempDirectory() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return {};
    return WithSeparator(std::u16string(buffer, buffer + n));
}

namespace {

FileUse ProbeFileUseOnce(const std::u16string& path) {
    // Write access without sharing: refused with a sharing violation while another program
    // has the file open or runs it. Only the attributes are asked for, so a read-only file
    // is no obstacle of its own.
    HANDLE file = win32::OpenHandle(path, GENERIC_READ | FILE_WRITE_DATA, 0, OPEN_EXISTING);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return FileUse::Free;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileUse::Missing;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return FileUse::InUse;
    // A read-only file refuses write access; whether it is in use, an open for deletion
    // without sharing tells.
    file = win32::OpenHandle(path, DELETE, 0, OPEN_EXISTING);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return FileUse::Free;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? FileUse::InUse : FileUse::Free;
}

} // namespace

FileUse ProbeFileUse(const std::u16string& path) {
    // A file held only for a moment (a virus scanner, an indexer) is free again soon.
    FileUse use = FileUse::InUse;
    win32::RetryWhileBusy(
        [&] {
            use = ProbeFileUseOnce(path);
            return use == FileUse::InUse ? win32::Attempt::Busy : win32::Attempt::Done;
        },
        [](int ms) { Sleep(static_cast<DWORD>(ms)); });
    return use;
}

} // namespace klv::platform
