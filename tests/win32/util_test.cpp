// The support utilities against the real Win32 API: run under Wine, they meet Wine's
// registry, shell folders, file system, shell links and version resources.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/system.h"
#include "util/KLVShortCutU.h"
#include "util/VersionInfo.h"
#include "util/filez.h"

using namespace klv;
using namespace klv::util;

namespace {

std::string Env(const char* name) {
    char value[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string ExePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string ExeFolder() {
    std::string path = ExePath();
    return path.substr(0, path.rfind('\\') + 1);
}

#define EXPECT_SAME_PATH(a, b)                                                                     \
    EXPECT_EQ(_stricmp((a).c_str(), (b).c_str()), 0) << (a) << " vs " << (b)

// A folder of this test run below the temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder()
        : path_(TempFolder() + "klvutil-" + std::to_string(GetCurrentProcessId()) + "\\") {
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchFolder() { RemoveTree(path_); }
    std::string operator/(const std::string& name) const { return path_ + name; }
    const std::string& Path() const { return path_; }

    static void RemoveTree(const std::string& folder) {
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA((folder + "*").c_str(), &data);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name == "." || name == "..") continue;
                std::string path = folder + name;
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path + "\\");
                else
                    DeleteFileA(path.c_str());
            } while (FindNextFileA(h, &data));
            FindClose(h);
        }
        RemoveDirectoryA(folder.c_str());
    }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& content) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(missing)";
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0)
        content.append(buffer, read);
    CloseHandle(h);
    return content;
}

// The target of a shell link file, read back through IShellLinkA.
std::string LinkTarget(const std::string& linkFile) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return "(no link object)";
    std::string result = "(not loaded)";
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        std::wstring wide(linkFile.begin(), linkFile.end());
        if (SUCCEEDED(file->Load(wide.c_str(), STGM_READ))) {
            char path[MAX_PATH] = {};
            result = SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)) ? path : "(no path)";
        }
        file->Release();
    }
    link->Release();
    return result;
}

