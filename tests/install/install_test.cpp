// The all-or-nothing installation run on real files: a run that fails, or is cut off at any
// step of its switch-over and recovered afterwards, leaves the installation folder exactly as
// it was (bytes, time stamps, permissions, no entry added); one that succeeds leaves the
// payload in place and nothing of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <zlib.h>

#include "app/install_journal.h"
#include "app/run_failures.h"
#include "app/run_log.h"
#include "app/staged_install.h"
#include "fixtures/archive.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "zip/test_util.h"

namespace klv::app {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

// A run that may act in every folder the note names.
RecoveryTrust AnyNoted() {
    return {false, [](const std::u16string&) { return true; }};
}

// A journal as a run writes it: its header, then each record with its CRC-32 in front; `torn`
// follows the last one as it stands (a write cut off).
std::string Journal(std::initializer_list<std::string_view> records, std::string_view torn = "",
                    std::string_view header = "KLVUPGRADE-JOURNAL 3") {
    std::string text = std::string(header) + "\n";
    for (const std::string_view record : records) {
        char crc[10];
        std::snprintf(crc, sizeof crc, "%08lx ",
                      crc32(0, reinterpret_cast<const Bytef*>(record.data()),
                            static_cast<uInt>(record.size())));
        text += crc + std::string(record) + "\n";
    }
    return text + std::string(torn);
}

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
        return OpenedPayload(archive, package.u16string())
            .Install(folder.u16string() + u"/", program);
    }

    ScratchDir dir;
    fs::path folder;
};

