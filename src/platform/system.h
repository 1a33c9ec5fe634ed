// The installer's view of the machine: registry, folders, drives, files, shell, shell links,
// version resources, keyboard and the window system, as small interfaces collected in one
// Services object. The Windows build installs the real implementation (win32/services.cpp);
// logic tests install a fake machine. All text is 8-bit ANSI unless a function says otherwise.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace klv::platform {

// A window as the system knows it; 0 is none.
using WindowHandle = std::uintptr_t;

// File attributes, as the directory search reports them.
enum : std::uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faVolumeID = 0x08,
    faDirectory = 0x10,
    faArchive = 0x20,
    faAnyFile = 0x3F,
};

// Drive kinds as the system reports them.
enum : unsigned {
    dkUnknown = 0,
    dkNoRootDir = 1,
    dkRemovable = 2,
    dkFixed = 3,
    dkRemote = 4,
    dkCdRom = 5,
    dkRamDisk = 6,
};

// Error-mode bits: no critical-error box, no box when a file cannot be opened.
enum : unsigned {
    emFailCriticalErrors = 0x0001,
    emNoOpenFileErrorBox = 0x8000,
};

// Special folders, by their shell numbers.
enum : int {
    sfStartMenu = 0x000B,
    sfDesktopDirectory = 0x0010,
    sfCommonPrograms = 0x0017,
    sfAppData = 0x001A,
    sfLocalAppData = 0x001C,
    sfInternetCache = 0x0020,
    sfProgramFiles = 0x0026,
    sfProgramFilesCommon = 0x002B,
};

// Message-box buttons, default button and answers.
enum : unsigned {
    mbOk = 0x0000,
    mbYesNo = 0x0004,
    mbIconError = 0x0010,
    mbIconInformation = 0x0040,
    mbDefButton2 = 0x0100,
};
enum : int {
    idOk = 1,
    idCancel = 2,
    idYes = 6,
    idNo = 7,
};

// Show command for a started program, and the key code of Escape.
enum : int {
    swShow = 5,
    vkEscape = 0x1B,
};

// ---- registry -------------------------------------------------------------------------

// LocalMachine is the machine's part as a 32-bit program sees it; CurrentUser the user's own.
enum class RootKey { LocalMachine, ClassesRoot, CurrentUser };
// Read: query rights only. Full: read and write rights; a key the process may not change does
// not open.
enum class KeyAccess { Read, Full };

// A value that is there but is not text.
class RegistryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class RegistryKey {
  public:
    virtual ~RegistryKey() = default;
    // The text value `name` ("" for the key's default value); empty when there is no such
    // value. A value of another kind raises RegistryError.
    virtual std::string ReadText(std::string_view name) = 0;
};

class Registry {
  public:
    virtual ~Registry() = default;
    // Opens `path` below `root` with the rights asked; null when the key is missing or the
    // rights are refused. A leading '\' means "from the root", a trailing one is ignored.
    virtual std::unique_ptr<RegistryKey> OpenKey(RootKey root, std::string_view path,
                                                 KeyAccess access) = 0;
    // The key below CurrentUser where Windows keeps what a legacy 32-bit program (one without
    // a manifest, under UAC) wrote to `machinePath` below LocalMachine: its VirtualStore,
    // which such a program is shown before the machine's own key.
    virtual std::string VirtualStorePath(std::string_view machinePath) = 0;
};

// A key path as the system takes it: without the leading and trailing '\'.
inline std::string_view PlainKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return path;
}

// The VirtualStore key of `machinePath`; on 64-bit Windows a 32-bit program's SOFTWARE key is
// the 32-bit view's (WOW6432Node).
inline std::string VirtualStoreKeyOf(std::string_view machinePath, bool windows64) {
    machinePath = PlainKeyPath(machinePath);
    std::string path = "Software\\Classes\\VirtualStore\\MACHINE\\";
    constexpr std::string_view kSoftware = "SOFTWARE";
    const bool software =
        machinePath.size() >= kSoftware.size() &&
        std::equal(kSoftware.begin(), kSoftware.end(), machinePath.begin(),
                   [](char a, char b) {
                       return a == (b >= 'a' && b <= 'z' ? static_cast<char>(b - 32) : b);
                   }) &&
        (machinePath.size() == kSoftware.size() || machinePath[kSoftware.size()] == '\\');
    if (windows64 && software) {
        path += "SOFTWARE\\WOW6432Node";
        path += machinePath.substr(kSoftware.size());
    } else {
        path += machinePath;
    }
    return path;
}

// ---- folders and drives ---------------------------------------------------------------

