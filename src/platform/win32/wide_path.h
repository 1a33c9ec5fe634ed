// Paths for the system's wide file functions, written once for every file operation of the
// platform. The installation run adds its staging and backup folders (about 20 characters) to
// every path of the installation, so an item that fits in place could pass the classic limit
// there: a path that long is given the "\\?\" prefix, which lifts the limit to 32,767
// characters on every Windows (the manifest's longPathAware does so only on Windows 10 1607
// and later, with the system's setting on).
#pragma once

#include <string>

namespace klv::platform::win32 {

// From this length the classic functions refuse a folder (MAX_PATH less room for an 8.3 name).
inline constexpr std::size_t kClassicPathLimit = 248;

// `path` as a wide string; an absolute one ("C:\..." or "\\server\share\...") of
// kClassicPathLimit characters or more in its "\\?\" form: '/' made '\', doubled separators
// folded (the prefix turns off the system's own clean-up). A path with a "." or ".." part, a
// relative one, or one already prefixed is passed as it is.
inline std::wstring WidePath(const std::u16string& path) {
    std::wstring wide(path.begin(), path.end());
    if (wide.size() < kClassicPathLimit) return wide;
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const bool unc = separator(wide[0]) && separator(wide[1]);
    const bool drive =
        ((wide[0] >= L'A' && wide[0] <= L'Z') || (wide[0] >= L'a' && wide[0] <= L'z')) &&
        wide[1] == L':' && separator(wide[2]);
    if (unc && (wide[2] == L'?' || wide[2] == L'.')) return wide; // already a device path
    if (!unc && !drive) return wide;
    std::wstring body;
    for (std::size_t i = unc ? 2 : 0; i < wide.size(); ++i) {
        const wchar_t c = separator(wide[i]) ? L'\\' : wide[i];
        if (c == L'\\' && !body.empty() && body.back() == L'\\') continue;
        body += c;
    }
    for (std::size_t start = 0; start <= body.size();) {
        std::size_t end = body.find(L'\\', start);
        if (end == std::wstring::npos) end = body.size();
        const std::wstring_view part(body.data() + start, end - start);
        if (part == L"." || part == L"..") return wide;
        start = end + 1;
    }
    return (unc ? L"\\\\?\\UNC\\" : L"\\\\?\\") + body;
}

} // namespace klv::platform::win32
