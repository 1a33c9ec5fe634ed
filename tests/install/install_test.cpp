// The all-or-nothing installation run on real files: a run that fails, or is cut off at any
// step of its switch-over and recovered afterwards, leaves the installation folder exactly as
// it was (bytes, time stamps, permissions, no entry added); one that succeeds leaves the
// payload in place and nothing of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "app/install_journal.h"
#include "app/run_log.h"
#include "app/staged_install.h"
#include "fixtures/archive.h"
#include "zip/test_util.h"

namespace klv::app {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

struct Seen {
    std::string bytes;
    std::int64_t mtime = 0;
    unsigned mode = 0;
    bool operator==(const Seen&) const = default;
};

// Every file and folder below `root`, by relative path.
std::map<std::string, Seen> Snapshot(const fs::path& root) {
    std::map<std::string, Seen> seen;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        Seen s;
        s.mode = st.st_mode;
        if (entry.is_regular_file()) {
            s.bytes = ReadBytes(entry.path());
            s.mtime = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
        }
        seen[fs::relative(entry.path(), root).string()] = s;
    }
    return seen;
}

class StagedInstallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = dir / "Kelvaro";
        fs::create_directories(folder / "Data");
        fs::create_directories(folder / "SC");
        WriteBytes(folder / "kelvaro.exe", "old program");
        WriteBytes(folder / "Data" / "voornamen.txt", "old names");
        WriteBytes(folder / "SC" / "Slavenreg.sc", "kept as it is");
        WriteBytes(folder / "readonly.dat", "old read-only");
        fs::permissions(folder / "readonly.dat", fs::perms::owner_write, fs::perm_options::remove);
    }

    // A package: an executable stub with a payload that replaces three files and adds a file
    // in a new folder (and an empty folder).
    fs::path Package(bool damaged = false, const std::string& extraName = {}) {
        test::Archive w;
        w.prefix = test::FakeExecutable(4096);
        w.add("kelvaro.exe", std::string(20000, 'P'));
        w.add("Data/voornamen.txt", "new names");
        w.add("readonly.dat", "new read-only");
        const std::string report(5000, 'r');
        w.add("Genealogie/Overzichten/rapport.txt", report).store = damaged;
        w.addDir("Leeg/");
        w.add("Ook leeg/"); // a folder marked only by its trailing '/'
        w.add("Genealogie/laatste.txt", "last");
        if (!extraName.empty()) w.add(extraName, "x");
        std::string bytes = w.build();
        // Damaged as by a bad download: one byte in the middle of the report's data.
        if (damaged) bytes[bytes.find(report) + report.size() / 2] ^= 0x55;
        const fs::path path = dir / "package.exe";
        WriteBytes(path, bytes);
        return path;
    }

    InstallOutcome Install(const fs::path& package, std::u16string program = u"kelvaro.exe") {
        zip::TZipArchive archive;
        return InstallPayload(archive, package.u16string(), folder.u16string() + u"/", program);
    }

    ScratchDir dir;
    fs::path folder;
};

TEST_F(StagedInstallTest, SuccessReplacesAddsAndLeavesNothingOfItsOwn) {
    const auto before = Snapshot(folder);
    const InstallOutcome outcome = Install(Package());
    ASSERT_EQ(outcome.kind, InstallOutcome::Installed) << outcome.message;
    const auto after = Snapshot(folder);
    EXPECT_EQ(ReadBytes(folder / "kelvaro.exe"), std::string(20000, 'P'));
    EXPECT_EQ(ReadBytes(folder / "Data" / "voornamen.txt"), "new names");
    EXPECT_EQ(ReadBytes(folder / "readonly.dat"), "new read-only");
    EXPECT_EQ(ReadBytes(folder / "Genealogie" / "laatste.txt"), "last");
    EXPECT_TRUE(fs::is_directory(folder / "Leeg"));
    EXPECT_TRUE(fs::is_directory(folder / "Ook leeg"));
    EXPECT_EQ(after.at("SC/Slavenreg.sc"), before.at("SC/Slavenreg.sc"));
    for (const auto& [name, seen] : after)
        EXPECT_EQ(name.find("~klvupgrade"), std::string::npos) << name;
}

