// Fault injection, as storage engines test themselves: a real upgrade of 200 files on real files
// (some replaced, one of them read-only, some new, new folders), with every change the run makes
// to the disk failing in turn (once, or from there on), and the process stopped before every
// change in turn. After each, recovery runs; the installation must then be exactly as before
// (bytes, time stamps, permissions) or exactly the update, and nothing else may have changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>

#include "app/install_journal.h"
#include "app/run_failures.h"
#include "app/staged_install.h"
#include "fixtures/archive.h"
#include "zip/test_util.h"

namespace klv::app {
namespace {

namespace fs = std::filesystem;
using platform::DiskStatus;
using test::ReadBytes;
using test::WriteBytes;

constexpr int kStopped = 77;

// Passes every change on to the system's disk, counting them. Change `failAt` fails with an
// I/O error (and with `failOn` every later one too); the process ends before change `stopAt`.
class FaultyDisk final : public platform::Disk {
  public:
    int count = 0;
    int failAt = 0;
    bool failOn = false;
    int stopAt = 0;
    int code = EIO;                 // the error a failing change gives
    std::string failPath;           // also fails the first change of a path ending so
    std::string failBytes;          // also fails the first write that holds these bytes
    std::function<void()> onCreate; // runs as the journal is made

    std::unique_ptr<platform::DiskFile> Create(const std::u16string& path,
                                               DiskStatus& status) override {
        if (Fails() || Named(path)) {
            status = Failure();
            return nullptr;
        }
        if (onCreate) onCreate();
        auto file = real_.Create(path, status);
        return file ? std::make_unique<File>(*this, std::move(file)) : nullptr;
    }
    std::unique_ptr<platform::DiskFile> Extend(const std::u16string& path,
                                               DiskStatus& status) override {
        if (Fails()) {
            status = Failure();
            return nullptr;
        }
        auto file = real_.Extend(path, status);
        return file ? std::make_unique<File>(*this, std::move(file)) : nullptr;
    }
    DiskStatus Move(const std::u16string& from, const std::u16string& to) override {
        return Fails() || Named(from) ? Failure() : real_.Move(from, to);
    }
    DiskStatus RemoveFile(const std::u16string& path) override {
        return Fails() ? Failure() : real_.RemoveFile(path);
    }
    DiskStatus MakeFolder(const std::u16string& path) override {
        return Fails() ? Failure() : real_.MakeFolder(path);
    }
    DiskStatus RemoveFolder(const std::u16string& path) override {
        return Fails() ? Failure() : real_.RemoveFolder(path);
    }
    DiskStatus SetAttributes(const std::u16string& path, std::uint32_t attributes) override {
        return Fails() ? Failure() : real_.SetAttributes(path, attributes);
    }

  private:
    class File final : public platform::DiskFile {
      public:
        File(FaultyDisk& disk, std::unique_ptr<platform::DiskFile> real)
            : disk_(disk), real_(std::move(real)) {}
        DiskStatus Write(std::string_view bytes) override {
            const bool named =
                !disk_.failBytes.empty() && bytes.find(disk_.failBytes) != std::string_view::npos;
            if (named) disk_.failBytes.clear();
            return disk_.Fails() || named ? disk_.Failure() : real_->Write(bytes);
        }
        DiskStatus WriteAt(std::int64_t offset, std::string_view bytes) override {
            return disk_.Fails() ? disk_.Failure() : real_->WriteAt(offset, bytes);
        }
        DiskStatus SetSize(std::int64_t size) override {
            return disk_.Fails() ? disk_.Failure() : real_->SetSize(size);
        }
        DiskStatus Flush() override { return disk_.Fails() ? disk_.Failure() : real_->Flush(); }
        DiskStatus SetDosStamp(std::uint32_t stamp) override {
            return disk_.Fails() ? disk_.Failure() : real_->SetDosStamp(stamp);
        }
        DiskStatus SetAttributes(std::uint32_t attributes) override {
            return disk_.Fails() ? disk_.Failure() : real_->SetAttributes(attributes);
        }
        std::int64_t Size() override { return real_->Size(); }

