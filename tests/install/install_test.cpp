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
#include "app/staged_install.h"
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
        ::unsetenv("KLVUPGRADE_STOP_AFTER_STEP");
    }

    // A package: an executable stub with a payload that replaces three files and adds a file
    // in a new folder (and an empty folder).
    fs::path Package(bool damaged = false, const std::string& extraName = {}) {
        test::ZipWriter w;
        w.prefix = test::FakeExecutable(4096);
        w.add("kelvaro.exe", std::string(20000, 'P'), 8);
        w.add("Data/voornamen.txt", "new names", 8);
        w.add("readonly.dat", "new read-only");
        auto& middle = w.add("Genealogie/Overzichten/rapport.txt", std::string(5000, 'r'), 8);
        if (damaged) middle.central.crc = 0x12345678u, middle.local.crc = 0x12345678u;
        w.addDir("Leeg/");
        w.add("Ook leeg/"); // a folder marked only by its trailing '/'
        w.add("Genealogie/laatste.txt", "last");
        if (!extraName.empty()) w.add(extraName, "x");
        const fs::path path = dir / "package.exe";
        WriteBytes(path, w.build());
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
    test::ZipWriter w;
    w.prefix = test::FakeExecutable(4096);
    w.add("Data/Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt", "utf-8").flags = 0x0800;
    WriteBytes(dir / "package.exe", w.build());
    ASSERT_EQ(Install(dir / "package.exe").kind, InstallOutcome::Installed);
    // An encrypted item: the installer has no password to give.
    w.add("Data/geheim.txt", "x").flags = 0x0001;
    WriteBytes(dir / "package.exe", w.build());
    const InstallOutcome encrypted = Install(dir / "package.exe");
    EXPECT_EQ(encrypted.kind, InstallOutcome::Damaged);
    EXPECT_EQ(encrypted.file, u"Data\\geheim.txt");
    EXPECT_EQ(ReadBytes(folder / "Data" / "Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt"), "utf-8");
}

TEST_F(StagedInstallTest, FailedMoveIsUndone) {
    const auto before = Snapshot(folder);
    // The new folder cannot be made: a file stands where it would go, after two files have
    // already been switched.
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
            ::setenv("KLVUPGRADE_STOP_AFTER_STEP", std::to_string(step).c_str(), 1);
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

TEST(InstallJournalTest, TornJournalAndStagingWithoutJournal) {
    ScratchDir dir;
    const fs::path folder = dir / "K";
    fs::create_directories(folder / "~klvupgrade.staging" / "sub");
    WriteBytes(folder / "~klvupgrade.staging" / "sub" / "a", "staged");
    WriteBytes(folder / "keep.txt", "keep");
    const std::u16string f = folder.u16string() + u"/";
    // Cut off while staging, before the plan was written.
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Restored);
    EXPECT_FALSE(fs::exists(folder / "~klvupgrade.staging"));
    // A journal whose last line was cut off in the middle: nothing had been moved yet.
    WriteBytes(folder / "~klvupgrade.journal", "KLVUPGRADE-JOURNAL 1\nF 1 keep.txt\nSWI");
    EXPECT_EQ(RecoverInterruptedRun(f), RecoveryResult::Restored);
    EXPECT_EQ(ReadBytes(folder / "keep.txt"), "keep");
    EXPECT_FALSE(fs::exists(folder / "~klvupgrade.journal"));
}

} // namespace
} // namespace klv::app
