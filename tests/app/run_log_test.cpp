// The run's log on real files: each run's file moves one place down and the oldest goes, a
// file stops at its bound with a line that says so, and a log that cannot be written is no
// failure and touches nothing.
#include <gtest/gtest.h>

#include <regex>

#include "app/run_log.h"
#include "platform/tree_files.h"
#include "zip/system_disk_but.h"
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

TEST(RunLog, EachRunStartsAFileOlderOnesMoveDownAndAFileStopsAtItsBound) {
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
        // ANSI text becomes UTF-8, a line break inside a text a blank; then the bound.
        RunLog log(path, limits);
        log.Line(LogCategory::Result, "Update [xxxxx] ge\xEFnstalleerd\r\nregel 2");
        log.Line(LogCategory::Failure, u"Caf\u00E9 \u00E9\u00E9n.txt");
        for (int i = 0; i < 100 && log.Writing(); ++i)
            log.Line(LogCategory::Phase, "staging " + std::string(40, 'x') + std::to_string(i));
        EXPECT_FALSE(log.Writing());
        log.Line(LogCategory::Result, "after the bound");
    }
    const std::string full = test::ReadBytes(dir / "klvupgrade.log");
    EXPECT_LE(full.size(), 2048u);
    EXPECT_NE(full.find("result   Update [xxxxx] ge\xC3\xAFnstalleerd  regel 2\r\n"),
              std::string::npos);
    EXPECT_NE(full.find("failure  Caf\xC3\xA9 \xC3\xA9\xC3\xA9n.txt\r\n"), std::string::npos);
    EXPECT_TRUE(
        full.ends_with(" log      the log is full (2048 bytes); later lines are left out\r\n"));
    EXPECT_EQ(full.find("after the bound"), std::string::npos);
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
    struct NoMoves final : test::SystemDiskBut {
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
