// An in-memory Windows machine for the logic tests: drives with kinds and readiness, folders
// and files with attributes on an in-memory disk (memory_disk.h), registry values and access
// rights, special folders, the shell (program starts, file associations, shell links), version
// resources, the keyboard, and a record of every box shown and answer given. Creating a FakeMachine
// installs it as the process's platform services; destroying it puts the previous ones back.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fakes/memory_disk.h"
#include "platform/system.h"

namespace klv::fakes {

class FakeMachine final : public platform::Registry,
                          public platform::Folders,
                          public platform::Drives,
                          public platform::Files,
                          public platform::Shell,
                          public platform::VersionResources,
                          public platform::Keyboard,
                          public platform::WindowSystem,
                          public platform::Programs {
  public:
    // A machine with a ready fixed drive C: whose root is the current folder.
    FakeMachine();
    ~FakeMachine() override;
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;

    // ---- staging ----
    void AddDrive(char letter, unsigned kind, bool ready = true);
    void SetDriveReady(char letter, bool ready);
    void RemoveDrive(char letter);
    // Adds a folder and every missing folder above it (the drive must exist).
    void AddFolder(std::string_view path);
    // Adds a file (and its folders); replaces an entry of that name.
    void AddFile(std::string_view path, std::int64_t size = 0,
                 std::uint32_t attributes = platform::faArchive);
    void Remove(std::string_view path); // an entry and everything below it
    // A folder the user may not change (as "Program Files" for a standard user): nothing can
    // be created, written or removed in it or below it.
    void DenyWrites(std::string_view folder);
    // A file that another program holds open: it cannot be written or deleted.
    void LockFile(std::string_view path);
    void SetCurrentFolder(std::string_view path) { current_ = std::string(path); }
    void SetShortName(std::string_view path, std::string_view shortName);
    // A program that runs as process `process` and holds `path` open (locked) until it is
    // closed; one that `refuses` keeps running when asked to close (unsaved work).
    void RunProgram(std::string_view name, std::uint32_t process, std::string_view path,
                    bool refuses = false);

    void SetTempPath(std::string_view path) { temp_ = std::string(path); }
    void SetWindowsDirectory(std::string_view path) { windows_ = std::string(path); }
    void SetSpecialFolder(int folder, std::string_view path);

    void SetRegistryText(platform::RootKey root, std::string_view key, std::string_view name,
                         std::string_view value);
    void SetRegistryNumber(platform::RootKey root, std::string_view key, std::string_view name,
                           std::uint32_t value);
    void AddRegistryKey(platform::RootKey root, std::string_view key);
    // The machine is 64-bit Windows (the default) or 32-bit Windows: the VirtualStore's path.
    void SetWindows64(bool windows64) { windows64_ = windows64; }
    // Keys below `root` no longer open with full (read and write) access.
    void DenyFullAccess(platform::RootKey root) { denied_[static_cast<int>(root)] = true; }

    // The program that FindExecutable names for documents with extension `extension`.
    void SetExecutableFor(std::string_view extension, std::string_view program);
    void SetExecuteResult(std::intptr_t result) { executeResult_ = result; }
    // The copy started as administrator ends with `code`; none: it could not be started.
    void SetElevatedRunResult(std::optional<int> code) { elevatedResult_ = code; }
    // This process runs with an administrator's full token.
    void SetElevated(bool elevated) { elevated_ = elevated; }
    // The next `count` shell link objects cannot be created: error `result`.
    void FailNextShellLinks(int count, std::int32_t result = -2147467259 /* E_FAIL */);

    void SetFileVersion(std::string_view path, std::uint32_t ms, std::uint32_t ls,
                        std::vector<std::uint32_t> translations = {0x04E40413});
    // A version resource without its fixed part.
    void SetVersionWithoutFixedInfo(std::string_view path);
    void FailVersionReads() { failVersionReads_ = true; }

    void SetKeyState(int key, std::int16_t state) { keyStates_[key] = state; }
    // Answers of the next boxes, in order; after them every box answers `defaultAnswer`.
    void QueueAnswer(int answer) { answers_.push_back(answer); }
    int defaultAnswer = platform::idOk;

    // The machine's disk, to hand to what takes a Disk.
    MemoryDisk& Disk() { return disk_; }

    // ---- inspection ----
    bool HasFile(std::string_view path) const;
    bool HasFolder(std::string_view path) const;
    std::optional<std::uint32_t> AttributesOf(std::string_view path) const;
    std::int64_t SizeOf(std::string_view path) const;

    struct Box {
        std::string text;
        std::string caption;
        unsigned flags;
        int answer;
    };
    struct Execution {
        platform::WindowHandle owner;
        std::string verb, file, parameters, folder;
        int show;
    };
    struct Link {
        std::string target, arguments, description;
    };
    std::optional<Link> LinkAt(std::string_view path) const;

    std::vector<Box> boxes;
    std::vector<Execution> executions;
    std::vector<platform::Cursor> cursors;
    // Boxes the system itself would have shown ("no disk in drive"): a drive without a
    // medium was touched while the error mode allowed them.
    int systemErrorBoxes = 0;
    unsigned errorMode = 0;
    int terminations = 0;
    // Restart Manager sessions: "close <name>", "refused <name>", "restart <name>".
    // Noteworthy calls in order: "messages", "box", "create <path>", "remove <path>",
    // "attributes <path> <hex>", "find executable <path>", "link SetPath <target>", ...
    std::vector<std::string> journal;

    // ---- platform services ----
    std::unique_ptr<platform::RegistryKey> OpenKey(platform::RootKey root, std::string_view path,
                                                   platform::KeyAccess access) override;
    std::string VirtualStorePath(std::string_view machinePath) override {
        return platform::VirtualStoreKeyOf(machinePath, windows64_);
    }
    std::string TempPath() override { return temp_; }
    std::string WindowsDirectory() override { return windows_; }
    std::string SpecialFolder(int folder) override;
    std::uint32_t LogicalDrives() override;
    unsigned DriveType(std::string_view root) override;
    std::int64_t DiskSize(int drive) override;
    unsigned ExchangeErrorMode(unsigned mode) override;
    std::string FullPath(std::string_view path) override;
    bool FileExists(std::string_view path) override;
    bool FolderExists(std::string_view path) override;
    bool SetAttributes(std::string_view path, std::uint32_t attributes) override;
    bool CanWriteIn(std::string_view folder) override;
    std::unique_ptr<platform::DirectorySearch> Search(std::string_view pattern) override;
    platform::CreateResult MakeFile(std::string_view path, bool replace) override;
    bool OpenForWriting(std::string_view path) override;
    bool RemoveFile(std::string_view path) override;
    std::string ShortName(std::string_view path) override;
    std::intptr_t Execute(platform::WindowHandle owner, std::string_view verb,
                          std::string_view file, std::string_view parameters,
                          std::string_view folder, int show) override;
    std::optional<int> RunElevatedAndWait(platform::WindowHandle owner, std::string_view file,
                                          std::u16string_view parameters) override;
    bool Elevated() override { return elevated_; }
    std::string ExecutableFor(std::string_view file) override;
    std::unique_ptr<platform::ShellLink> NewShellLink() override;
    std::uint32_t InfoSize(std::string_view file, std::uint32_t& handle) override;
    bool ReadInfo(std::string_view file, std::uint32_t handle, std::uint32_t size,
                  void* block) override;
    bool QueryValue(const void* block, std::string_view subBlock, const void*& value,
                    std::uint32_t& length) override;
    std::int16_t AsyncKeyState(int key) override;
    int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    void ProcessMessages() override { journal.push_back("messages"); }
    void SetCursorShape(platform::Cursor cursor) override;
    void Terminate() override { ++terminations; }
    std::unique_ptr<platform::ProgramSession>
    Session(const std::vector<std::string>& files) override;

  private:
    friend class FakeShellLink;
    friend class FakeProgramSession;
    struct Drive {
        unsigned kind;
        bool ready;
    };
    struct Value {
        bool text;
        std::string data;
    };
    struct Version {
        bool hasFixed;
        std::uint32_t ms, ls;
        std::vector<std::uint32_t> translations;
    };
    using KeyName = std::pair<int, std::string>;

    // The drive of a path when it is there and has a medium. Touching a drive without a
    // medium shows the system's box unless the error mode forbids it.
    const Drive* ReachableDrive(std::string_view path);
    bool SaveLink(const std::string& path, const Link& link);

    std::map<char, Drive> drives_;
    mutable MemoryDisk disk_;
    std::map<std::string, std::string> shortNames_;
    std::string current_ = "C:\\";
    std::string temp_ = "C:\\windows\\temp\\";
    std::string windows_ = "C:\\windows";
    std::map<int, std::string> special_;
    std::map<KeyName, std::map<std::string, Value>> registry_;
    bool denied_[3] = {false, false, false};
    bool windows64_ = true;
    std::map<std::string, std::string> executables_;
    std::intptr_t executeResult_ = 42;
    std::optional<int> elevatedResult_ = 0;
    bool elevated_ = false;
    int linkFailures_ = 0;
    std::int32_t linkFailure_ = 0;
    std::map<std::string, Link> links_;
    std::map<std::string, Version> versions_;
    bool failVersionReads_ = false;
    std::map<int, std::int16_t> keyStates_;
    std::deque<int> answers_;
    struct Program {
        std::string name, file; // file: canonical
        std::uint32_t process;
        bool refuses, running;
    };
    std::vector<Program> programs_;
    platform::Services previous_;
};

// The canonical form of a Windows path: '/' as '\', upper case, no trailing '\' except at
// a drive's root.
std::string CanonicalPath(std::string_view path);

} // namespace klv::fakes