      private:
        FaultyDisk& disk_;
        std::unique_ptr<platform::DiskFile> real_;
    };
    DiskStatus Failure() const { return DiskStatus::Failed(code); }
    bool Named(const std::u16string& path) {
        const std::string utf8(path.begin(), path.end()); // the test's names are ASCII
        if (failPath.empty() || !utf8.ends_with(failPath)) return false;
        failPath.clear();
        return true;
    }
    // Changes come from the run's threads too (the writer, the flushers).
    bool Fails() {
        std::lock_guard guard(lock_);
        ++count;
        if (count == stopAt) std::_Exit(kStopped);
        return count == failAt || (failOn && failAt > 0 && count > failAt);
    }
    platform::Disk& real_ = platform::SystemDisk();
    std::mutex lock_;
};

// Passes every change on to the system's disk, one at a time, and keeps for every file it
// writes the bytes it held at its last completed flush. Before change `cutAt` the power goes:
// every such file is left with only those bytes (or, with `zeroFill`, those bytes and zeros
// up to the size it was written to); names, moves, deletions, folders, times and attributes
// stay as they were made, in order; and the process ends.
class PowerLossDisk final : public platform::Disk {
  public:
    PowerLossDisk(fs::path root, int cutAt, bool zeroFill)
        : root_(std::move(root)), cutAt_(cutAt), zeroFill_(zeroFill) {}
    int count = 0;

    std::unique_ptr<platform::DiskFile> Create(const std::u16string& path,
                                               DiskStatus& status) override {
        std::lock_guard guard(lock_);
        Change();
        auto file = real_.Create(path, status);
        if (!file) return nullptr;
        Contents& contents = files_[Inode(path)];
        contents = {};
        return std::make_unique<File>(*this, std::move(file), contents);
    }
    std::unique_ptr<platform::DiskFile> Extend(const std::u16string& path,
                                               DiskStatus& status) override {
        std::lock_guard guard(lock_);
        Change();
        auto file = real_.Extend(path, status);
        if (!file) return nullptr;
        Contents& contents = files_[Inode(path)];
        contents.written = contents.flushed = ReadBytes(fs::path(path));
        return std::make_unique<File>(*this, std::move(file), contents);
    }
    DiskStatus Move(const std::u16string& from, const std::u16string& to) override {
        std::lock_guard guard(lock_);
        Change();
        return real_.Move(from, to);
    }
    DiskStatus RemoveFile(const std::u16string& path) override {
        std::lock_guard guard(lock_);
        Change();
        const ino_t inode = Inode(path);
        const DiskStatus status = real_.RemoveFile(path);
        if (status.ok()) files_.erase(inode);
        return status;
    }
    DiskStatus MakeFolder(const std::u16string& path) override {
        std::lock_guard guard(lock_);
        Change();
        return real_.MakeFolder(path);
    }
    DiskStatus RemoveFolder(const std::u16string& path) override {
        std::lock_guard guard(lock_);
        Change();
        return real_.RemoveFolder(path);
    }
    DiskStatus SetAttributes(const std::u16string& path, std::uint32_t attributes) override {
        std::lock_guard guard(lock_);
        Change();
        return real_.SetAttributes(path, attributes);
    }

  private:
    struct Contents {
        std::string written, flushed;
    };
    class File final : public platform::DiskFile {
      public:
        File(PowerLossDisk& disk, std::unique_ptr<platform::DiskFile> real, Contents& contents)
            : disk_(disk), real_(std::move(real)), contents_(contents) {}
        DiskStatus Write(std::string_view bytes) override {
            std::lock_guard guard(disk_.lock_);
            disk_.Change();
            const DiskStatus status = real_->Write(bytes);
            if (status.ok()) contents_.written += bytes;
            return status;
        }
        DiskStatus WriteAt(std::int64_t offset, std::string_view bytes) override {
            std::lock_guard guard(disk_.lock_);
            disk_.Change();
            const DiskStatus status = real_->WriteAt(offset, bytes);
            if (!status.ok()) return status;
            const auto at = static_cast<std::size_t>(offset);
            if (contents_.written.size() < at + bytes.size())
                contents_.written.resize(at + bytes.size());
            contents_.written.replace(at, bytes.size(), bytes);
            return status;
        }
        DiskStatus SetSize(std::int64_t size) override {
            std::lock_guard guard(disk_.lock_);
            disk_.Change();
            const DiskStatus status = real_->SetSize(size);
            if (status.ok()) contents_.written.resize(static_cast<std::size_t>(size));
            return status;
        }
        DiskStatus Flush() override {
            std::lock_guard guard(disk_.lock_);
            disk_.Change();
            const DiskStatus status = real_->Flush();
            if (status.ok()) contents_.flushed = contents_.written;
            return status;
        }
        DiskStatus SetDosStamp(std::uint32_t stamp) override {
            std::lock_guard guard(disk_.lock_);
            disk_.Change();
            return real_->SetDosStamp(stamp);
        }
        DiskStatus SetAttributes(std::uint32_t attributes) override {
            std::lock_guard guard(disk_.lock_);
            disk_.Change();
            return real_->SetAttributes(attributes);
        }
        std::int64_t Size() override { return real_->Size(); }