TEST_F(StagedInstallTest, SuccessReplacesAddsAndLeavesNothingOfItsOwn) {
    const auto before = Snapshot(folder);
    const InstallOutcome outcome = Install(Package());
    ASSERT_EQ(outcome.kind, InstallOutcome::Ok) << outcome.message;
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
        // What the system's Restart Manager would tell (Wine's lists nobody).
        std::vector<std::string> Holders(const std::u16string& path) override {
            return !busy.empty() && path.ends_with(busy)
                       ? std::vector<std::string>{"Kelvaro (process 4242)",
                                                  "Verkenner (process 17)"}
                       : std::vector<std::string>{};
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
        return OpenedPayload(archive, package.u16string())
            .Install(folder.u16string() + u"/", u"kelvaro.exe", disk);
    };

    ReportingDisk inUse;
    inUse.busy = u"kelvaro.exe";
    const InstallOutcome busy = run(inUse);
    EXPECT_EQ(busy.kind, InstallOutcome::ProgramInUse);
    EXPECT_EQ(busy.file, u"kelvaro.exe");
    // The log names who holds it.
    const std::string line = ReportFailure(busy, folder.string()).logLine;
    EXPECT_NE(
        line.find("item: kelvaro.exe, held by Kelvaro (process 4242), Verkenner (process 17)"),
        std::string::npos)
        << line;

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
    ASSERT_EQ(Install(dir / "package.exe").kind, InstallOutcome::Ok);
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
    EXPECT_NE(outcome.kind, InstallOutcome::Ok);
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
    EXPECT_EQ(Install(package).kind, InstallOutcome::Ok);
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
    auto forged = [](std::string_view plan) { return Journal({plan, "PLAN", "SWITCH"}); };
    std::string flipped = Journal({"F 0 keep.txt", "PLAN", "SWITCH"});
    flipped[flipped.find("F 0")] ^= 0x20; // a record changed after it was written
    for (const std::string& text :
         {forged("F 0 ..\\Buiten\\victim.txt"), forged("F 0 Data\\..\\..\\x"),
          forged("D ..\\Buiten\\Foto's"), forged("F 0 \\etc\\passwd"),
          forged("F 0 C:\\Buiten\\victim.txt"), forged("F 0 Data\\NUL.txt"),
          forged("F 0 keep.txt:stream"), forged("F 0 ~klvupgrade.backup\\x"),
          Journal({"F 0 keep.txt", "PLAN", "SWITCH"}, "", "KLVUPGRADE-JOURNAL 4"),
          std::string("KLVUPGRADE-JOURNAL 2\nF 0 keep.txt\nPLAN\nSWITCH\n"),
          std::string("KLVUPGRADE-JOURNAL 3\r\nF 0 keep.txt\r\nPLAN\r\nSWITCH\r\n"), flipped,
          Journal({"F 0 keep.txt", "PLAN", "SWITCH", "JUNK"}),
          Journal({"F 0 keep.txt", "PLAN", "SWITCH", "W Nieuw"})}) {
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
    WriteBytes(journal, Journal({"F 1 keep.txt"}, "12345678 F 0 ne"));
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
    // A folder that is itself a link (a junction left by a move): followed once, as naming its
    // target would be, and nothing beyond the target is touched. (Links inside are never
    // entered: the staging's link above.)
    fs::create_directory_symlink(folder, dir / "K-link");
    WriteBytes(journal, Journal({"F 0 keep.txt", "PLAN", "SWITCH"}));
    const auto outsideNow = Snapshot(outside);
    EXPECT_EQ(RecoverInterruptedRun((dir / "K-link").u16string() + u"/", false),
              RecoveryResult::Restored);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_FALSE(fs::exists(folder / "keep.txt")); // the run's new file, undone
    EXPECT_TRUE(fs::is_symlink(dir / "K-link"));
    EXPECT_EQ(Snapshot(outside), outsideNow);
}

// Each record of the journal, cut off as a crash or a power cut leaves it (short, or zeros
// where its bytes were) counts as not written; changed after it was written (its checksum
// fails) it makes the journal untrusted, acted on nowhere. A folder that moved into place
// whole was recorded first and goes back whole.
TEST(RecoveryTest, TornRecordsAreNotWrittenChangedOnesUntrusted) {
    ScratchDir dir;
    const fs::path folder = dir / "K";
    const fs::path journal = folder / "~klvupgrade.journal";
    const fs::path backup = folder / "~klvupgrade.backup";
    const fs::path staging = folder / "~klvupgrade.staging";
    const std::u16string f = folder.u16string() + u"/";
    // The run cut off during its switch: a.txt moved aside and the new one in its place, the
    // new folder moved in whole.
    auto switched = [&] {
        fs::remove_all(folder);
        fs::create_directories(backup);
        fs::create_directories(staging);
        fs::create_directories(folder / "Nieuw");
        WriteBytes(folder / "Nieuw" / "b.txt", "new b");
        WriteBytes(backup / "a.txt", "old");
        WriteBytes(folder / "a.txt", "new");
    };
    const std::string committed = Journal(
        {"D Nieuw", "F 0 Nieuw\\b.txt", "F 1 a.txt", "PLAN", "SWITCH", "W Nieuw", "COMMITTED"});
    const std::size_t commitAt = committed.rfind("COMMITTED") - 9;
    struct Case {
        std::string text;
        RecoveryResult result;
    };
    for (const Case& c : std::vector<Case>{
             // COMMITTED short, or zeroed: undone.
             {committed.substr(0, commitAt + 12), RecoveryResult::Restored},
             {committed.substr(0, commitAt) + std::string(19, '\0'), RecoveryResult::Restored},
             // Whole but for its line end: finished.
             {committed.substr(0, committed.size() - 1), RecoveryResult::Completed},
             {committed, RecoveryResult::Completed}}) {
        SCOPED_TRACE(c.text);
        switched();
        WriteBytes(journal, c.text);
        EXPECT_EQ(RecoverInterruptedRun(f), c.result);
        // The folder moved whole went back with what it held; or the update stays.
        const bool done = c.result == RecoveryResult::Completed;
        EXPECT_EQ(ReadBytes(folder / "a.txt"), done ? "new" : "old");
        EXPECT_EQ(fs::exists(folder / "Nieuw"), done);
        EXPECT_FALSE(fs::exists(journal) || fs::exists(backup) || fs::exists(staging));
    }
    // One bit changed in a plan line, SWITCH, W or COMMITTED: untrusted, nothing touched.
    for (const std::size_t record : {0, 2, 4, 5, 6}) {
        std::string flipped = committed;
        std::size_t at = flipped.find('\n');
        for (std::size_t i = 0; i <= record; ++i)
            at = flipped.find('\n', at + 1);
        flipped[at - 1] ^= 0x01; // the last character of that record
        SCOPED_TRACE(flipped);
        switched();
        WriteBytes(journal, flipped);
        const auto seen = Snapshot(folder);
        EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Unreadable);
        EXPECT_EQ(Snapshot(folder), seen);
    }
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
    WriteBytes(journal, Journal({"F 1 a.txt", "PLAN", "SWITCH", "COMMITTED"}));
    // An old copy another program still holds (every sharing allowed) cannot go yet: the update
    // is in place and is told so, never as one that was interrupted; the folder waits.
    struct HeldBackup final : platform::Disk {
        platform::DiskStatus RemoveFile(const std::u16string& p) override {
            return p.find(u"backup") != std::u16string::npos ? platform::DiskStatus::Failed(32)
                                                             : platform::SystemDisk().RemoveFile(p);
        }
    } held;
    EXPECT_EQ(RecoverInterruptedRun(f, false, held), RecoveryResult::Unfinished);
    EXPECT_TRUE(BlocksInstallation(RecoveryResult::Unfinished));
    EXPECT_EQ(ReadBytes(folder / "a.txt"), "new");
    EXPECT_TRUE(fs::exists(journal));
    EXPECT_EQ(RecoverInterruptedRun(f, false), RecoveryResult::Completed);
    EXPECT_EQ(ReadBytes(folder / "a.txt"), "new");
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(journal));

    // Not committed, and the old file cannot go back: a folder stands where it belongs.
    fs::remove(folder / "a.txt");
    fs::create_directories(folder / "a.txt" / "inside");
    fs::create_directories(backup);
    WriteBytes(backup / "a.txt", "old");
    WriteBytes(journal, Journal({"F 1 a.txt", "PLAN", "SWITCH"}));
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
        OpenedPayload(archive, (dir / "package.exe").u16string()).Install(f, u"");
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
               Journal({"F 1 a.txt", "PLAN", "SWITCH", "COMMITTED"}));
    fs::create_directories(dir / "Wees" / "~klvupgrade.backup");
    WriteBytes(dir / "Eigen" / "~klvupgrade.journal", Journal({}, "12345678 F 0 ne"));
    // A list half written by a run that stopped there is replaced, never read.
    WriteBytes(dir / "temp" / "klvupgrade.pending.new", "/elders/\n");
    RecordPendingRun(committed);
    RecordPendingRun(orphan);

    // The own folder alone: the noted ones are not visited.
    EXPECT_TRUE(RecoverEarlierRuns(u"", false, AnyNoted()).empty());
    EXPECT_TRUE(fs::exists(dir / "Voltooid" / "~klvupgrade.journal"));

    RunLog log((dir / "klvupgrade.log").u16string());
    SetRunLog(&log);
    const std::vector<RecoveredFolder> found = RecoverEarlierRuns(own, true, AnyNoted());
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
    const std::vector<RecoveredFolder> again = RecoverEarlierRuns(own, true, AnyNoted());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].folder, orphan);
    fs::remove_all(dir / "Wees" / "~klvupgrade.backup");
    EXPECT_TRUE(RecoverEarlierRuns(own, true, AnyNoted()).empty());
    EXPECT_FALSE(fs::exists(dir / "temp" / "klvupgrade.pending"));
    EXPECT_FALSE(fs::exists(dir / "temp" / "klvupgrade.pending.new"));
    if (oldTemp.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", oldTemp.c_str(), 1);
}

