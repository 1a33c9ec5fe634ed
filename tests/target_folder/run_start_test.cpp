// How the command line starts a run: which switch wins, what ends the run at once and in which
// order, and what a run nobody answers shows (nothing) or logs instead.
#include <gtest/gtest.h>

#include "app/app_fakes.h"
#include "app/run_log.h"
#include "app/unattended.h"
#include "platform/text.h"
#include "zip/test_util.h"

using namespace klv;
using app::CommandLine;
using app::ParseCommandLine;

using app::RunMode;
using app::RunStart;

namespace {

app::Run RunOf(std::string_view arguments) {
    return app::Run::FromCommandLine(
        ParseCommandLine(platform::Utf8ToUtf16(arguments)),
        [](std::u16string_view folder) { return "C:\\Start\\" + platform::Utf16ToAnsi(folder); });
}

} // namespace

TEST(RunStart, TheQuietestModeWinsAndAFolderIsMadeAbsoluteOnce) {
    EXPECT_EQ(RunOf("/SILENT /VERYSILENT").options.mode, RunMode::VerySilent);
    EXPECT_EQ(RunOf("/VERYSILENT /SILENT").options.mode, RunMode::VerySilent);
    EXPECT_EQ(RunOf("/silent").options.mode, RunMode::Silent);
    const app::Run handed = RunOf("/ELEVATED /NOSTART /DIR=..\\Kelvaro");
    EXPECT_EQ(handed.options.mode, RunMode::Interactive);
    EXPECT_TRUE(handed.StartsByItself()); // the copy the run was handed over to
    EXPECT_EQ(handed.options.folder, "C:\\Start\\..\\Kelvaro");
    EXPECT_FALSE(RunOf("").StartsByItself());
    EXPECT_EQ(RunOf("").options.folder, "");
}

TEST(RunStart, ABadSwitchEndsBeforeTheHelpAndBothBeforeASecondCopy) {
    EXPECT_EQ(app::Run::StartOf(ParseCommandLine(u"/? /BOGUS"), false), RunStart::BadSwitch);
    EXPECT_EQ(app::Run::StartOf(ParseCommandLine(u"/? /SILENT"), false), RunStart::ShowSwitches);
    EXPECT_EQ(app::Run::StartOf(ParseCommandLine(u"/SILENT"), false), RunStart::AlreadyRunning);
    EXPECT_EQ(app::Run::StartOf(ParseCommandLine(u"/SILENT"), true), RunStart::Window);
}

// A person sees the box; /SILENT shows the bad switch and the help too (the window would
// show); /VERYSILENT shows nothing and logs the switch list. A second copy tells a person
// only. The exit code is the same however it is told.
TEST(RunStart, WhatEndsAtOnceIsToldByBoxOrLogByMode) {
    fakes::FakeMachine m;
    test::ScratchDir dir;
    app::RunLog log(test::U16(dir / "run.log"));
    app::SetRunLog(&log);
    struct Case {
        const char* arguments;
        RunStart start;
        app::ExitCode code;
        std::size_t boxes, silentBoxes, verySilentBoxes; // shown by mode
    };
    const Case cases[] = {
        {"/BOGUS", RunStart::BadSwitch, app::ExitCode::BadSwitch, 1, 1, 0},
        {"/?", RunStart::ShowSwitches, app::ExitCode::Installed, 1, 1, 0},
        {"", RunStart::AlreadyRunning, app::ExitCode::AlreadyRunning, 1, 0, 0},
    };
    for (const Case& c : cases) {
        for (const char* mode : {"", " /SILENT", " /VERYSILENT"}) {
            const std::string arguments = std::string(c.arguments) + mode;
            const CommandLine line = ParseCommandLine(platform::Utf8ToUtf16(arguments));
            app::Run run = RunOf(arguments);
            m.boxes.clear();
            app::EndAtOnce(run, c.start, line, "klvupgrade");
            EXPECT_EQ(run.Code(), c.code) << arguments;
            const std::size_t boxes = run.options.mode == RunMode::Interactive ? c.boxes
                                      : run.options.mode == RunMode::Silent    ? c.silentBoxes
                                                                               : c.verySilentBoxes;
            EXPECT_EQ(m.boxes.size(), boxes) << arguments;
        }
    }
    app::SetRunLog(nullptr);
    const std::string logged = test::ReadBytes(dir / "run.log");
    EXPECT_NE(logged.find("/? /VERYSILENT"), std::string::npos) << logged;
}