TEST_F(StagedInstallTest, FailuresBeforeTheSwitchChangeNothing) {
    const auto before = Snapshot(folder);
    // A damaged item in the middle of the payload.
    EXPECT_EQ(Install(Package(true)).kind, InstallOutcome::Damaged);
    EXPECT_EQ(Snapshot(folder), before);
    // A payload item that would collide with the run's own names.
    EXPECT_EQ(Install(Package(false, "~KLVUPGRADE.journal")).kind, InstallOutcome::Damaged);
    EXPECT_EQ(Snapshot(folder), before);
    // A truncated download: the directory can only be rebuilt from local headers.
    const fs::path package = Package();
    fs::resize_file(package, fs::file_size(package) - 100);
    EXPECT_EQ(Install(package).kind, InstallOutcome::Damaged);
    EXPECT_EQ(Snapshot(folder), before);
}

// The checks before staging take the disk's word: a program file the disk reports in use,
// or less room than the payload needs, ends the run with nothing written.
TEST_F(StagedInstallTest, InUseAndNoRoomAsTheDiskReportsThemChangeNothing) {
    struct ReportingDisk final : platform::Disk {
        std::u16string busy;
        std::optional<std::uint64_t> room;
        platform::FileUse Use(const std::u16string& path) override {
            return !busy.empty() && path.ends_with(busy) ? platform::FileUse::InUse
                                                         : Disk::Use(path);
        }
        std::optional<std::uint64_t> FreeBytes(const std::u16string& folder) override {
            return room ? room : Disk::FreeBytes(folder);
        }
        std::unique_ptr<platform::DiskFile> Create(const std::u16string& path,
                                                   platform::DiskStatus& status) override {
            ++changes;
            return platform::SystemDisk().Create(path, status);
        }
        std::unique_ptr<platform::DiskFile> Extend(const std::u16string& path,
                                                   platform::DiskStatus& status) override {
            ++changes;
            return platform::SystemDisk().Extend(path, status);
        }
        platform::DiskStatus Move(const std::u16string& from, const std::u16string& to) override {
            ++changes;
            return platform::SystemDisk().Move(from, to);
        }
        platform::DiskStatus RemoveFile(const std::u16string& path) override {
            ++changes;
            return platform::SystemDisk().RemoveFile(path);
        }
        platform::DiskStatus MakeFolder(const std::u16string& path) override {
            ++changes;
            return platform::SystemDisk().MakeFolder(path);
        }
        platform::DiskStatus RemoveFolder(const std::u16string& path) override {
            ++changes;
            return platform::SystemDisk().RemoveFolder(path);
        }
        platform::DiskStatus SetAttributes(const std::u16string& path,
                                           std::uint32_t attributes) override {
            ++changes;
            return platform::SystemDisk().SetAttributes(path, attributes);
        }
        int changes = 0;
    };
    const auto before = Snapshot(folder);
    const fs::path package = Package();
    auto run = [&](ReportingDisk& disk) {
        zip::TZipArchive archive;
        return InstallPayload(archive, package.u16string(), folder.u16string() + u"/",
                              u"kelvaro.exe", disk);
    };

    ReportingDisk inUse;
    inUse.busy = u"kelvaro.exe";
    const InstallOutcome busy = run(inUse);
    EXPECT_EQ(busy.kind, InstallOutcome::ProgramInUse);
    EXPECT_EQ(busy.file, u"kelvaro.exe");

    ReportingDisk full;
    full.room = 0;
    const InstallOutcome noRoom = run(full);
    EXPECT_EQ(noRoom.kind, InstallOutcome::NoRoom);
    EXPECT_EQ(noRoom.availableMB, 0u);
    EXPECT_GE(noRoom.neededMB, 1u);

    EXPECT_EQ(inUse.changes + full.changes, 0);
    EXPECT_EQ(Snapshot(folder), before);
}

