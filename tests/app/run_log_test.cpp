// The run's log on real files: each run's file moves one place down and the oldest goes, a
// file keeps room for its failures and ends with the result past its bound, and a log that
// cannot be written is no failure and touches nothing.
#include <gtest/gtest.h>

#include <regex>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/run_log.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "platform/tree_files.h"
#include "zip/test_util.h"

using namespace klv;
using app::LogCategory;
using app::RunLog;

namespace {

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string() + (e.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(RunLog, EachRunStartsAFileOlderOnesMoveDownAndAFileKeepsItsEndPastItsBound) {
    test::ScratchDir dir;
    const auto path = test::U16(dir / "klvupgrade.log");
    const app::LogLimits limits{2048, 3};
    for (int run = 1; run <= 5; ++run) {
        RunLog log(path, limits);
        ASSERT_TRUE(log.Writing());
        log.Line(LogCategory::Start, "run " + std::to_string(run));
    }
    // Three files: this run's and the two before it; runs 1 and 2 are gone.
    EXPECT_EQ(NamesIn(dir.Path()),
              (std::vector<std::string>{"klvupgrade.1.log", "klvupgrade.2.log", "klvupgrade.log"}));
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} start    run 5\r\n)");
    EXPECT_TRUE(std::regex_match(test::ReadBytes(dir / "klvupgrade.log"), line))
        << test::ReadBytes(dir / "klvupgrade.log");
    EXPECT_NE(test::ReadBytes(dir / "klvupgrade.1.log").find("run 4"), std::string::npos);
    EXPECT_NE(test::ReadBytes(dir / "klvupgrade.2.log").find("run 3"), std::string::npos);

    {
        // ANSI text becomes UTF-8, a line break inside a text a blank; then the bound: past it
        // less the reserve only failures are written, and the result line always, last.
        RunLog log(path, limits);
        log.Line(LogCategory::Result, "Update [xxxxx] ge\xEFnstalleerd\r\nregel 2");
        log.Line(LogCategory::Failure, u"Caf\u00E9 \u00E9\u00E9n.txt");
        for (int i = 0; i < 100; ++i)
            log.Line(LogCategory::Phase, "staging " + std::string(40, 'x') + std::to_string(i));
        log.Line(LogCategory::Failure, "kelvaro.exe in use");
        log.Line(LogCategory::Phase, "placed kelvaro.exe");
        log.Line(LogCategory::Result, "the result");
        EXPECT_TRUE(log.Writing());
    }
    const std::string full = test::ReadBytes(dir / "klvupgrade.log");
    EXPECT_LE(full.size(), 2048u + 200u);
    EXPECT_NE(full.find("result   Update [xxxxx] ge\xC3\xAFnstalleerd  regel 2\r\n"),
              std::string::npos);
    EXPECT_NE(full.find("failure  Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt\r\n"), std::string::npos);
    const std::size_t full_at = full.find(" log      the log is nearly full (2048 bytes)");
    EXPECT_LT(full_at, full.find("failure  kelvaro.exe in use"));
    EXPECT_EQ(full.find("placed kelvaro.exe"), std::string::npos);
    EXPECT_TRUE(std::regex_search(full, std::regex(R"( log      \d+ lines were left out: the log )"
                                                   R"(reached its bound of 2048 bytes\r\n)"
                                                   R"([^\n]+ result   the result\r\n$)")))
        << full;
    // Every line whole: each ends with CR LF and starts with a time.
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::size_t lines = 0;
    for (std::size_t at = 0; at < full.size(); ++lines) {
        const std::size_t end = full.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(std::regex_match(full.substr(at, 24), stamp));
        at = end + 2;
    }
    EXPECT_GT(lines, 20u);
    // The next run starts small again, and run 3 has gone.
    RunLog(path, limits).Line(LogCategory::Start, "run 7");
    EXPECT_LT(std::filesystem::file_size(dir / "klvupgrade.log"), 100u);
    EXPECT_EQ(test::ReadBytes(dir / "klvupgrade.1.log"), full);
    EXPECT_NE(test::ReadBytes(dir / "klvupgrade.2.log").find("run 5"), std::string::npos);

