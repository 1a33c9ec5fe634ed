#include "util/filez.h"

#include <algorithm>
#include <exception>

#include "platform/ansi_text.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "util/FastStrings.h"
#include "util/ascii_text.h"
#include "util/assertion.h"
#include "util/system_access.h"

namespace klv::util {

using platform::KeyAccess;
using platform::RootKey;

namespace {

constexpr unsigned kQuietErrorMode =
    platform::emFailCriticalErrors | platform::emNoOpenFileErrorBox;

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The folder part of a path, without its trailing backslash except at a root ("C:\").
std::string ExtractFileDir(std::string_view path) {
    auto i = path.find_last_of("\\:");
    if (i == std::string_view::npos) return {};
    if (i > 0 && path[i] == '\\' && path[i - 1] != '\\' && path[i - 1] != ':') --i;
    return std::string(path.substr(0, i + 1));
}

std::string ExtractFileName(std::string_view path) {
    auto i = path.find_last_of("\\:");
    return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

// A value under one of the two keys that name the system's program folders, opened for reading
// only: a standard user may not open HKEY_LOCAL_MACHINE for more.
std::string ProgramFolderFromRegistry(std::string_view valueName) {
    static constexpr std::string_view kKeys[] = {
        "\\software\\microsoft\\windows\\currentversion\\",
        "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SFC\\",
    };
    for (std::string_view path : kKeys)
        if (auto key = sys::Registry().OpenKey(RootKey::LocalMachine, path, KeyAccess::Read))
            return key->ReadText(valueName);
    return {};
}

// The quiet existence test, for a file or a folder.
bool ExistsQuietly(std::string_view path, bool folder) {
    if (path.size() < 2) return false;
    std::string full(path);
    if (!platform::StartsWithDrive(full)) {
        full = sys::Files().FullPath(full);
        if (!platform::StartsWithDrive(full)) return false; // a network path
    }
    unsigned kind = DriveKind(std::string_view(full).substr(0, 1));
    if ((kind == platform::dkRemovable || kind == platform::dkCdRom) && !DriveReady(full[0]))
        return false;
    return folder ? FolderExists(full) : FileExists(full);
}

bool OnCdDrive(std::string_view fullPath) {
    return !fullPath.empty() && DriveKind(fullPath.substr(0, 1)) == platform::dkCdRom;
}

class HourGlass {
  public:
    HourGlass() { sys::Windows().SetCursorShape(platform::Cursor::HourGlass); }
    ~HourGlass() { sys::Windows().SetCursorShape(platform::Cursor::Normal); }
    HourGlass(const HourGlass&) = delete;
    HourGlass& operator=(const HourGlass&) = delete;
};

} // namespace

// ---- folders ----

std::string TempFolder() {
    return sys::Folders().TempPath();
}

std::string WindowsFolder() {
    return WithTrailingBackslash(sys::Folders().WindowsDirectory());
}

std::string ProgramFilesFolder() {
    std::string folder = sys::Folders().SpecialFolder(platform::sfProgramFiles);
    if (folder.empty()) folder = ProgramFolderFromRegistry("ProgramFilesDir");
    return folder;
}

std::string ProgramFilesRoot() {
    return ProgramFilesFolder().substr(0, 3);
}

std::string CommonFilesFolder() {
    std::string folder = sys::Folders().SpecialFolder(platform::sfProgramFilesCommon);
    if (folder.empty()) folder = sys::Folders().SpecialFolder(platform::sfCommonPrograms);
    if (folder.empty()) folder = ProgramFolderFromRegistry("CommonFilesDir");
    return folder;
}

std::string DesktopFolder() {
    return sys::Folders().SpecialFolder(platform::sfDesktopDirectory);
}
std::string StartMenuFolder() {
    return sys::Folders().SpecialFolder(platform::sfStartMenu);
}
std::string AppDataFolder() {
    return sys::Folders().SpecialFolder(platform::sfAppData);
}
std::string LocalAppDataFolder() {
    return sys::Folders().SpecialFolder(platform::sfLocalAppData);
}
std::string InternetCacheFolder() {
    return sys::Folders().SpecialFolder(platform::sfInternetCache);
}

// ---- text ----

std::string WithTrailingBackslash(std::string_view path) {
    std::string result(path);
    if (!result.empty() && result.back() != '\\') result += '\\';
    return result;
}

std::string LowerTrim(std::string_view text) {
    return LowerAscii(TrimmedView(text));
}

std::string IntText(int value) {
    return std::to_string(value);
}

int LargerOf(int a, int b) {
    return a > b ? a : b;
}

bool EndsWithText(std::string_view text, std::string_view suffix) {
    if (text.empty() || text.size() < suffix.size()) return false;
    std::string_view tail = text.substr(text.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(),
                      [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

std::string TextBetween(std::string_view source, std::string_view pattern,
                        std::string_view defaultText, bool caseSensitive) {
    auto star = pattern.find('*');
    if (star == std::string_view::npos) return std::string(defaultText);
    std::string_view prefix = pattern.substr(0, star);
    std::string_view suffix = pattern.substr(star + 1);
    int p = SmartFind(prefix, source, caseSensitive, 1, true);
    if (p == 0) return std::string(defaultText);
    std::string_view rest = source.substr(static_cast<std::size_t>(p - 1) + prefix.size());
    int q = SmartFind(suffix, rest, caseSensitive, 1, true);
    if (q > 1) return std::string(rest.substr(0, static_cast<std::size_t>(q - 1)));
    return std::string(defaultText);
}

std::vector<std::string> DistinctList(const std::vector<std::string>& list) {
    std::vector<std::string> kept;
    for (const std::string& entry : list) {
        bool repeated = std::any_of(kept.begin(), kept.end(), [&](const std::string& k) {
            return platform::SameTextAnsi(k, entry);
        });
        if (!repeated) kept.push_back(entry);
    }
    return kept;
}

// ---- drives and files ----

unsigned DriveKind(std::string_view letter) {
    std::string root(letter);
    root += ":\\";
    unsigned kind = sys::Drives().DriveType(root);
    return kind <= platform::dkRamDisk ? kind : platform::dkUnknown;
}

bool DriveReady(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
    KLV_ASSERT("filez", letter >= 'A' && letter <= 'Z');
    platform::ErrorModeScope quiet(sys::Drives(), kQuietErrorMode);
    return sys::Drives().DiskSize(letter - 'A' + 1) != -1;
}

bool FileExists(std::string_view path) {
    return sys::Files().FileExists(path);
}

bool FolderExists(std::string_view path) {
    return sys::Files().FolderExists(path);
}

bool FileExistsSafe(std::string_view path) {
    platform::ErrorModeScope quiet(sys::Drives(), kQuietErrorMode);
    return ExistsQuietly(path, false);
}

bool FolderExistsSafe(std::string_view path) {
    platform::ErrorModeScope quiet(sys::Drives(), kQuietErrorMode);
    return ExistsQuietly(path, true);
}

std::int64_t FileSizeOf(std::string_view path) {
    platform::ErrorModeScope quiet(sys::Drives(), kQuietErrorMode);
    platform::FileEntry entry;
    if (auto search = sys::Files().Search(path); search && search->Next(entry)) return entry.size;
    return 0;
}

bool MakeWritable(std::string_view path) {
    std::string full = sys::Files().FullPath(path);
    if (OnCdDrive(full)) return false;
    if (!FolderExistsSafe(ExtractFileDir(full))) return false;
    if (!FileExistsSafe(full)) return true;
    platform::FileEntry entry;
    if (auto search = sys::Files().Search(full); search && search->Next(entry))
        return sys::Files().SetAttributes(full, entry.attributes & ~platform::faReadOnly);
    return CanCreateFile(full);
}

bool CanCreateFile(std::string_view path) {
    try {
        std::string full = sys::Files().FullPath(path);
        if (full.empty() || OnCdDrive(full)) return false;
        switch (sys::Files().MakeFile(full, false)) {
        case platform::CreateResult::Created:
            return sys::Files().RemoveFile(full);
        case platform::CreateResult::AlreadyExists:
            return sys::Files().OpenForWriting(full);
        case platform::CreateResult::Failed:
            break;
        }
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

std::string ShortPath(std::string_view path) {
    std::string result;
    if (FileExistsSafe(path) || FolderExistsSafe(path)) result = sys::Files().ShortName(path);
    if (result.empty() && Contains(path, ".")) {
        std::string folder = ExtractFileDir(path);
        if (folder == path) return {};
        result = WithTrailingBackslash(ShortPath(folder)) + ExtractFileName(path);
    }
    return result;
}

bool EscapePressed() {
    std::int16_t state = sys::Keyboard().AsyncKeyState(platform::vkEscape);
    return state != 0 && state != 1;
}

// ---- shell ----

bool OpenDocument(platform::WindowHandle owner, std::string_view fileName,
                  std::string_view parameters, std::string_view verb, std::string& browserPath) {
    HourGlass hourGlass;
    if (fileName.empty()) return false;
    if (!FileExistsSafe(browserPath)) browserPath = AssociatedProgram(".htm");
    std::string file(fileName);
    std::string params(parameters);
    if (FileExistsSafe(browserPath)) {
        std::string name = LowerTrim(fileName);
        if (Contains(name, ".htm") || Contains(name, ".php") || Contains(name, ".pdf") ||
            name.starts_with("http://") || name.starts_with("https://")) {
            params = file;
            file = ShortPath(browserPath);
        }
    }
    return sys::Shell().Execute(owner, verb, file, "\"" + params + "\"", "", platform::swShow) > 32;
}

std::string AssociatedProgram(std::string_view extension) {
    std::string ext = LowerTrim(extension);
    if (Contains(ext, "htm") || Contains(ext, "php") || Contains(ext, "aspx"))
        return DefaultBrowser();
    std::string fileType;
    if (auto key = sys::Registry().OpenKey(RootKey::ClassesRoot, ext, KeyAccess::Read))
        fileType = key->ReadText("");
    if (fileType.empty()) return {};
    std::string command;
    if (auto key = sys::Registry().OpenKey(RootKey::ClassesRoot,
                                           fileType + "\\Shell\\Open\\Command", KeyAccess::Read))
        command = key->ReadText("");
    if (!command.empty() && command[0] == '"') {
        auto close = command.find('"', 1);
        return command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return command;
}

std::string DefaultBrowser() {
    std::string temp = TempFolder();
    if (temp.empty()) return {};
    std::string probe = temp + "testhtm.htm";
    if (sys::Files().MakeFile(probe, true) != platform::CreateResult::Created) return {};
    std::string program = sys::Shell().ExecutableFor(probe);
    sys::Files().RemoveFile(probe);
    return program;
}

void CreateShellLink(std::string_view target, std::string_view linkFile,
                     std::string_view description, std::string_view arguments) {
    auto link = sys::Shell().NewShellLink();
    link->SetArguments(arguments);
    link->SetDescription(description);
    link->SetPath(target);
    link->Save(platform::AnsiToUtf16(linkFile));
}

} // namespace klv::util