// Whatever the installer's name rules refuse, and an item that cannot go into this
// installation (its path runs through a file there, or it is a file where a folder is), makes
// the payload damaged before anything is written, naming the item; one file never arrives
// under two names, and an encrypted item is refused too. A name with letters beyond ASCII
// (flagged UTF-8) installs.
TEST_F(StagedInstallTest, RefusedNamesAndPathsThroughFilesChangeNothing) {
    const auto before = Snapshot(folder);
    const std::string refused[] = {"Data/./voornamen.txt",
                                   "data/VOORNAMEN.TXT",
                                   "Data/voornamen.txt.",
                                   "Data/voornamen.txt ",
                                   "Data/nul.txt",
                                   "Genealogie/Con.tar.gz",
                                   "Data/sub/~klvupgrade.journal",
                                   "./~klvupgrade.journal",
                                   "Data/a\x01b.txt",
                                   "Data/*.txt",
                                   "..\\buiten.txt",
                                   "Genealogie/laatste.txt/x.txt",
                                   "Data/voornamen.txt/x.txt",
                                   "kelvaro.exe/readme.txt",
                                   "SC",
                                   "SC/Slavenreg.sc/"};
    for (const std::string& name : refused) {
        const InstallOutcome outcome = Install(Package(false, name));
        EXPECT_EQ(outcome.kind, InstallOutcome::Damaged) << name;
        std::string file = name;
        std::replace(file.begin(), file.end(), '/', '\\');
        if (file.ends_with('\\')) file.pop_back();
        EXPECT_EQ(outcome.file, std::u16string(file.begin(), file.end())) << name;
        EXPECT_EQ(Snapshot(folder), before) << name;
    }
    test::Archive utf8;
    utf8.prefix = test::FakeExecutable(4096);
    utf8.add("Data/Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt", "utf-8"); // flagged UTF-8
    WriteBytes(dir / "package.exe", utf8.build());
    ASSERT_EQ(Install(dir / "package.exe").kind, InstallOutcome::Installed);
    // An encrypted item: the installer has no password to give.
    test::RawRecords w;
    w.prefix = test::FakeExecutable(4096);
    w.add("Data/Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt", "utf-8").flags = 0x0800;
    w.add("Data/geheim.txt", "x").flags = 0x0001;
    WriteBytes(dir / "package.exe", w.build());
    const InstallOutcome encrypted = Install(dir / "package.exe");
    EXPECT_EQ(encrypted.kind, InstallOutcome::Damaged);
    EXPECT_EQ(encrypted.file, u"Data\\geheim.txt");
    EXPECT_EQ(ReadBytes(folder / "Data" / "Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt"), "utf-8");
}

TEST_F(StagedInstallTest, AFileWhereThePayloadHasAFolderChangesNothing) {
    const auto before = Snapshot(folder);
    // A file of the installation stands where the payload has a folder: the plan refuses the
    // payload before anything is written (a move failing part-way is the fault-injection
    // test's).
    WriteBytes(folder / "Genealogie", "a file, not a folder");
    const auto blocked = Snapshot(folder);
    const InstallOutcome outcome = Install(Package());
    EXPECT_NE(outcome.kind, InstallOutcome::Installed);
    EXPECT_EQ(Snapshot(folder), blocked);
    fs::remove(folder / "Genealogie");
    EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(StagedInstallTest, RunCutOffAtAnyStepIsRestoredByTheNextRun) {
    const fs::path package = Package();
    const auto before = Snapshot(folder);
    for (int step = 0; step <= 8; ++step) {
        SCOPED_TRACE("cut off after step " + std::to_string(step));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            static int stopAfter;
            stopAfter = step;
            SwitchStepHook = [](int at) {
                if (at >= stopAfter) std::_Exit(99);
            };
            Install(package);
            std::_Exit(0); // the run went through: the step lies beyond the last move
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 0) {
            EXPECT_GT(step, 5);
            break;
        }
        EXPECT_EQ(WEXITSTATUS(status), 99);
        EXPECT_TRUE(fs::exists(folder / "~klvupgrade.journal"));
        EXPECT_EQ(RecoverInterruptedRun(folder.u16string() + u"/"), RecoveryResult::Restored);
        EXPECT_EQ(Snapshot(folder), before);
        EXPECT_EQ(RecoverInterruptedRun(folder.u16string() + u"/"), RecoveryResult::Nothing);
    }
    // And the next package installs as if nothing had happened.
    EXPECT_EQ(Install(package).kind, InstallOutcome::Installed);
}