      private:
        PowerLossDisk& disk_;
        std::unique_ptr<platform::DiskFile> real_;
        Contents& contents_;
    };

    static ino_t Inode(const std::u16string& path) {
        struct stat st {};
        return ::lstat(fs::path(path).c_str(), &st) == 0 ? st.st_ino : 0;
    }
    // Under the lock: counts the change, or cuts the power before it.
    void Change() {
        if (++count != cutAt_) return;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            struct stat st {};
            if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            const auto found = files_.find(st.st_ino);
            if (found == files_.end()) continue;
            std::string kept = found->second.flushed;
            if (zeroFill_ && kept.size() < found->second.written.size())
                kept.resize(found->second.written.size(), '\0');
            // What stays on the medium, with the file's time and permissions as they were.
            ::chmod(entry.path().c_str(), st.st_mode | S_IWUSR);
            WriteBytes(entry.path(), kept);
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW);
            ::chmod(entry.path().c_str(), st.st_mode & 07777);
        }
        std::_Exit(kStopped);
    }

    fs::path root_;
    int cutAt_;
    bool zeroFill_;
    std::map<ino_t, Contents> files_;
    platform::Disk& real_ = platform::SystemDisk();
    std::mutex lock_;
};

struct Seen {
    std::string bytes;
    std::int64_t mtime = 0;
    unsigned mode = 0;
    bool operator==(const Seen&) const = default;
};
using Tree = std::map<std::string, Seen>;

// Every file, folder and link below `root`, by relative path.
Tree Snapshot(const fs::path& root) {
    Tree seen;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        Seen s;
        s.mode = st.st_mode;
        if (S_ISREG(st.st_mode)) {
            s.bytes = ReadBytes(entry.path());
            s.mtime = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
        }
        seen[fs::relative(entry.path(), root).string()] = s;
    }
    return seen;
}

std::string Describe(const Tree& got, const Tree& want) {
    std::string out;
    for (const auto& [name, s] : want)
        if (!got.count(name))
            out += " missing " + name;
        else if (!(got.at(name) == s))
            out += " changed " + name;
    for (const auto& [name, s] : got)
        if (!want.count(name)) out += " added " + name;
    return out.substr(0, 600);
}

