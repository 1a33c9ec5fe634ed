#include "platform/files.h"

#include <windows.h>

namespace klv::platform {

namespace {
DWORD Attributes(const std::u16string& path) {
    if (path.empty()) return INVALID_FILE_ATTRIBUTES;
    std::wstring p(path.begin(), path.end());
    return GetFileAttributesW(p.c_str());
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

bool IsRemovableDrive(const std::u16string& path) {
    if (path.size() < 2 || path[1] != u':') return false;
    wchar_t d = static_cast<wchar_t>(path[0]);
    if (d >= L'a' && d <= L'z') d = static_cast<wchar_t>(d - 32);
    if (d == L'A' || d == L'B') return true;
    wchar_t root[4] = {d, L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_REMOVABLE;
}

} // namespace klv::platform
