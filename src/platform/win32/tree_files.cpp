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

std::vector<FolderEntry> ListFolder(const std::u16string& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(win32::WidePath(WithSeparator(folder) + u"*").c_str(),
                                   FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({std::u16string(name.begin(), name.end()),
                           (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
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
