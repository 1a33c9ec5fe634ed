// A folder the user may not change: nothing is written, and the user chooses between a new
// start as administrator (with the folder on its command line) and stopping.
#include <gtest/gtest.h>

#include "app/app_fakes.h"
#include "app/uMain.h"
#include "app/unattended.h"

using namespace klv;
using fakes::FakeMachine;

namespace {

const std::string Folder = "C:\\Program Files (x86)\\Kelvaro";
const std::string Package = "C:\\Downloads\\klvupgrade.exe";
const std::string Question = "U heeft geen rechten om de map\r\n\"" + Folder +
                             "\"\r\nte wijzigen.\r\n\r\nDe update opnieuw starten als "
                             "administrator ?";

struct Machine {
    explicit Machine(app::RunOptions options = {}) : run(std::move(options)) {
        m.AddFolder("C:\\Downloads");
        m.AddFolder(Folder);
    }
    FakeMachine m;
    app::Run run;
    test::FakeView view{m};
    test::PayloadScript script;
    app::TUpgradeForm form{view, run, Package, [this](const std::string&) {
                               return std::make_unique<test::ScriptedPayload>(m, script);
                           }};
};

} // namespace

TEST(WritableFolder, AWritableFolderAsksNothingAndLeavesNoProbe) {
    Machine s;
    EXPECT_TRUE(s.form.FolderIsWritable(Folder));
    EXPECT_TRUE(s.m.boxes.empty());
    EXPECT_TRUE(s.m.executions.empty());
    EXPECT_EQ(s.m.journal, std::vector<std::string>{"probe " + Folder});
}

TEST(WritableFolder, YesStartsThePackageAgainAsAdministratorWithTheFolder) {
    Machine s;
    s.m.DenyWrites(Folder);
    s.m.QueueAnswer(6); // Yes
    EXPECT_FALSE(s.form.FolderIsWritable(Folder));
    ASSERT_EQ(s.m.boxes.size(), 1u);
    EXPECT_TRUE(s.m.boxes[0].text.starts_with(Question)) << s.m.boxes[0].text;
    ASSERT_EQ(s.m.executions.size(), 1u);
    EXPECT_EQ(s.m.executions[0].verb, "runas");
    EXPECT_EQ(s.m.executions[0].file, Package);
    EXPECT_EQ(s.m.executions[0].parameters, "\"/DIR=" + Folder + "\" /ELEVATED");

    // The shell could not start it (the user refused the elevation prompt): told so.
    Machine refused;
    refused.m.DenyWrites(Folder);
    refused.m.SetElevatedRunResult(std::nullopt);
    refused.m.QueueAnswer(6);
    EXPECT_FALSE(refused.form.FolderIsWritable(Folder));
    ASSERT_EQ(refused.m.boxes.size(), 2u);
    EXPECT_EQ(refused.m.boxes[1].text, "De update kon niet als administrator worden gestart."
                                       "\r\n\r\nEr is niets gewijzigd.");
}

TEST(WritableFolder, NoStopsWithNothingChanged) {
    Machine s;
    s.m.DenyWrites(Folder);
    s.m.QueueAnswer(7); // No
    EXPECT_FALSE(s.form.FolderIsWritable(Folder));
    ASSERT_EQ(s.m.boxes.size(), 2u);
    EXPECT_EQ(s.m.boxes[1].text, "De update is gestopt.\r\n\r\nEr is niets gewijzigd.");
    EXPECT_TRUE(s.m.executions.empty());
}

TEST(WritableFolder, TheRunEndsBeforeTheInstallationIsTouched) {
    Machine s;
    for (const char* sub : {"\\BDE", "\\SC"})
        s.m.AddFolder(Folder + sub);
    s.m.DenyWrites(Folder);
    s.m.QueueAnswer(7);
    s.run.context.StubConfigFound = true; // no validation: straight to the run
    s.view.SetText(app::Control::edPath, Folder);
    s.form.bnExtractClick();
    for (const std::string& step : s.m.journal)
        EXPECT_EQ(step.find("payload"), std::string::npos) << step;
    EXPECT_EQ(s.m.terminations, 1);
}

// The copy started as administrator takes the run over: it gets every switch, and this copy
// waits for it and ends with its exit code, never as cancelled. A copy that already runs as
// administrator never offers it again: it says it may not write, and ends with exit 9.
TEST(WritableFolder, TheAdministratorsCopyTakesTheRunOverAndIsNeverAskedAgain) {
    app::RunOptions silent;
    silent.mode = app::RunMode::Silent;
    silent.noStart = true;
    Machine s(silent);
    s.m.DenyWrites(Folder);
    s.m.SetElevatedRunResult(5); // the new copy found Kelvaro in use
    s.m.QueueAnswer(6);
    EXPECT_FALSE(s.form.FolderIsWritable(Folder));
    ASSERT_EQ(s.m.executions.size(), 1u);
    EXPECT_EQ(s.m.executions[0].parameters, "/SILENT /NOSTART \"/DIR=" + Folder + "\" /ELEVATED");
    EXPECT_EQ(s.run.Code(), app::ExitCode::InUse);
    EXPECT_EQ(s.run.Reason(), "the run was handed over to the copy started as administrator");

    for (bool marker : {true, false}) {
        app::RunOptions handedOver;
        handedOver.elevated = marker;
        Machine elevated(handedOver);
        elevated.m.SetElevated(!marker);
        elevated.m.DenyWrites(Folder);
        EXPECT_FALSE(elevated.form.FolderIsWritable(Folder));
        EXPECT_TRUE(elevated.m.executions.empty());
        ASSERT_EQ(elevated.m.boxes.size(), 1u);
        EXPECT_EQ(elevated.m.boxes[0].text, "U heeft geen rechten om de bestanden in [" + Folder +
                                                "] te wijzigen.\r\n\r\nEr is niets gewijzigd.");
        EXPECT_EQ(elevated.run.Code(), app::ExitCode::NoRights);
    }
}

// A relative /DIR is taken from the folder the package was started in.
TEST(WritableFolder, ARelativeFolderIsMadeAbsoluteAgainstTheStartFolder) {
    Machine s;
    s.m.SetCurrentFolder("C:\\Users\\Jan\\Downloads");
    EXPECT_EQ(app::AbsoluteFolder("..\\Kelvaro"), "C:\\Users\\Jan\\Kelvaro");
    EXPECT_EQ(app::AbsoluteFolder("D:\\Kelvaro3"), "D:\\Kelvaro3");
    EXPECT_EQ(app::AbsoluteFolder(""), "");
}