// Recovery trusts nothing it reads: a journal that is not exactly of this format, or that names
// anything outside the folder, changes nothing and keeps installations out; staging left without
// a journal goes, but never through a link; a backup without a journal stays.
TEST(RecoveryTest, TrustsNothingItReads) {
    ScratchDir dir;
    const fs::path folder = dir / "K";
    const fs::path outside = dir / "Buiten";
    fs::create_directories(folder / "Data");
    fs::create_directories(outside / "Foto's");
    WriteBytes(folder / "keep.txt", "keep");
    WriteBytes(outside / "victim.txt", "not the installation's");
    WriteBytes(outside / "Foto's" / "oma.jpg", "a picture");
    const std::u16string f = folder.u16string() + u"/";
    const fs::path journal = folder / "~klvupgrade.journal";
    const fs::path backup = folder / "~klvupgrade.backup";
    const auto whole = [&] { return std::make_pair(Snapshot(folder), Snapshot(outside)); };

    // A run cut off while staging left its staged files, with a link to a folder elsewhere
    // among them: the staging goes, the link's target stays.
    fs::create_directories(folder / "~klvupgrade.staging" / "sub");
    WriteBytes(folder / "~klvupgrade.staging" / "sub" / "a", "staged");
    fs::create_directory_symlink(outside, folder / "~klvupgrade.staging" / "sub" / "link");
    const auto outsideBefore = Snapshot(outside);
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Restored);
    EXPECT_FALSE(fs::exists(folder / "~klvupgrade.staging"));
    EXPECT_EQ(Snapshot(outside), outsideBefore);

    // Forged journals: names outside the folder, devices, drives, and journals of another
    // format. Each is left as it is, with everything else, and blocks the folder.
    const std::string head = "KLVUPGRADE-JOURNAL 2\n";
    const std::string tail = "PLAN\nSWITCH\n";
    for (const std::string& text :
         {head + "F 0 ..\\Buiten\\victim.txt\n" + tail, head + "F 0 Data\\..\\..\\x\n" + tail,
          head + "D ..\\Buiten\\Foto's\n" + tail, head + "F 0 \\etc\\passwd\n" + tail,
          head + "F 0 C:\\Buiten\\victim.txt\n" + tail, head + "F 0 Data\\NUL.txt\n" + tail,
          head + "F 0 keep.txt:stream\n" + tail, head + "F 0 ~klvupgrade.backup\\x\n" + tail,
          std::string("KLVUPGRADE-JOURNAL 3\nF 0 keep.txt\n") + tail,
          std::string("KLVUPGRADE-JOURNAL 2\r\nF 0 keep.txt\r\nPLAN\r\nSWITCH\r\n"),
          head + "F 0 keep.txt\nPLAN\nSWITCH\nCOMM", head + "F 0 keep.txt\nPLAN\nSWITCH\nJUNK\n"}) {
        SCOPED_TRACE(text);
        WriteBytes(journal, text);
        fs::create_directories(backup);
        WriteBytes(backup / "keep.txt", "the user's only copy");
        const auto seen = whole();
        EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Unreadable);
        EXPECT_EQ(RecoverInterruptedRun(f, false), RecoveryResult::Unreadable);
        EXPECT_EQ(whole(), seen);
        fs::remove_all(backup);
    }
    // An empty journal in a folder only the note names: not shown to be of this format.
    WriteBytes(journal, "");
    EXPECT_EQ(RecoverInterruptedRun(f, false), RecoveryResult::Nothing);
    EXPECT_TRUE(fs::exists(journal));
    // Torn while the plan was written, with no backup: nothing was moved, the journal goes.
    WriteBytes(journal, head + "F 1 keep.txt\nF 0 ne");
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Restored);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(ReadBytes(folder / "keep.txt"), "keep");
    // The same with a backup: kept.
    WriteBytes(journal, "");
    fs::create_directories(backup);
    WriteBytes(backup / "keep.txt", "old");
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Unreadable);
    EXPECT_TRUE(fs::exists(journal));
    fs::remove(journal);
    // A backup without a journal: kept, and it keeps installations out.
    const auto seen = whole();
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::OrphanBackup);
    EXPECT_EQ(whole(), seen);
    EXPECT_TRUE(BlocksInstallation(RecoveryResult::OrphanBackup));
    fs::remove_all(backup);
    // A folder that is a link, as a forged pointer might name: not entered.
    fs::create_directory_symlink(folder, dir / "K-link");
    WriteBytes(journal, head + "F 0 keep.txt\n" + tail);
    EXPECT_EQ(RecoverInterruptedRun((dir / "K-link").u16string() + u"/", false),
              RecoveryResult::Nothing);
    EXPECT_EQ(ReadBytes(folder / "keep.txt"), "keep");
    fs::remove(journal);
}