class Folders {
  public:
    virtual ~Folders() = default;
    // The temporary folder as the system gives it (with a trailing backslash).
    virtual std::string TempPath() = 0;
    // The Windows folder as the system gives it (normally without a trailing backslash).
    virtual std::string WindowsDirectory() = 0;
    // A shell folder (one of the sf... numbers); empty when the shell cannot name it.
    virtual std::string SpecialFolder(int folder) = 0;
};

class Drives {
  public:
    virtual ~Drives() = default;
    // One bit per drive present, bit 0 for A.
    virtual std::uint32_t LogicalDrives() = 0;
    // The kind (dk...) of the drive whose root is `root`, such as "C:\".
    virtual unsigned DriveType(std::string_view root) = 0;
    // The size in bytes of drive `drive` (1 for A), or -1 when the drive does not answer.
    virtual std::int64_t DiskSize(int drive) = 0;
    // Sets the process error mode (em... bits) and returns the one it replaces.
    virtual unsigned ExchangeErrorMode(unsigned mode) = 0;
};

// Sets an error mode for the lifetime of the object and restores the previous one.
class ErrorModeScope {
  public:
    ErrorModeScope(Drives& drives, unsigned mode)
        : drives_(drives), previous_(drives.ExchangeErrorMode(mode)) {}
    ~ErrorModeScope() { drives_.ExchangeErrorMode(previous_); }
    ErrorModeScope(const ErrorModeScope&) = delete;
    ErrorModeScope& operator=(const ErrorModeScope&) = delete;

  private:
    Drives& drives_;
    unsigned previous_;
};

// ---- files ----------------------------------------------------------------------------

struct FileEntry {
    std::string name; // the entry's own name, without its folder
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
};

// An open directory search; the search is closed when the object goes.
class DirectorySearch {
  public:
    virtual ~DirectorySearch() = default;
    // The next entry; false when there is none left.
    virtual bool Next(FileEntry& entry) = 0;
};

enum class CreateResult { Created, AlreadyExists, Failed };

class Files {
  public:
    virtual ~Files() = default;
    // `path` made absolute against the current folder; a path that begins with two
    // backslashes stays as it is.
    virtual std::string FullPath(std::string_view path) = 0;
    // Plain existence tests: a folder is not a file, nor a file a folder.
    virtual bool FileExists(std::string_view path) = 0;
    virtual bool FolderExists(std::string_view path) = 0;
    virtual bool SetAttributes(std::string_view path, std::uint32_t attributes) = 0;
    // True when a new file can be made in the existing `folder` now: a probe file that the
    // system removes as it is closed, so none is left behind whatever happens.
    virtual bool CanWriteIn(std::string_view folder) = 0;
    // Starts a search for the entries matching `pattern` (a folder and a name that may hold
    // '*' and '?'), every attribute included, "." and ".." left out. Null when nothing
    // matches or the folder cannot be read.
    virtual std::unique_ptr<DirectorySearch> Search(std::string_view pattern) = 0;
    // Creates an empty file and closes it. Without `replace` an existing file is left alone
    // (AlreadyExists); with it, an existing file is emptied.
    virtual CreateResult MakeFile(std::string_view path, bool replace) = 0;
    // Opens an existing file for writing, without changing it, and closes it again.
    virtual bool OpenForWriting(std::string_view path) = 0;
    virtual bool RemoveFile(std::string_view path) = 0;
    // The 8.3 form of an existing path; empty when the system cannot give one.
    virtual std::string ShortName(std::string_view path) = 0;
};

// ---- shell ----------------------------------------------------------------------------

// A shell link object could not be created or lacks an interface; `Result()` is the system's
// result code.
class ShellLinkError : public std::runtime_error {
  public:
    ShellLinkError(const std::string& what, std::int32_t result)
        : std::runtime_error(what), result_(result) {}
    std::int32_t Result() const { return result_; }

  private:
    std::int32_t result_;
};

// A new shell link, to be filled and saved. The results of the calls are the system's
// result codes.
class ShellLink {
  public:
    virtual ~ShellLink() = default;
    virtual std::int32_t SetArguments(std::string_view arguments) = 0;
    virtual std::int32_t SetDescription(std::string_view description) = 0;
    virtual std::int32_t SetPath(std::string_view target) = 0;
    // Writes the link file; the shell is not told to remember it.
    virtual std::int32_t Save(const std::u16string& linkFile) = 0;
};

