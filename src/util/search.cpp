#include "util/search.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/ansi_text.h"
#include "platform/path_names.h"
#include "util/ascii_text.h"
#include "util/filez.h"
#include "util/system_access.h"
#include "util/texts.h"

namespace klv::util {

namespace {

// How much of one directory search is looked at: matches per pattern, entries per folder.
constexpr int kMaxMatches = 100000;
constexpr int kMaxEntries = 100000;

// Matches of the program files: read-only, hidden, system, volume label, archive (no folders).
constexpr std::uint32_t kFileAttributes = 0x2F;

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

// The drive letter of an absolute path, lower-cased; 0 for any other text.
char DriveLetter(std::string_view path) {
    if (!platform::StartsWithDrive(path) || path.size() < 3 || path[2] != '\\') return 0;
    const char c = LowerAscii(path[0]);
    return c >= 'a' && c <= 'z' ? c : 0;
}

// Compared in the user's locale, but only with entries that can be on the folder's drive.
bool InSkipList(const std::vector<std::string>& skip, const std::string& folder) {
    const char drive = DriveLetter(folder);
    return std::any_of(skip.begin(), skip.end(), [&](const std::string& entry) {
        const char other = DriveLetter(entry);
        if (drive && other && drive != other) return false;
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

bool IsSubfolder(const platform::FileEntry& entry) {
    return (entry.attributes & platform::faDirectory) && !entry.name.starts_with('.');
}

// A pattern that matches one name only, compared without regard to case: no wildcards
// (also none of the system's own, < > "), no short-name marker, no path, no trailing dot.
bool IsPlainName(const std::string& pattern) {
    return pattern.find_first_of("*?<>\"~\\/:") == std::string::npos &&
           (pattern.empty() || pattern.back() != '.');
}

std::string NameKey(std::string name) {
    platform::UpperAnsiInPlace(name.data(), name.size());
    return name;
}

bool Searchable(unsigned kind) {
    return kind == platform::dkRemovable || kind == platform::dkFixed ||
           kind == platform::dkRamDisk;
}

} // namespace

void SearchInstallations(std::vector<std::string>& found, const SearchFilter& filter,
                         const SearchProgressCallback& progress, std::string& output,
                         const bool& stop) {
    output.clear();
    const std::vector<std::string> skip = SystemFolders();
    std::vector<std::string> roots;
    DriveRoots(roots);
    for (const std::string& root : roots) {
        const char letter = LowerAscii(root[0]);
        if (letter == 'a' || letter == 'b') continue;
        const std::string name(1, letter);
        if (!Searchable(DriveKind(name))) continue;
        const std::string top = name + ":\\";
        if (!FolderExistsSafe(top)) continue;
        FindFiles(&found, top, ProgramNames, progress, true, true, &skip, stop);
        if (found.empty() || !filter) continue;
        for (std::size_t i = found.size(); i-- > 0;)
            if (!filter(found[i])) found.erase(found.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

namespace {

// What stays the same through one recursive search.
struct Walk {
    std::vector<std::string>& found;
    const SearchProgressCallback& progress;
    bool skipThumbnails;
    bool recurse;
    const std::vector<std::string>* skip;
    const bool& stop;
};

void Enter(const Walk& walk, std::string folder, std::string names, bool listed);

void EnterSubfolders(const Walk& walk, const std::vector<std::string>& subfolders,
                     const std::string& names) {
    for (const std::string& subfolder : subfolders) {
        if (walk.skipThumbnails && IsThumbnailFolder(subfolder)) continue;
        Enter(walk, subfolder, names, true);
    }
}

// One directory search per pattern, then one for the subfolders.
void SearchPerPattern(const Walk& walk, const std::string& folder,
                      const std::vector<std::string>& patterns, const std::string& names) {
    platform::Files& files = sys::Files();
    platform::FileEntry entry;
    for (const std::string& pattern : patterns) {
        if (pattern.empty()) continue; // names nothing
        const bool single = pattern.find('*') == std::string::npos;
        auto search = files.Search(folder + pattern);
        int matches = 0;
        while (search && matches < kMaxMatches && search->Next(entry)) {
            if (!PassesAttributes(entry.attributes, kFileAttributes)) continue;
            walk.found.push_back(folder + entry.name);
            ++matches;
            if (single) break;
        }
    }
    if (!walk.recurse) return;
    std::vector<std::string> subfolders;
    if (auto search = files.Search(folder + "*.*")) {
        for (int examined = 0; examined < kMaxEntries && search->Next(entry); ++examined)
            if (IsSubfolder(entry)) subfolders.push_back(folder + entry.name);
    }
    EnterSubfolders(walk, subfolders, names);
}

// For plain names, one directory search gives what a search per name and one for the
// subfolders give: each name matches at most one entry, taken pattern by pattern; only the
// subfolder list is bounded.
void SearchOnce(const Walk& walk, const std::string& folder,
                const std::vector<std::string>& patterns, const std::string& names) {
    std::vector<std::string> keys;
    for (const std::string& pattern : patterns)
        keys.push_back(NameKey(pattern));
    std::vector<std::string> matches(patterns.size());
    std::vector<std::string> subfolders;
    if (auto search = sys::Files().Search(folder + "*.*")) {
        platform::FileEntry entry;
        for (int examined = 0; search->Next(entry); ++examined) {
            if (IsSubfolder(entry)) {
                if (examined < kMaxEntries) subfolders.push_back(folder + entry.name);
                continue;
            }
            if (!PassesAttributes(entry.attributes, kFileAttributes)) continue;
            std::string key;
            for (std::size_t i = 0; i < keys.size(); ++i) {
                if (!matches[i].empty() || keys[i].size() != entry.name.size()) continue;
                if (key.empty()) key = NameKey(entry.name);
                if (key == keys[i]) matches[i] = folder + entry.name;
            }
        }
    }
    for (std::string& match : matches)
        if (!match.empty()) walk.found.push_back(std::move(match));
    EnterSubfolders(walk, subfolders, names);
}

// `listed`: the folder came from its parent's directory search a moment ago, so it exists.
void Enter(const Walk& walk, std::string folder, std::string names, bool listed) {
    if (walk.stop) return;
    if (!listed && !FolderExists(folder)) return;
    if (walk.skip && InSkipList(*walk.skip, WithTrailingBackslash(folder))) return;
    // A name list that begins with the folder itself loses that folder text.
    if (!folder.empty() && names.starts_with(folder)) names.erase(0, folder.size());
    folder = WithTrailingBackslash(folder);
    if (walk.progress) walk.progress(folder);
    const std::vector<std::string> patterns = Patterns(names);
    if (walk.recurse && std::all_of(patterns.begin(), patterns.end(), IsPlainName))
        SearchOnce(walk, folder, patterns, names);
    else
        SearchPerPattern(walk, folder, patterns, names);
}

} // namespace

void FindFiles(std::vector<std::string>* found, std::string folder, std::string names,
               const SearchProgressCallback& progress, bool skipThumbnails, bool recurse,
               const std::vector<std::string>* skip, const bool& stop) {
    if (stop) return;
    if (!found) throw std::logic_error(std::string(texts::FindFilesWithoutList));
    Enter(Walk{*found, progress, skipThumbnails, recurse, skip, stop}, std::move(folder),
          std::move(names), false);
}

void DriveRoots(std::vector<std::string>& roots) {
    roots.clear();
    const std::uint32_t present = sys::Drives().LogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (present & (1u << i))
            roots.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
}

} // namespace klv::util