// A run cut off after its commit is finished, not undone; an undo that cannot complete keeps
// journal and backup (the only copy) and is completed by a later start.
TEST(RecoveryTest, CommittedRunsFinishAndIncompleteUndosWait) {
    ScratchDir dir;
    const fs::path folder = dir / "K";
    const fs::path journal = folder / "~klvupgrade.journal";
    const fs::path backup = folder / "~klvupgrade.backup";
    const std::u16string f = folder.u16string() + u"/";
    fs::create_directories(backup);
    WriteBytes(folder / "a.txt", "new");
    WriteBytes(backup / "a.txt", "old");
    WriteBytes(journal, "KLVUPGRADE-JOURNAL 2\nF 1 a.txt\nPLAN\nSWITCH\nCOMMITTED\n");
    EXPECT_EQ(RecoverInterruptedRun(f, false), RecoveryResult::Completed);
    EXPECT_EQ(ReadBytes(folder / "a.txt"), "new");
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(journal));

    // Not committed, and the old file cannot go back: a folder stands where it belongs.
    fs::remove(folder / "a.txt");
    fs::create_directories(folder / "a.txt" / "inside");
    fs::create_directories(backup);
    WriteBytes(backup / "a.txt", "old");
    WriteBytes(journal, "KLVUPGRADE-JOURNAL 2\nF 1 a.txt\nPLAN\nSWITCH\n");
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Incomplete);
    EXPECT_EQ(ReadBytes(backup / "a.txt"), "old");
    EXPECT_TRUE(fs::exists(journal));
    // An installation into the folder is refused meanwhile, and changes nothing.
    const auto seen = Snapshot(folder);
    test::Archive package;
    package.prefix = test::FakeExecutable(4096);
    package.add("a.txt", "newer");
    package.write(dir / "package.exe");
    zip::TZipArchive archive;
    const InstallOutcome refused =
        InstallPayload(archive, (dir / "package.exe").u16string(), f, u"");
    EXPECT_EQ(refused.kind, InstallOutcome::Blocked);
    EXPECT_EQ(refused.recovery, RecoveryResult::Incomplete);
    EXPECT_EQ(Snapshot(folder), seen);
    // Once the obstacle is gone the next start completes the undo.
    fs::remove_all(folder / "a.txt");
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Restored);
    EXPECT_EQ(ReadBytes(folder / "a.txt"), "old");
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(journal));
}