// The installation folder may itself be a link (a junction left by a move to another drive):
// recovery follows it once, as the run did. The note of pending runs is read once, settled in
// memory and written once, however long it is and whatever lines it holds.
TEST(RecoveryTest, ALinkedFolderIsRecoveredAndTheNoteIsSettledInOnePass) {
    ScratchDir dir;
    fs::create_directories(dir / "temp");
    const std::string oldTemp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", (dir / "temp").c_str(), 1);
    // Cut off mid-switch in D:\Kelvaro, reached through C:\Kelvaro: a.txt is in the backup,
    // its new copy in place.
    fs::create_directories(dir / "Elders" / "~klvupgrade.backup");
    fs::create_directories(dir / "Elders" / "~klvupgrade.staging");
    WriteBytes(dir / "Elders" / "~klvupgrade.backup" / "a.txt", "old");
    WriteBytes(dir / "Elders" / "a.txt", "new");
    WriteBytes(dir / "Elders" / "~klvupgrade.journal", Journal({"F 1 a.txt", "PLAN", "SWITCH"}));
    fs::create_directory_symlink(dir / "Elders", dir / "Kelvaro");
    const std::u16string linked = (dir / "Kelvaro").u16string() + u"/";
    // A backup without a journal: stays noted.
    fs::create_directories(dir / "Wees" / "~klvupgrade.backup");
    const std::u16string orphan = (dir / "Wees").u16string() + u"/";
    std::string note;
    for (int i = 0; i < 3000; ++i)
        note += (dir / ("weg" + std::to_string(i))).string() + "/\n";
    note += "relatief\\map\\\n\n" + (dir / "WEG7").string() + "/\n";
    note += platform::Utf16ToUtf8(orphan) + "\n" + platform::Utf16ToUtf8(linked) + "\n";
    WriteBytes(dir / "temp" / "klvupgrade.pending", note);

    struct CountingDisk final : platform::Disk {
        int reads = 0, writes = 0;
        static bool Note(const std::u16string& path) {
            return path.find(u"klvupgrade.pending") != std::u16string::npos;
        }
        platform::DiskStatus Read(const std::u16string& path, std::string& data) override {
            reads += Note(path);
            return Disk::Read(path, data);
        }
        std::unique_ptr<platform::DiskFile> Create(const std::u16string& path,
                                                   platform::DiskStatus& status) override {
            writes += Note(path);
            return platform::SystemDisk().Create(path, status);
        }
        platform::DiskStatus RemoveFile(const std::u16string& path) override {
            writes += Note(path);
            return platform::SystemDisk().RemoveFile(path);
        }
    } disk;
    const std::vector<RecoveredFolder> found = RecoverEarlierRuns(u"", true, AnyNoted(), disk);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].folder, orphan);
    EXPECT_EQ(found[0].result, RecoveryResult::OrphanBackup);
    EXPECT_EQ(found[1].folder, linked);
    EXPECT_EQ(found[1].result, RecoveryResult::Restored);
    EXPECT_EQ(ReadBytes(dir / "Elders" / "a.txt"), "old");
    EXPECT_TRUE(fs::is_symlink(dir / "Kelvaro"));
    EXPECT_FALSE(fs::exists(dir / "Elders" / "~klvupgrade.journal"));
    EXPECT_FALSE(fs::exists(dir / "Elders" / "~klvupgrade.backup"));
    EXPECT_EQ(disk.reads, 1);
    EXPECT_EQ(disk.writes, 1);
    EXPECT_EQ(ReadBytes(dir / "temp" / "klvupgrade.pending"), platform::Utf16ToUtf8(orphan) + "\n");

    // Noted and settled again: one line per folder, whatever its case.
    RecordPendingRun(linked);
    RecordPendingRun(linked);
    SettlePendingRun(orphan); // its backup keeps no journal: settled, the note drops it
    EXPECT_EQ(ReadBytes(dir / "temp" / "klvupgrade.pending"), platform::Utf16ToUtf8(linked) + "\n");
    if (oldTemp.empty())
        ::unsetenv("TMPDIR");
    else
        ::setenv("TMPDIR", oldTemp.c_str(), 1);
}

} // namespace
} // namespace klv::app