class FaultInjection : public ::testing::Test {
  protected:
    void SetUp() override {
        // Memory-backed when there is one: a few hundred runs of 200 files each.
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        root = base / ("klvfault-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "Ernaast");
        WriteBytes(root / "Ernaast" / "buurman.txt", "a neighbour of the installation");
        folder = root / "Kelvaro";
        package = root / "package.exe";
        WriteBytes(package, Package());
        Stage();
        before = Snapshot(root);
    }
    void TearDown() override { fs::remove_all(root); }

    // The installation: 100 files in three folders, fixed stamps, one read-only.
    void Stage() {
        fs::remove_all(folder);
        for (const char* sub : {"Data", "SC", "Rapporten"})
            fs::create_directories(folder / sub);
        for (int i = 0; i < 100; ++i) {
            const fs::path file = folder / OldName(i);
            WriteBytes(file, "old " + std::to_string(i) + std::string(i * 7, 'o'));
            fs::last_write_time(file, fs::file_time_type(std::chrono::seconds(1600000000 + i)));
        }
        // A folder the payload replaces whole: it swaps with its staged copy.
        fs::create_directories(folder / "Sjablonen");
        for (int i = 0; i < 4; ++i) {
            WriteBytes(folder / TemplateName(i), "old template " + std::to_string(i));
            fs::last_write_time(folder / TemplateName(i),
                                fs::file_time_type(std::chrono::seconds(1600000200 + i)));
        }
        fs::permissions(folder / OldName(3),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    static std::string OldName(int i) {
        static const char* folders[] = {"Data/", "SC/", "Rapporten/", ""};
        return std::string(folders[i % 4]) + "bestand" + std::to_string(i) + ".dat";
    }

    static std::string TemplateName(int i) { return "Sjablonen/sjabloon" + std::to_string(i); }

    // The payload: 60 of the old files replaced (the read-only one among them), 140 new ones,
    // 40 of them in existing folders and 100 in new folders two levels deep.
    static std::string Package() {
        test::Archive w;
        w.prefix = test::FakeExecutable(4096);
        for (int i = 0; i < 60; ++i)
            w.add(OldName(i), "new " + std::to_string(i) + std::string(i * 11, 'n')).store =
                i % 2 == 0;
        for (int i = 0; i < 40; ++i)
            w.add(OldName(100 + i), "added " + std::to_string(i));
        for (int i = 0; i < 100; ++i)
            w.add("Nieuw/Deel" + std::to_string(i % 5) + "/item" + std::to_string(i) + ".txt",
                  std::string(200 + i, static_cast<char>('a' + i % 26)));
        w.addDir("Nieuw/Leeg/");
        for (int i = 0; i < 4; ++i)
            w.add(TemplateName(i), "new template " + std::to_string(i));
        return w.build();
    }

    InstallOutcome Install(platform::Disk& disk) {
        zip::TZipArchive archive;
        return OpenedPayload(archive, package.u16string()).Install(Folder(), u"", disk);
    }
    std::u16string Folder() const { return folder.u16string() + u"/"; }

    fs::path root, folder, package;
    Tree before;
};

TEST_F(FaultInjection, EveryChangeFailingOrCutOffLeavesTheOldOrTheNewInstallation) {
    // A clean run: the number of changes, and the installation as the update leaves it.
    FaultyDisk counting;
    ASSERT_EQ(Install(counting).kind, InstallOutcome::Ok);
    const int changes = counting.count;
    const Tree updated = Snapshot(root);
    ASSERT_NE(updated, before);
    std::cout << "[          ] a 200-file upgrade makes " << changes << " changes\n";

    int restoredByRecovery = 0, completedByRecovery = 0;
    // `installed`: the run said so. Otherwise only a commit already on disk (a flush that
    // failed after the line was written) may leave the update, which recovery then completes.
    auto check = [&](const std::string& what, bool installed) {
        SCOPED_TRACE(what);
        const RecoveryResult recovered = RecoverInterruptedRun(Folder());
        ASSERT_FALSE(BlocksInstallation(recovered)) << static_cast<int>(recovered);
        restoredByRecovery += recovered == RecoveryResult::Restored;
        completedByRecovery += recovered == RecoveryResult::Completed;
        const Tree now = Snapshot(root);
        if (now == updated && (installed || recovered == RecoveryResult::Completed)) return;
        ASSERT_EQ(now, before) << Describe(now, before);
    };

    for (int n = 1; n <= changes; ++n) {
        for (const bool from : {false, true}) {
            const std::string what = "change " + std::to_string(n) + (from ? " and on" : "");
            Stage();
            FaultyDisk disk;
            disk.failAt = n;
            disk.failOn = from;
            const InstallOutcome outcome = Install(disk);
            // A failure before the commit says so; one after it is the update in place.
            check(what + " failing", outcome.kind == InstallOutcome::Ok);
            if (::testing::Test::HasFatalFailure()) return;
        }
        Stage();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FaultyDisk disk;
            disk.stopAt = n;
            Install(disk);
            std::_Exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), kStopped) << "stopped before change " << n;
        check("stopped before change " + std::to_string(n), false);
        if (::testing::Test::HasFatalFailure()) return;
    }
    std::cout << "[          ] " << changes << " x 3 cases held; recovery restored "
              << restoredByRecovery << " and completed " << completedByRecovery << "\n";
    // The next run after all that installs as usual.
    Stage();
    ASSERT_EQ(Install(platform::SystemDisk()).kind, InstallOutcome::Ok);
    EXPECT_EQ(Snapshot(root), updated);
}

// A power cut before every change of the run in turn, once losing every file's bytes written
// since its last flush (the file cut back to them) and once keeping its size but not those
// bytes (zeros in their place). After each, recovery at the next start must leave exactly the
// old installation or exactly the update.
TEST_F(FaultInjection, APowerCutAtAnyChangeLosesNothing) {
    PowerLossDisk counting(root, 0, false);
    ASSERT_EQ(Install(counting).kind, InstallOutcome::Ok);
    const int changes = counting.count;
    const Tree updated = Snapshot(root);
    Stage();
    int restored = 0, completed = 0;
    for (int n = 1; n <= changes; ++n) {
        for (const bool zeroFill : {false, true}) {
            const std::string what = "power cut before change " + std::to_string(n) +
                                     (zeroFill ? ", unflushed bytes zeroed" : ", cut back");
            SCOPED_TRACE(what);
            Stage();
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                PowerLossDisk disk(root, n, zeroFill);
                Install(disk);
                std::_Exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            ASSERT_EQ(WEXITSTATUS(status), kStopped);
            const RecoveryResult recovered = RecoverInterruptedRun(Folder());
            ASSERT_FALSE(BlocksInstallation(recovered)) << static_cast<int>(recovered);
            const Tree now = Snapshot(root);
            if (recovered == RecoveryResult::Completed) {
                ++completed;
                ASSERT_EQ(now, updated) << Describe(now, updated);
            } else {
                restored += recovered == RecoveryResult::Restored;
                ASSERT_EQ(now, before) << Describe(now, before);
            }
        }
    }
    std::cout << "[          ] " << changes << " changes x 2 power cuts held; recovery restored "
              << restored << " and completed " << completed << "\n";
}

// Each failure is told by its cause: no rights, a file in use (named), a full drive, a write of
// the run's own journal (a write failure naming no file).
TEST_F(FaultInjection, EachFailureIsToldByItsCause) {
    const std::string shown = folder.string() + "/";
    struct Case {
        int code;
        std::string path, bytes;
        InstallOutcome::Kind kind;
        std::string file, notice;
    };
    for (const Case& c : std::vector<Case>{
             {EACCES, "~klvupgrade.journal", "", InstallOutcome::NoRights, "",
              "U heeft geen rechten om de bestanden in [" + shown +
                  "] te wijzigen.\r\n\r\nEr "
                  "is niets gewijzigd."},
             {EBUSY, "Kelvaro/Data\\bestand4.dat", "", InstallOutcome::FileInUse,
              "Data\\bestand4.dat",
              "Het bestand \"Data\\bestand4.dat\" is in gebruik door een ander programma."},
             {ENOSPC, "", "KLVUPGRADE-JOURNAL", InstallOutcome::NoRoom, "",
              "Er is niet genoeg vrije ruimte op de schijf van [" + shown + "]."},
             {EIO, "", "COMMITTED", InstallOutcome::WriteFailed, "",
              "De update kon niet worden uitgepakt in [" + shown +
                  "].\r\n\r\nEr is niets "
                  "gewijzigd."},
             {EACCES, "Kelvaro/Data\\bestand8.dat", "", InstallOutcome::NoRights,
              "Data\\bestand8.dat",
              "U heeft geen rechten om de bestanden in [" + shown +
                  "] te wijzigen.\r\nHet "
                  "bestand \"Data\\bestand8.dat\" mag niet worden gewijzigd."}}) {
        SCOPED_TRACE(c.notice);
        Stage();
        FaultyDisk disk;
        disk.code = c.code;
        disk.failPath = c.path;
        disk.failBytes = c.bytes;
        const InstallOutcome outcome = Install(disk);
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(std::string(outcome.file.begin(), outcome.file.end()), c.file);
        EXPECT_TRUE(FailureNotice(outcome, shown).starts_with(c.notice))
            << FailureNotice(outcome, shown);
        // The log says why: the system's error number and the item (or the run's journal).
        const std::string logLine = ReportFailure(outcome, shown).logLine;
        EXPECT_NE(logLine.find("Windows-fout " + std::to_string(c.code) + ", " +
                               platform::SystemErrorName(c.code) + ","),
                  std::string::npos)
            << logLine;
        EXPECT_NE(logLine.find(c.file.empty() ? std::string("item: ") : "item: " + c.file),
                  std::string::npos)
            << logLine;
        EXPECT_EQ(Snapshot(root), before);
    }
}

// A file that appears where a new one goes while the run stages is not the run's: the run
// stops there, and its undo leaves that file alone.
TEST_F(FaultInjection, AFileThatAppearsMeanwhileIsKept) {
    FaultyDisk disk;
    disk.onCreate = [&] { WriteBytes(folder / OldName(120), "the user's own"); };
    EXPECT_NE(Install(disk).kind, InstallOutcome::Ok);
    EXPECT_EQ(ReadBytes(folder / OldName(120)), "the user's own");
    fs::remove(folder / OldName(120));
    EXPECT_EQ(Snapshot(root), before);
}

} // namespace
} // namespace klv::app