// The one entry point of recovery at start: every folder the note of pending runs names, then
// the run's own folder; each finding logged. A resolved folder leaves the note, one that still
// blocks stays for the next start; the run's own call (without the note) touches no other folder.
TEST(RecoveryTest, EarlierRunsFromTheNoteAndTheOwnFolderAreRecoveredAndLogged) {
    ScratchDir dir;
    fs::create_directories(dir / "temp");
    const std::string oldTemp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", (dir / "temp").c_str(), 1);
    const auto folderOf = [&](const char* name) {
        fs::create_directories(dir / name);
        return (dir / name).u16string() + u"/";
    };
    // Finished after its commit; a backup without a journal; torn while planning (own folder).
    const std::u16string committed = folderOf("Voltooid"), orphan = folderOf("Wees"),
                         own = folderOf("Eigen");
    WriteBytes(dir / "Voltooid" / "a.txt", "new");
    fs::create_directories(dir / "Voltooid" / "~klvupgrade.backup");
    WriteBytes(dir / "Voltooid" / "~klvupgrade.backup" / "a.txt", "old");
    WriteBytes(dir / "Voltooid" / "~klvupgrade.journal",
               "KLVUPGRADE-JOURNAL 2\nF 1 a.txt\nPLAN\nSWITCH\nCOMMITTED\n");
    fs::create_directories(dir / "Wees" / "~klvupgrade.backup");
    WriteBytes(dir / "Eigen" / "~klvupgrade.journal", "KLVUPGRADE-JOURNAL 2\nF 0 ne");
    // A list half written by a run that stopped there is replaced, never read.
    WriteBytes(dir / "temp" / "klvupgrade.pending.new", "/elders/\n");
    RecordPendingRun(committed);
    RecordPendingRun(orphan);

    // The own folder alone: the noted ones are not visited.
    EXPECT_TRUE(RecoverEarlierRuns(u"", false).empty());
    EXPECT_TRUE(fs::exists(dir / "Voltooid" / "~klvupgrade.journal"));

    RunLog log((dir / "klvupgrade.log").u16string());
    SetRunLog(&log);
    const std::vector<RecoveredFolder> found = RecoverEarlierRuns(own, true);
    SetRunLog(nullptr);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].folder, committed);
    EXPECT_EQ(found[0].result, RecoveryResult::Completed);
    EXPECT_EQ(found[1].folder, orphan);
    EXPECT_EQ(found[1].result, RecoveryResult::OrphanBackup);
    EXPECT_EQ(found[2].folder, own);
    EXPECT_EQ(found[2].result, RecoveryResult::Restored);
    EXPECT_EQ(ReadBytes(dir / "Voltooid" / "a.txt"), "new");
    EXPECT_FALSE(fs::exists(dir / "Eigen" / "~klvupgrade.journal"));
    const std::string logged = ReadBytes(dir / "klvupgrade.log");
    for (const char* seen : {"recovery an interrupted earlier update was finished",
                             "recovery an earlier update's backup folder without a journal",
                             "recovery an interrupted earlier update was undone"})
        EXPECT_NE(logged.find(seen), std::string::npos) << seen << "\n" << logged;
    EXPECT_NE(logged.find((dir / "Voltooid").string()), std::string::npos) << logged;

    // The next start finds only what still blocks; once resolved, nothing and no note.
    const std::vector<RecoveredFolder> again = RecoverEarlierRuns(own, true);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].folder, orphan);
    fs::remove_all(dir / "Wees" / "~klvupgrade.backup");
    EXPECT_TRUE(RecoverEarlierRuns(own, true).empty());
    EXPECT_FALSE(fs::exists(dir / "temp" / "klvupgrade.pending"));
    EXPECT_FALSE(fs::exists(dir / "temp" / "klvupgrade.pending.new"));
    if (oldTemp.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", oldTemp.c_str(), 1);
}

} // namespace
} // namespace klv::app