    // The older names of a /LOG file: before the extension, or appended without one.
    EXPECT_EQ(RunLog::RotatedPath(u"C:\\logs\\update.txt", 2), u"C:\\logs\\update.2.txt");
    EXPECT_EQ(RunLog::RotatedPath(u"C:\\logs.d\\update", 1), u"C:\\logs.d\\update.1");
    EXPECT_EQ(RunLog::RotatedPath(u"C:\\logs\\.log", 1), u"C:\\logs\\.log.1");
    EXPECT_EQ(RunLog::DefaultPath(), platform::TempDirectory() + u"klvupgrade.log");
}

TEST(RunLog, AMissingFolderIsMadeAndALogThatCannotBeWrittenIsNoFailure) {
    test::ScratchDir dir;
    test::WriteBytes(dir / "a file", "not a folder");
    std::filesystem::create_directories(dir / "a folder.log");
    test::WriteBytes(dir / "a folder.log" / "inside", "kept");
    const auto before = NamesIn(dir.Path());
    for (const auto& path : {test::U16(dir / "a file" / "klvupgrade.log"), // below a file
                             test::U16(dir / "a folder.log"),              // a folder
                             std::u16string()}) {
        RunLog log(path);
        EXPECT_FALSE(log.Writing());
        log.Line(LogCategory::Start, "klvupgradeStub /VERYSILENT");
        log.Line(LogCategory::Failure, u"\u00E9\u00E9n");
    }
    EXPECT_EQ(NamesIn(dir.Path()), before);
    EXPECT_EQ(test::ReadBytes(dir / "a file"), "not a folder");
    EXPECT_EQ(NamesIn(dir / "a folder.log"), std::vector<std::string>{"inside"});

    // A log in folders that do not exist yet: they are made, and the log is written.
    {
        RunLog made(test::U16(dir / "logs" / "nieuw" / "update.log"));
        EXPECT_TRUE(made.Writing());
        made.Line(LogCategory::Start, "klvupgradeStub /LOG");
        EXPECT_NE(test::ReadBytes(dir / "logs" / "nieuw" / "update.log").find("/LOG"),
                  std::string::npos);
    }
    std::filesystem::remove_all(dir / "logs");

    // A file that goes away during the run (replaced by a folder): later lines are dropped.
    const auto path = test::U16(dir / "klvupgrade.log");
    RunLog log(path);
    app::SetRunLog(&log);
    app::Log(LogCategory::Start, "first");
    std::filesystem::remove(dir / "klvupgrade.log");
    std::filesystem::create_directories(dir / "klvupgrade.log");
    app::Log(LogCategory::Result, "second");
    app::SetRunLog(nullptr);
    app::Log(LogCategory::Result, "nowhere");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "klvupgrade.log"));
}

// Only this installer's logs are moved down or removed: a report of the user's at the log's
// name, or at one of the older names, stays byte for byte, and a log that cannot be moved
// aside gets no lines of this run.
TEST(RunLog, OnlyOurOwnLogsAreRotatedAndAFileThatIsNotOursIsLeftAlone) {
    test::ScratchDir dir;
    const auto path = test::U16(dir / "rapport.txt");
    test::WriteBytes(dir / "rapport.txt", "Jaarverslag 2026\r\n");
    test::WriteBytes(dir / "rapport.4.txt", "Kwartaal 4\r\n");
    {
        RunLog log(path);
        EXPECT_FALSE(log.Writing());
        EXPECT_TRUE(log.LeftAlone());
        log.Line(LogCategory::Start, "klvupgradeStub /LOG=rapport.txt");
    }
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"rapport.4.txt", "rapport.txt"}));
    EXPECT_EQ(test::ReadBytes(dir / "rapport.txt"), "Jaarverslag 2026\r\n");

    // Our logs, with a file of the user's among the older names: ours move down to it and no
    // further, the oldest of ours before it goes.
    const auto log = test::U16(dir / "klvupgrade.log");
    test::WriteBytes(dir / "klvupgrade.2.log", "notities\r\n");
    for (int run = 1; run <= 3; ++run)
        RunLog(log).Line(LogCategory::Start, "run " + std::to_string(run));
    EXPECT_EQ(test::ReadBytes(dir / "klvupgrade.2.log"), "notities\r\n");
    EXPECT_NE(test::ReadBytes(dir / "klvupgrade.1.log").find("run 2"), std::string::npos);
    EXPECT_NE(test::ReadBytes(dir / "klvupgrade.log").find("run 3"), std::string::npos);
    EXPECT_FALSE(RunLog::IsOwnLog(platform::SystemDisk(), test::U16(dir / "klvupgrade.2.log")));

    // A log of ours that cannot be moved aside: left as it is, no line of this run in it.
    struct NoMoves final : platform::Disk {
        platform::DiskStatus Move(const std::u16string&, const std::u16string&) override {
            return platform::DiskStatus::Failed(5);
        }
    } noMoves;
    const std::string before = test::ReadBytes(dir / "klvupgrade.log");
    RunLog held(log, {}, noMoves);
    EXPECT_FALSE(held.Writing());
    EXPECT_TRUE(held.LeftAlone());
    held.Line(LogCategory::Start, "run 4");
    EXPECT_EQ(test::ReadBytes(dir / "klvupgrade.log"), before);

    // The copy started as administrator goes on in the file of the copy that started it.
    app::LogLimits carryOn;
    carryOn.carryOn = true;
    RunLog(log, carryOn, noMoves).Line(LogCategory::Phase, "run 3, as administrator");
    const std::string carried = test::ReadBytes(dir / "klvupgrade.log");
    EXPECT_TRUE(carried.starts_with(before)) << carried;
    EXPECT_NE(carried.find("phase    run 3, as administrator"), std::string::npos);
}