std::string UnixName(const std::string& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return {};
    std::wstring wide(path.begin(), path.end());
    char* name = toUnix(wide.c_str());
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs Debian's lnkinfo on a link file: its exit code and output, or -1 when it does not run.
// Wine starts a Linux program without a process to wait for or handles to inherit, so a
// shell writes the output and, last, the exit code into files of `folder`.
int RunLnkinfo(const std::string& linkFile, const std::string& folder, std::string& output) {
    const std::string link = UnixName(linkFile);
    const std::string out = UnixName(folder + "lnkinfo.txt");
    const std::string done = UnixName(folder + "lnkinfo.code");
    if (link.empty() || out.empty() || done.empty()) return -1;
    std::string command = "/bin/sh -c \"/usr/bin/lnkinfo '" + link + "' >'" + out +
                          "' 2>&1; echo $? >'" + done + ".part'; mv '" + done + ".part' '" + done +
                          "'\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    const std::string codeFile = folder + "lnkinfo.code";
    for (int waited = 0; GetFileAttributesA(codeFile.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 50) {
        if (waited > 60000) return -1;
        Sleep(50);
    }
    output = ReadFile(folder + "lnkinfo.txt");
    return std::atoi(ReadFile(codeFile).c_str());
}

} // namespace

TEST(Win32Folders, ShellFoldersAndTheTemporaryFolderAreTheSystems) {
    EXPECT_SAME_PATH(TempFolder(), WithTrailingBackslash(Env("TEMP")));
    EXPECT_SAME_PATH(WindowsFolder(), WithTrailingBackslash(Env("windir")));
    EXPECT_SAME_PATH(DesktopFolder(), Env("USERPROFILE") + "\\Desktop");
    EXPECT_SAME_PATH(StartMenuFolder(), Env("APPDATA") + "\\Microsoft\\Windows\\Start Menu");
    EXPECT_SAME_PATH(AppDataFolder(), Env("APPDATA"));
    EXPECT_SAME_PATH(LocalAppDataFolder(), Env("LOCALAPPDATA"));
    // The folders a 32-bit program such as Kelvaro 3 knows.
    EXPECT_SAME_PATH(ProgramFilesFolder(), Env("ProgramFiles(x86)"));
    EXPECT_SAME_PATH(CommonFilesFolder(), Env("CommonProgramFiles(x86)"));
    EXPECT_SAME_PATH(ProgramFilesFolder(), std::string("C:\\Program Files (x86)"));
    EXPECT_FALSE(InternetCacheFolder().empty());
    for (const std::string& folder :
         {TempFolder(), WindowsFolder(), DesktopFolder(), StartMenuFolder(), ProgramFilesFolder()})
        EXPECT_TRUE(FolderExistsSafe(folder)) << folder;

    // The registry's record of the program files folder, which ProgramFilesFolder falls back
    // to, names the same folder in the 32-bit view; the process may open the key for writing.
    auto key = platform::System().registry->OpenKey(
        platform::RootKey::LocalMachine, "\\software\\microsoft\\windows\\currentversion\\",
        platform::KeyAccess::Full);
    ASSERT_TRUE(key);
    // Windows records "C:\\Program Files (x86)" there; Wine without its 32-bit half (as here)
    // leaves the 32-bit view of this key without the value.
    const std::string recorded = key->ReadText("ProgramFilesDir");
    if (!recorded.empty()) {
        EXPECT_SAME_PATH(recorded, ProgramFilesFolder());
    }
}

TEST(Win32Files, ExistenceTestsAndDrives) {
    const std::string exe = ExePath();
    EXPECT_TRUE(FileExistsSafe(exe));
    EXPECT_FALSE(FolderExistsSafe(exe));
    EXPECT_TRUE(FolderExistsSafe(ExeFolder()));
    EXPECT_FALSE(FileExistsSafe(ExeFolder() + "no-such-file.exe"));

    // A path that begins with two backslashes is never reported, though the file is there.
    const std::string unc = "\\\\?\\" + exe;
    ASSERT_TRUE(platform::System().files->FileExists(unc));
    EXPECT_FALSE(FileExistsSafe(unc));
    EXPECT_FALSE(FolderExistsSafe("\\\\?\\" + ExeFolder()));

    // Relative paths count from the current folder.
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(ExeFolder().c_str());
    EXPECT_TRUE(FileExistsSafe(exe.substr(exe.rfind('\\') + 1)));
    SetCurrentDirectoryA(previous);

    const UINT callersMode = SEM_NOGPFAULTERRORBOX;
    SetErrorMode(callersMode);
    EXPECT_EQ(DriveKind("C"), 3u);
    EXPECT_EQ(DriveKind("c"), 3u);
    EXPECT_TRUE(DriveReady('c'));
    DWORD drives = GetLogicalDrives();
    EXPECT_EQ(platform::System().drives->LogicalDrives(), drives);
    for (char letter = 'Z'; letter >= 'D'; --letter)
        if (!(drives & (1u << (letter - 'A')))) {
            EXPECT_EQ(DriveKind(std::string(1, letter)), 1u) << letter;
            EXPECT_FALSE(DriveReady(letter)) << letter;
            EXPECT_FALSE(FileExistsSafe(std::string(1, letter) + ":\\x.txt")) << letter;
            break;
        }
    // The caller's error mode is back afterwards.
    EXPECT_EQ(SetErrorMode(0), callersMode);
    EXPECT_FALSE(EscapePressed());
}

TEST(Win32Files, SizesWritableFilesAndProbes) {
    ScratchFolder scratch;

    // A sparse file of 5 GiB: its size does not fit in 32 bits.
    const std::string big = scratch / "groot.bin";
    HANDLE h = CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = std::int64_t{5} << 30;
    ASSERT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ(FileSizeOf(big), std::int64_t{5} << 30);
    EXPECT_EQ(FileSizeOf(scratch / "gr*.bin"), std::int64_t{5} << 30);
    EXPECT_EQ(FileSizeOf(scratch / "none.bin"), 0);
    DeleteFileA(big.c_str());

    // Read-only and hidden: only the read-only bit goes.
    const std::string old = scratch / "kelvaro.exe";
    WriteFile(old, "oud");
    SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_FALSE(DeleteFileA(old.c_str()));
    EXPECT_TRUE(MakeWritable(old));
    DWORD attributes = GetFileAttributesA(old.c_str());
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_TRUE(MakeWritable(scratch / "nieuw.exe"));
    EXPECT_EQ(GetFileAttributesA((scratch / "nieuw.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(MakeWritable(scratch / "geen map\\kelvaro.exe"));
    EXPECT_TRUE(DeleteFileA(old.c_str()));

    // Probing leaves nothing behind and never empties a file.
    EXPECT_TRUE(CanCreateFile(scratch / "probe.txt"));
    EXPECT_EQ(GetFileAttributesA((scratch / "probe.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string kept = scratch / "stamboom.klv";
    WriteFile(kept, "Jansen, Pieter");
    EXPECT_TRUE(CanCreateFile(kept));
    EXPECT_EQ(ReadFile(kept), "Jansen, Pieter");
    SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY);
    bool readOnlyWritable = CanCreateFile(kept);
    // Windows refuses to open a read-only file for writing. Wine, run here as root, lets the
    // file be opened; either way it stays as it was.
    if (!UnderWine()) {
        EXPECT_FALSE(readOnlyWritable);
    }
    EXPECT_EQ(ReadFile(kept), "Jansen, Pieter");
    EXPECT_FALSE(CanCreateFile(scratch / "geen map\\probe.txt"));

    // Short paths name the same file.
    const std::string longName = scratch / "Een lange naam met spaties.txt";
    WriteFile(longName, "x");
    std::string shortName = ShortPath(longName);
    EXPECT_FALSE(shortName.empty());
    EXPECT_EQ(ReadFile(shortName), "x") << shortName;
    std::string shortOfMissing = ShortPath(scratch / "Nog niet aangemaakt.htm");
    EXPECT_TRUE(shortOfMissing.ends_with("\\Nog niet aangemaakt.htm")) << shortOfMissing;
}

TEST(Win32Registry, TextValuesUnderATestKey) {
    const char* keyPath = "Software\\KlvUtilTest";
    HKEY key = nullptr;
    // Written where Kelvaro 3, a 32-bit program, keeps its key: the 32-bit view.
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto setText = [&](const char* name, DWORD type, const std::string& value) {
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    };
    setText("Kelvaro", REG_SZ, "C:\\Program Files\\Kelvaro 3");
    setText("Uitgebreid", REG_EXPAND_SZ, "%ProgramFiles%\\Kelvaro");
    setText(nullptr, REG_SZ, "standaard");
    setText("Leeg", REG_SZ, "");
    DWORD number = 7;
    RegSetValueExA(key, "Getal", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(key);

    auto& registry = *platform::System().registry;
    for (auto access : {platform::KeyAccess::Read, platform::KeyAccess::Full}) {
        auto k =
            registry.OpenKey(platform::RootKey::LocalMachine, "\\Software\\KlvUtilTest\\", access);
        ASSERT_TRUE(k);
        EXPECT_EQ(k->ReadText("Kelvaro"), "C:\\Program Files\\Kelvaro 3");
        EXPECT_EQ(k->ReadText("kelvaro"), "C:\\Program Files\\Kelvaro 3");
        EXPECT_EQ(k->ReadText("Uitgebreid"), "%ProgramFiles%\\Kelvaro"); // not expanded
        EXPECT_EQ(k->ReadText(""), "standaard");
        EXPECT_EQ(k->ReadText("Leeg"), "");
        EXPECT_EQ(k->ReadText("Ontbreekt"), "");
        EXPECT_THROW(k->ReadText("Getal"), platform::RegistryError);
    }
    EXPECT_TRUE(registry.OpenKey(platform::RootKey::LocalMachine, "Software\\KlvUtilTest",
                                 platform::KeyAccess::Read));
    EXPECT_FALSE(registry.OpenKey(platform::RootKey::LocalMachine,
                                  "\\Software\\KlvUtilTest\\Ontbreekt\\",
                                  platform::KeyAccess::Read));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);

    // A file type with its open command.
    RegSetValueA(HKEY_CLASSES_ROOT, ".klvutiltest", REG_SZ, "KlvUtilTest.Document", 0);
    RegSetValueA(HKEY_CLASSES_ROOT, "KlvUtilTest.Document\\Shell\\Open\\Command", REG_SZ,
                 "\"C:\\Program Files\\Kelvaro 3\\kelvaro.exe\" \"%1\"", 0);
    EXPECT_EQ(AssociatedProgram(" .KlvUtilTest"), "C:\\Program Files\\Kelvaro 3\\kelvaro.exe");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KlvUtilTest.Document\\Shell\\Open\\Command");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KlvUtilTest.Document\\Shell\\Open");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KlvUtilTest.Document\\Shell");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KlvUtilTest.Document");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".klvutiltest");
    EXPECT_EQ(AssociatedProgram(".klvutiltest"), "");
}

namespace {

std::string LongPath(const std::string& path) {
    char buffer[MAX_PATH] = {};
    DWORD n = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buffer, n) : path;
}

// Makes `program` the program of ".htm" pages while the object lives, unless the machine has
// one already.
class PageProgram {
  public:
    explicit PageProgram(const std::string& program) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kExtension, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return; // the user's own choice stays
        }
        std::string command = "\"" + program + "\" \"%1\"";
        registered_ =
            RegSetValueA(HKEY_CLASSES_ROOT, kExtension, REG_SZ, "KlvUtilTest.Page", 0) ==
                ERROR_SUCCESS &&
            RegSetValueA(HKEY_CLASSES_ROOT, kCommand, REG_SZ, command.c_str(), 0) == ERROR_SUCCESS;
    }
    ~PageProgram() {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "KlvUtilTest.Page");
        if (registered_) RegDeleteKeyA(HKEY_CLASSES_ROOT, kExtension);
    }
    bool Registered() const { return registered_; }

  private:
    static constexpr const char* kExtension = ".htm";
    static constexpr const char* kCommand = "KlvUtilTest.Page\\shell\\open\\command";
    bool registered_ = false;
};

} // namespace

