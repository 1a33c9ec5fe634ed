#include "platform/files.h"

#include <sys/stat.h>

#include "platform/text.h"

namespace klv::platform {

namespace {
bool Stat(const std::u16string& path, struct stat& st) {
    std::string p = Utf16ToUtf8(path);
    for (char& c : p)
        if (c == '\\') c = '/';
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

bool IsRemovableDrive(const std::u16string& path) {
    // Linux paths carry no drive; only the floppy letters count.
    if (path.size() >= 2 && path[1] == u':') {
        char16_t d = UpperUnit(path[0]);
        return d == u'A' || d == u'B';
    }
    return false;
}

} // namespace klv::platform