// A log never blocks the run: a device is refused by its name and never opened, nothing that
// is not a plain file is read, and a log that cannot be had falls back to the default one.
TEST(RunLog, NoDeviceIsOpenedAndTheDefaultLogTakesOverWithTheReason) {
    for (const char16_t* device :
         {u"COM1", u"lpt9.log", u"C:\\Beheer\\nul.txt", u"con .log", u"Aux", u"C:\\x\\PRN.tar.gz",
          u"C:\\x\\COM\u00B9.log", u"CONOUT$", u"\\\\.\\COM1", u"\\\\.\\pipe\\klv",
          u"//?/GLOBALROOT/Device/Serial0", u"\\??\\C:\\x.log", u"C:\\x.log:stroom", u"COM1:"})
        EXPECT_TRUE(app::LogPathProblem(device)) << platform::Utf16ToUtf8(device);
    for (const char16_t* file :
         {u"C:\\Beheer\\upd.log", u"\\\\?\\C:\\Beheer\\upd.log", u"\\\\?\\UNC\\srv\\deel\\upd.log",
          u"\\\\srv\\deel\\upd.log", u"C:\\Beheer\\com10.log", u"C:\\console.log", u"upd.log",
          u"C:\\Beheer\\\u0436\u0443\u0440\u043D\u0430\u043B.log"})
        EXPECT_FALSE(app::LogPathProblem(file)) << platform::Utf16ToUtf8(file);

#ifndef _WIN32 // Windows's devices: e2e_switches.log_device
    // A FIFO blocks whoever reads or writes it until another end opens: refused unopened, and
    // the default log says so.
    test::ScratchDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.log").c_str(), 0600), 0);
    ASSERT_EQ(::setenv("TMPDIR", dir.Path().c_str(), 1), 0);
    std::u16string refusal;
    const auto log = app::OpenRunLog(test::U16(dir / "pipe.log"), false, refusal);
    EXPECT_EQ(log->Path(), test::U16(dir / "klvupgrade.log"));
    log->Line(LogCategory::Start, "klvupgradeStub /LOG=pipe.log");
    EXPECT_EQ(refusal, u"is not a plain file (a folder, a link or a device), and is left as it is");
    EXPECT_TRUE(app::OpenRunLog(u"C:\\x\\COM1.log", false, refusal)->Writing());
    EXPECT_EQ(refusal, u"names the device COM1.log, which is never opened as a log");

    // The copy started as administrator makes nothing, and follows no link to its log.
    std::filesystem::create_directory_symlink(dir.Path(), dir / "link");
    app::LogLimits carryOn;
    carryOn.carryOn = true;
    for (const auto& path : {dir / "link" / "klvupgrade.log", dir / "new.log"})
        EXPECT_FALSE(RunLog(test::U16(path), carryOn).Writing()) << path;
    EXPECT_TRUE(RunLog(test::U16(dir / "klvupgrade.1.log"), carryOn).Writing());
    ::unsetenv("TMPDIR");
#endif
}