class Shell {
  public:
    virtual ~Shell() = default;
    // Starts `file` with `verb`; an empty folder means none. The result is the system's
    // (greater than 32 on success).
    virtual std::intptr_t Execute(WindowHandle owner, std::string_view verb, std::string_view file,
                                  std::string_view parameters, std::string_view folder,
                                  int show) = 0;
    // Starts `file` as administrator (the "runas" verb) and waits until it ends, the owner
    // window taking no input meanwhile while its other messages are served. The new process's
    // exit code; none when it could not be started (the user refused the elevation prompt).
    // `parameters` are wide: a folder or a log outside the ANSI code page reaches the new copy.
    virtual std::optional<int> RunElevatedAndWait(WindowHandle owner, std::string_view file,
                                                  std::u16string_view parameters) = 0;
    // True when this process runs with an administrator's full (elevated) token.
    virtual bool Elevated() = 0;
    // The program that opens the existing document `file`; empty when there is none.
    virtual std::string ExecutableFor(std::string_view file) = 0;
    // A new shell link object; raises ShellLinkError when the shell cannot make one.
    virtual std::unique_ptr<ShellLink> NewShellLink() = 0;
};

// ---- version resources ----------------------------------------------------------------

// The fixed file information of a version resource, laid out as the system stores it.
struct FixedFileInfo {
    std::uint32_t signature;
    std::uint32_t structVersion;
    std::uint32_t fileVersionMS;
    std::uint32_t fileVersionLS;
    std::uint32_t productVersionMS;
    std::uint32_t productVersionLS;
    std::uint32_t fileFlagsMask;
    std::uint32_t fileFlags;
    std::uint32_t fileOS;
    std::uint32_t fileType;
    std::uint32_t fileSubtype;
    std::uint32_t fileDateMS;
    std::uint32_t fileDateLS;
};

class VersionResources {
  public:
    virtual ~VersionResources() = default;
    // The size of the file's version resource (0 when it has none) and the handle value
    // that goes with it.
    virtual std::uint32_t InfoSize(std::string_view file, std::uint32_t& handle) = 0;
    // Copies the whole resource into `block` (of `size` bytes).
    virtual bool ReadInfo(std::string_view file, std::uint32_t handle, std::uint32_t size,
                          void* block) = 0;
    // Locates `subBlock` ("\" or "\VarFileInfo\Translation") in a block that ReadInfo filled:
    // a pointer into the block and its length in bytes.
    virtual bool QueryValue(const void* block, std::string_view subBlock, const void*& value,
                            std::uint32_t& length) = 0;
};

// ---- keyboard and window system -------------------------------------------------------

class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // The state of key `key` at this moment, as the system reports it.
    virtual std::int16_t AsyncKeyState(int key) = 0;
};

enum class Cursor { Normal, HourGlass };

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    // A modal message box owned by the application's active window; returns the answer.
    virtual int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
    // Handles the window messages that are waiting, then returns.
    virtual void ProcessMessages() = 0;
    virtual void SetCursorShape(Cursor cursor) = 0;
    // Asks the message loop to end; the process ends when control returns to it.
    virtual void Terminate() = 0;
};

// ---- programs that hold files (the Restart Manager) -------------------------------------

// A running program as the system's Restart Manager names it.
struct HoldingProgram {
    std::string name;          // the application's name, as the system gives it
    std::uint32_t process = 0; // its process number
};

// One Restart Manager session over a set of files; the session ends when the object goes.
class ProgramSession {
  public:
    virtual ~ProgramSession() = default;
    // The programs that hold any of the files open now.
    virtual std::vector<HoldingProgram> Holders() = 0;
    // Asks every holder to close, never forcing one: a program that refuses (a document with
    // unsaved changes) is left running. The system's result: 0 when all of them closed.
    virtual int Close() = 0;
    // Starts again what Close ended, as far as the system may restart it. The system's result.
    virtual int Restart() = 0;
};

class Programs {
  public:
    virtual ~Programs() = default;
    // A session over `files` (full paths); null when the system has no Restart Manager.
    virtual std::unique_ptr<ProgramSession> Session(const std::vector<std::string>& files) = 0;
};

// ---- the services ---------------------------------------------------------------------

struct Services {
    Registry* registry = nullptr;
    Folders* folders = nullptr;
    Drives* drives = nullptr;
    Files* files = nullptr;
    Shell* shell = nullptr;
    VersionResources* versions = nullptr;
    Keyboard* keyboard = nullptr;
    WindowSystem* windows = nullptr;
    Programs* programs = nullptr;
};

// The services in use. In the Windows build they start as the real ones; a Linux build has
// none until a caller installs some.
const Services& System();
// What the system itself provides (the real Win32 services; none on Linux).
Services SystemServices();
// Installs `services` and returns the ones they replace.
Services InstallServices(const Services& services);

// COM for the calling thread, for the lifetime of the object (shell links need it).
class ComApartment {
  public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    [[maybe_unused]] bool initialized_ = false; // unused where COM does not exist
};

} // namespace klv::platform