TEST(Win32Shell, OpenDocumentStartsAProgramThroughTheShell) {
    platform::ComApartment com;
    std::string browser;
    EXPECT_TRUE(OpenDocument(0, ExeFolder() + "klv_plain_sample.exe", "", "open", browser));
    EXPECT_FALSE(OpenDocument(0, ExeFolder() + "no-such-program.exe", "", "open", browser));
    EXPECT_FALSE(OpenDocument(0, "", "", "open", browser));
}

TEST(Win32Shell, TheBrowserIsTheProgramOfWebPages) {
    platform::ComApartment com;
    const std::string sample = ExeFolder() + "klv_plain_sample.exe";
    PageProgram page(sample);
    if (!page.Registered()) GTEST_SKIP() << "the machine has a program for .htm pages";
    EXPECT_SAME_PATH(LongPath(DefaultBrowser()), LongPath(sample));
    EXPECT_FALSE(FileExistsSafe(TempFolder() + "testhtm.htm"));
    EXPECT_SAME_PATH(LongPath(AssociatedProgram(".html")), LongPath(sample));

    // An address goes to that program.
    std::string browser;
    EXPECT_TRUE(OpenDocument(0, "https://www.kelvaro.nl/update", "", "open", browser));
    EXPECT_SAME_PATH(LongPath(browser), LongPath(sample));
}

