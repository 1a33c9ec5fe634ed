#include "util/search.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/ansi_text.h"
#include "util/filez.h"
#include "util/system_access.h"

namespace klv::util {

bool SearchStopFlag = true;

namespace {

// How much of one directory search is looked at: matches per pattern, entries per folder.
constexpr int kMaxMatches = 100000;
constexpr int kMaxEntries = 100000;

// Matches of the program files: read-only, hidden, system, volume label, archive (no folders).
constexpr std::uint32_t kFileAttributes = 0x2F;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

// A directory search's entry passes an attribute set as a file search sees it: hidden,
// system, volume-label and folder entries only when the set asks for them.
bool PassesAttributes(std::uint32_t entry, std::uint32_t wanted) {
    constexpr std::uint32_t special =
        platform::faHidden | platform::faSysFile | platform::faVolumeID | platform::faDirectory;
    return (entry & ~wanted & special) == 0;
}

// The names list as patterns: ";" separates them, the whole is trimmed, one per line.
std::vector<std::string> Patterns(std::string_view names) {
    std::string text;
    text.reserve(names.size() + 8);
    for (char c : names) {
        if (c == ';')
            text += "\r\n";
        else
            text += c;
    }
    text = Trim(text);
    std::vector<std::string> patterns;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        patterns.push_back(text.substr(start, end - start));
        if (text.compare(end, 2, "\r\n") == 0) ++end;
        start = end + 1;
    }
    return patterns;
}

bool InSkipList(const std::vector<std::string>& skip, const std::string& folder) {
    return std::any_of(skip.begin(), skip.end(), [&](const std::string& entry) {
        return platform::SameTextAnsi(entry, folder);
    });
}

bool IsThumbnailFolder(std::string_view path) {
    std::string lower = LowerTrim(path);
    return lower.ends_with("thumbnails") || lower.ends_with("thumbnails\\");
}

// The skip list of a drive search: the system's program, profile and temporary folders.
std::vector<std::string> SystemFolders() {
    std::vector<std::string> skip;
    std::string programFiles = ProgramFilesFolder();
    skip.push_back(WithTrailingBackslash(programFiles));
    std::string native = programFiles;
    if (auto at = native.find("(x86)"); at != std::string::npos) native.erase(at, 5);
    skip.push_back(WithTrailingBackslash(Trim(native)));
    skip.push_back(WithTrailingBackslash(DesktopFolder()));
    skip.push_back(WithTrailingBackslash(CommonFilesFolder()));
    skip.push_back(WindowsFolder());
    skip.push_back(TempFolder());
    skip.push_back(WithTrailingBackslash(AppDataFolder()));
    skip.push_back(WithTrailingBackslash(LocalAppDataFolder()));
    skip.push_back(WithTrailingBackslash(InternetCacheFolder()));
    skip.push_back("c:\\programdata\\");
    skip.push_back("c:\\users\\all users\\");
    return skip;
}

bool Searchable(unsigned kind) {
    return kind == platform::dkRemovable || kind == platform::dkFixed ||
           kind == platform::dkRamDisk;
}

} // namespace

void SearchInstallations(std::vector<std::string>& found, const SearchFilter& filter,
                         const SearchProgressCallback& progress, std::string& output) {
    output.clear();
    const std::vector<std::string> skip = SystemFolders();
    std::vector<std::string> roots;
    DriveRoots(roots);
    for (const std::string& root : roots) {
        char letter = root[0];
        if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter + 32);
        if (letter == 'a' || letter == 'b') continue;
        const std::string name(1, letter);
        if (!Searchable(DriveKind(name))) continue;
        const std::string top = name + ":\\";
        if (!FolderExistsSafe(top)) continue;
        FindFiles(&found, top, ProgramNames, progress, true, true, &skip);
        if (found.empty() || !filter) continue;
        for (std::size_t i = found.size(); i-- > 0;)
            if (!filter(found[i])) found.erase(found.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void FindFiles(std::vector<std::string>* found, std::string folder, std::string names,
               const SearchProgressCallback& progress, bool skipThumbnails, bool recurse,
               const std::vector<std::string>* skip) {
    if (SearchStopFlag) return;
    if (!found) throw std::logic_error("FindFiles met nil aangeroepen");
    platform::Files& files = sys::Files();
    if (!files.FolderExists(folder)) return;
    if (skip && InSkipList(*skip, WithTrailingBackslash(folder))) return;
    // A name list that begins with the folder itself loses that folder text.
    if (!folder.empty() && names.starts_with(folder)) names.erase(0, folder.size());
    folder = WithTrailingBackslash(folder);
    if (progress) progress(folder);

    platform::FileEntry entry;
    for (const std::string& pattern : Patterns(names)) {
        if (pattern.empty()) continue; // names nothing
        const bool single = pattern.find('*') == std::string::npos;
        auto search = files.Search(folder + pattern);
        int matches = 0;
        while (search && matches < kMaxMatches && search->Next(entry)) {
            if (!PassesAttributes(entry.attributes, kFileAttributes)) continue;
            found->push_back(folder + entry.name);
            ++matches;
            if (single) break;
        }
    }
    if (!recurse) return;

    std::vector<std::string> subfolders;
    if (auto search = files.Search(folder + "*.*")) {
        for (int examined = 0; examined < kMaxEntries && search->Next(entry); ++examined)
            if ((entry.attributes & platform::faDirectory) && !entry.name.starts_with('.'))
                subfolders.push_back(folder + entry.name);
    }
    for (const std::string& subfolder : subfolders) {
        if (skipThumbnails && IsThumbnailFolder(subfolder)) continue;
        FindFiles(found, subfolder, names, progress, skipThumbnails, recurse, skip);
    }
}

void DriveRoots(std::vector<std::string>& roots) {
    roots.clear();
    const std::uint32_t present = sys::Drives().LogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (present & (1u << i))
            roots.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
}

} // namespace klv::util