TEST(Win32Shortcuts, ShortcutsOnTheDesktopAndInTheStartMenu) {
    platform::ComApartment com;
    ScratchFolder scratch;
    const std::string program = scratch / "KlvUtilProgram.exe";
    ASSERT_TRUE(CopyFileA((ExeFolder() + "klv_plain_sample.exe").c_str(), program.c_str(), FALSE));
    const std::string name = "KlvUtilTest-" + std::to_string(GetCurrentProcessId());
    const std::string desktopLink = WithTrailingBackslash(DesktopFolder()) + name + ".lnk";
    const std::string startLink = WithTrailingBackslash(StartMenuFolder()) + name + ".lnk";
    std::vector<std::string> reports;
    auto collect = [&](const std::string& text) { reports.push_back(text); };

    // A shortcut of that name that points elsewhere is replaced.
    CreateShellLink(ExePath(), desktopLink, "oud", "");
    EXPECT_EQ(_stricmp(LinkTarget(desktopLink).c_str(), ExePath().c_str()), 0);

    CreateShortcuts(scratch.Path(), "KlvUtilProgram", name, false, collect);
    EXPECT_TRUE(reports.empty()) << reports.front();
    EXPECT_TRUE(FileExistsSafe(desktopLink));
    EXPECT_TRUE(FileExistsSafe(startLink));
    EXPECT_SAME_PATH(LinkTarget(desktopLink), program);
    EXPECT_SAME_PATH(LinkTarget(startLink), program);

    // Another reader agrees: Debian's lnkinfo parses the link and finds the program.
    if (UnderWine()) {
        std::string output;
        int code = RunLnkinfo(startLink, scratch.Path(), output);
        ASSERT_NE(code, -1) << "lnkinfo could not be started";
        EXPECT_EQ(code, 0) << output;
        EXPECT_NE(output.find("KlvUtilProgram.exe"), std::string::npos) << output;
    }

    // With only-replace, a shortcut the user removed stays removed.
    DeleteFileA(startLink.c_str());
    CreateShortcuts(scratch.Path(), "KlvUtilProgram", name, true, collect);
    EXPECT_TRUE(reports.empty());
    EXPECT_SAME_PATH(LinkTarget(desktopLink), program);
    EXPECT_FALSE(FileExistsSafe(startLink));

    DeleteFileA(desktopLink.c_str());
    DeleteFileA(startLink.c_str());
}

TEST(Win32Version, ResourcesOfTheSampleExecutables) {
    TVersionInfo versioned(ExeFolder() + "klv_versioned_sample.exe");
    EXPECT_TRUE(versioned.Valid());
    EXPECT_EQ(TVersionInfo::VersionText(versioned.FileVersion()), "3.0.2.1");
    EXPECT_EQ(versioned.TranslationCount(), 1);

    TVersionInfo plain(ExeFolder() + "klv_plain_sample.exe");
    EXPECT_FALSE(plain.Valid());
    EXPECT_EQ(TVersionInfo::VersionText(plain.FileVersion()), "0.0.0.0");

    TVersionInfo missing(ExeFolder() + "no-such-program.exe");
    EXPECT_EQ(TVersionInfo::VersionText(missing.FileVersion()), "0.0.0.0");
}
