// The installer window's rules against the fake machine: the run modes, the first paint, the
// three levels of folder acceptance, the version check, and the installation run: the order
// of its steps and what each way out leaves behind.
#include <gtest/gtest.h>

#include "app/uMain.h"
#include "app/unattended.h"
#include "app_fakes.h"
#include "util/search.h"

using namespace klv;
using app::Control;
using fakes::FakeMachine;

namespace {

const std::string Installation = "C:\\Kelvaro3";
const std::string ProgramFile = "C:\\Kelvaro3\\kelvaro.exe";
const std::string Temp = "C:\\windows\\temp\\";
constexpr std::uint32_t V(int major, int minor) {
    return static_cast<std::uint32_t>(major) << 16 | static_cast<std::uint32_t>(minor);
}

class Window : public ::testing::Test {
  protected:
    Window() {
        m.SetSpecialFolder(platform::sfProgramFiles, "C:\\Program Files (x86)");
        m.AddFolder(Temp);
    }

    void StageInstallation(const std::string& folder = Installation,
                           std::int64_t bdeAdminSize = 989608) {
        m.AddFolder(folder + "\\BDE");
        m.AddFolder(folder + "\\SC");
        m.AddFile(folder + "\\SC\\Slavenreg.sc", 100);
        m.AddFile(folder + "\\Data\\voornamen.txt", 100);
        m.AddFile(folder + "\\BDE\\BDEADMIN.EXE", bdeAdminSize);
    }
    void StageProgram(std::uint32_t ms, std::uint32_t ls) {
        m.AddFile(ProgramFile, 5000);
        m.SetFileVersion(ProgramFile, ms, ls);
    }

    app::TUpgradeForm& Form() {
        if (!form_) {
            form_ = std::make_unique<app::TUpgradeForm>(
                view, run, "C:\\Downloads\\klvupgradeStub.exe", [this](const std::string& exe) {
                    EXPECT_EQ(exe, "C:\\Downloads\\klvupgradeStub.exe");
                    return std::make_unique<test::ScriptedPayload>(m, script);
                });
            app::EntrySequence(*form_);
        }
        return *form_;
    }
    // The first paint with the folder found (or chosen) and the configuration applied.
    app::TUpgradeForm& Shown() {
        Form().FormPaint();
        return *form_;
    }

    // The run as the user and the installation see it: boxes (their first line), removals,
    // payload steps, shortcuts, starts, closing and terminations.
    std::vector<std::string> Story() const {
        std::vector<std::string> story;
        std::size_t box = 0;
        for (const std::string& line : m.journal) {
            if (line == "box") {
                const std::string& text = m.boxes[box++].text;
                story.push_back("box: " + text.substr(0, text.find('\r')));
            } else if (line.rfind("remove C:\\Kelvaro3", 0) == 0 || line.rfind("payload", 0) == 0 ||
                       line.rfind("link Save", 0) == 0 || line.rfind("execute", 0) == 0 ||
                       line.rfind("browse", 0) == 0 || line == "close" || line == "choice dialog") {
                story.push_back(line);
            }
        }
        if (m.terminations) story.push_back("terminate x" + std::to_string(m.terminations));
        return story;
    }

    FakeMachine m;
    test::FakeView view{m};
    test::PayloadScript script;
    app::Run run;

  private:
    std::unique_ptr<app::TUpgradeForm> form_;
};

using Strings = std::vector<std::string>;

// ---- run modes and the payload configuration ----

TEST_F(Window, ConfiguredPackageTakesItsLookFromStubIni) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    m.AddFile(Temp + "Stub.ico", 10); // left by an earlier package: removed first
    script.configuration = {{"stub.ini", "caption=Kelvaro Update 3.2.0.1]\r\n"
                                         "Header=Nieuwe kaarten\r\nheader=tweede\r\n"
                                         "folderkeuze=false\r\n"},
                            {"Stub.jpg", "jpeg"},
                            {"Stub.bmp", "bitmap"}};
    Shown();
    EXPECT_TRUE(run.context.StubConfigFound);
    EXPECT_EQ(view.caption, "Kelvaro Update 3.2.0.1]");
    EXPECT_EQ(view.texts[Control::Label1], "Nieuwe kaarten");
    EXPECT_EQ(view.texts[Control::Label2], ""); // no "uitleg": emptied
    EXPECT_EQ(view.texts[Control::bnExtract], "Installeren");
    for (Control c :
         {Control::zoeklocs, Control::edPath, Control::bnSelectDestPath, Control::MakeShortcuts})
        EXPECT_FALSE(view.Visible(c));
    EXPECT_EQ(view.height, 122);
    EXPECT_EQ(view.picture, Temp + "Stub.bmp"); // the bitmap before the JPEG
    EXPECT_FALSE(m.HasFile(Temp + "Stub.ico"));
    EXPECT_EQ(Form().ProgramFileName, "kelvaro.exe");
}

TEST_F(Window, WithoutStubIniTheEntryTextsStay) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    Shown();
    EXPECT_FALSE(run.context.StubConfigFound);
    EXPECT_EQ(view.texts[Control::bnExtract], "&Installeren");
    EXPECT_EQ(view.texts[Control::Label1], "Kelvaro Upgrade");
    EXPECT_EQ(view.caption, "Kwartierblad met plaats en datum                          ");
    EXPECT_EQ(view.picture, "");
    EXPECT_TRUE(view.Visible(Control::MakeShortcuts));
}

TEST_F(Window, HelpCaptionGivesTheHelpLookOnEveryPaint) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    script.configuration = {{"stub.ini", "Caption=Kelvaro HeLP 2026\r\nHeader=Handleiding\r\n"}};
    Shown();
    EXPECT_TRUE(run.context.StubConfigFound);
    EXPECT_TRUE(Form().IsHelpPackage());
    EXPECT_EQ(view.texts[Control::Label1], "Kelvaro Schermhelp"); // over the Header
    EXPECT_FALSE(view.Visible(Control::MakeShortcuts));
    EXPECT_FALSE(view.Checked(Control::MakeShortcuts));
    view.texts[Control::Label1] = "x";
    Form().FormPaint();
    EXPECT_EQ(view.texts[Control::Label1], "Kelvaro Schermhelp");
    EXPECT_EQ(std::count(m.journal.begin(), m.journal.end(), "payload configuration"), 1);
}

// ---- the first paint ----

TEST_F(Window, ASecondCopyEndsBeforeTouchingAnything) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    script.claimed = false;
    script.configuration = {{"stub.ini", "Caption=Pakket\r\n"}};
    Shown();
    EXPECT_EQ(Story(),
              (Strings{"box: Er wordt al een update ge\xEFnstalleerd.", "close", "terminate x1"}));
    EXPECT_FALSE(run.context.StubConfigFound);
}

TEST_F(Window, APayloadTheEngineCannotReadEndsWithTheDamagedNotice) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    script.failConfiguration = true;
    Shown();
    EXPECT_EQ(Story(), (Strings{"payload configuration",
                                "box: Het updatebestand is beschadigd of onvolledig.", "close",
                                "terminate x1"}));
}

TEST_F(Window, WhatTheRecoveryFoundIsToldFolderByFolder) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    script.earlierRuns = {{"D:\\Oud\\", app::RecoveryResult::Unreadable},
                          {"C:\\Kelvaro3\\", app::RecoveryResult::Completed}};
    Shown();
    // A run that had committed is finished quietly: only the log tells it.
    EXPECT_EQ(Story(), (Strings{"box: Een eerdere update in [D:\\Oud] is onderbroken en kon niet "
                                "worden teruggedraaid: het logboek ervan is onleesbaar.",
                                "payload configuration"}));
}

// Configuration files the temporary folder does not take (full, no rights) are a write that
// failed: its notice and exit code 6, never the damaged package's "Download de update opnieuw".
TEST_F(Window, ConfigurationFilesTheTempFolderRefusesAreAFailedWrite) {
    StageInstallation();
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    m.DenyWrites(Temp);
    script.failConfiguration = true;
    script.configurationError = zip::neCannotCreateFile;
    Shown();
    EXPECT_EQ(Story(), (Strings{"payload configuration",
                                "box: De update kon niet worden uitgepakt in [C:\\windows\\temp].",
                                "close", "terminate x1"}));
    EXPECT_EQ(run.Code(), app::ExitCode::NoRoom);
    EXPECT_EQ(m.boxes.back().text.find("Download"), std::string::npos) << m.boxes.back().text;
}

TEST_F(Window, NoInstallationAsksBeforeTheConfigurationThenBrowses) {
    StageInstallation();
    m.Remove(Installation + "\\SC\\Slavenreg.sc"); // the registry's folder is incomplete
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", Installation);
    script.configuration = {{"stub.ini", "Caption=Pakket\r\n"}};
    m.QueueAnswer(platform::idNo);
    view.browseAnswer = "C:\\Elders";
    Shown();
    EXPECT_EQ(Story(),
              (Strings{"box: Kelvaro locatie niet gevonden. Nu zoeken naar juiste locatie ?",
                       "browse C:\\", "payload configuration"}));
    // The question came while the window still showed the stored caption.
    const auto question = std::find(m.journal.begin(), m.journal.end(), "box");
    EXPECT_EQ(*std::prev(question, 2),
              "repaint: Kwartierblad met plaats en datum                          ");
    EXPECT_EQ(m.boxes[0].caption, "Doelmap niet gevonden");
    EXPECT_EQ(m.boxes[0].flags, platform::mbYesNo);
    EXPECT_EQ(view.texts[Control::edPath], "C:\\Elders");
    EXPECT_EQ(view.caption, "Pakket");
}

TEST_F(Window, YesSearchesAndANotFoundKeepsTheWindowUsable) {
    m.QueueAnswer(platform::idYes);
    Shown();
    EXPECT_EQ(Story(),
              (Strings{"box: Kelvaro locatie niet gevonden. Nu zoeken naar juiste locatie ?",
                       "box: Geen locaties gevonden. Installeer eerst een volledige "
                       "installatie van Kelvaro 3.",
                       "payload configuration"}));
    EXPECT_EQ(view.texts[Control::edPath], "");
    EXPECT_TRUE(run.context.SearchStopFlag);
    EXPECT_TRUE(view.timerOn);
    EXPECT_EQ(m.cursors.back(), platform::Cursor::Normal);
    EXPECT_EQ(view.caption, "Kwartierblad met plaats en datum                          ");
}

TEST_F(Window, SearchFindsReduceToFolders) {
    StageInstallation();
    m.AddFile(ProgramFile);
    m.AddFile("C:\\kelvaro3\\klvdemo.exe"); // the same folder in another case
    auto& form = Form();
    view.texts[Control::edPath] = "C:\\Vorige";
    form.zoeklocsClick(); // one folder: no dialog, its spelling as the search found it
    ASSERT_EQ(form.FoundLocations->size(), 1u);
    EXPECT_EQ(view.texts[Control::edPath], form.FoundLocations->front());
    EXPECT_EQ(fakes::CanonicalPath(form.FoundLocations->front()), "C:\\KELVARO3");
    EXPECT_EQ(form.FoundLocations->front().back(), '\\');

    StageInstallation("C:\\Oud");
    m.AddFile("C:\\Oud\\KELVARO.EXE");
    view.texts[Control::edPath] = "C:\\Vorige";
    form.zoeklocsClick(); // two folders: the dialog, closed without a choice
    EXPECT_EQ(Story(), Strings{"choice dialog"});
    EXPECT_EQ(form.FoundLocations->size(), 2u);
    EXPECT_EQ(view.texts[Control::edPath], "C:\\Vorige");
}

// ---- the three levels of folder acceptance ----

TEST_F(Window, InstallationCheckRefusesRootsProgramFilesAndGaps) {
    StageInstallation();
    StageInstallation("C:\\Program Files (x86)\\Kelvaro");
    StageInstallation("C:\\PROGRAM FILES\\kelvaro");
    StageInstallation("C:");
    StageInstallation("C:\\Half");
    m.Remove("C:\\Half\\Data\\voornamen.txt");
    m.AddFile(ProgramFile);
    EXPECT_TRUE(app::IsFullInstallation(Installation));
    EXPECT_TRUE(app::IsFullInstallation(Installation + "\\"));
    EXPECT_TRUE(app::IsFullInstallation(ProgramFile));
    EXPECT_FALSE(app::IsFullInstallation("C:\\"));
    EXPECT_FALSE(app::IsFullInstallation("C:\\Program Files (x86)\\Kelvaro"));
    EXPECT_FALSE(app::IsFullInstallation("C:\\PROGRAM FILES\\kelvaro"));
    EXPECT_FALSE(app::IsFullInstallation("C:\\Half"));
    EXPECT_FALSE(app::IsFullInstallation("C:\\Nergens"));
    EXPECT_FALSE(app::IsFullInstallation(""));
}

TEST_F(Window, TimerAcceptsWhatValidationRefusesForAShortBdeAdmin) {
    StageInstallation(Installation, 989607);
    auto& form = Form();
    view.texts[Control::edPath] = "   ";
    form.Timer1Timer();
    EXPECT_FALSE(view.Enabled(Control::bnExtract));
    view.texts[Control::edPath] = Installation;
    form.Timer1Timer();
    EXPECT_TRUE(view.Enabled(Control::bnExtract));
    EXPECT_FALSE(form.ValidateTargetFolder());
    EXPECT_EQ(Story(),
              (Strings{"box: Deze locatie is geen volledige Kelvaro 3 locatie.", "terminate x1"}));
}

TEST_F(Window, ValidationMessagesAndWhichOfThemEndTheProgram) {
    m.AddFolder("C:\\Leeg");
    auto& form = Form();
    for (const char* folder : {"", "C:\\Nergens", "C:\\Leeg"}) {
        view.texts[Control::edPath] = folder;
        EXPECT_FALSE(form.ValidateTargetFolder());
    }
    ASSERT_EQ(m.boxes.size(), 3u);
    EXPECT_EQ(m.boxes[0].text, "Pad niet gevonden.");
    EXPECT_EQ(m.boxes[1].text, "Pad [C:\\Nergens] niet gevonden.");
    EXPECT_EQ(m.boxes[2].text, "Deze locatie is geen Kelvaro 3 locatie.\r\n\r\nDeze update werkt "
                               "alleen in een Kelvaro 3 installatie. \r\n\r\n (Klik Ok om dit "
                               "scherm te sluiten)");
    EXPECT_EQ(m.terminations, 1); // only the last
    StageInstallation();
    view.texts[Control::edPath] = Installation;
    EXPECT_TRUE(form.ValidateTargetFolder());
}

// ---- the version check ----

TEST_F(Window, VersionsCompareAsNumbersAndAnUnknownPackageVersionAsks) {
    StageProgram(V(10, 0), 0);
    auto& form = Form();
    view.caption = "Kelvaro Update 9.0.0.0]";
    m.QueueAnswer(platform::idNo); // install the older one anyway
    EXPECT_TRUE(form.ConfirmVersion(ProgramFile));
    m.QueueAnswer(platform::idYes); // cancel
    EXPECT_FALSE(form.ConfirmVersion(ProgramFile));
    ASSERT_EQ(m.boxes.size(), 2u);
    EXPECT_EQ(m.boxes[0].text,
              "De versie die u al heeft (10.0.0.0) is nieuwer dan de versie die u nu wilt "
              "installeren (9.0.0.0).\r\nUpdate annuleren ?\rJa = Annuleren"
              "\rNee = Toch oudere versie 9.0.0.0 installeren");
    EXPECT_EQ(m.boxes[0].caption, "Versiecontrole");

    view.caption = "Kelvaro Update 10.0.0.0]";
    EXPECT_TRUE(form.ConfirmVersion(ProgramFile));
    view.caption = "Kelvaro Update 10.0.0.0   "; // padding after the version
    EXPECT_TRUE(form.ConfirmVersion(ProgramFile));
    EXPECT_EQ(m.boxes.size(), 2u);

    // The stored caption carries no version: the user decides, also over a file without any.
    view.caption = "Kwartierblad met plaats en datum                          ";
    m.AddFile("C:\\Kelvaro3\\oud.exe");
    EXPECT_EQ(form.InstalledVersion("C:\\Kelvaro3\\oud.exe"), "0.0.0.0");
    m.QueueAnswer(platform::idNo);
    EXPECT_TRUE(form.ConfirmVersion("C:\\Kelvaro3\\oud.exe"));
    ASSERT_EQ(m.boxes.size(), 3u);
    EXPECT_NE(m.boxes[2].text.find("(0.0.0.0) is nieuwer"), std::string::npos);
}

// ---- the installation run ----

class Run : public Window {
  protected:
    Run() {
        StageInstallation();
        StageProgram(V(3, 1), V(0, 5));
        m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro",
                          Installation);
        m.SetSpecialFolder(platform::sfDesktopDirectory, "C:\\Users\\jan\\Desktop");
        m.SetSpecialFolder(platform::sfStartMenu, "C:\\Users\\jan\\Start Menu");
        m.AddFolder("C:\\Users\\jan\\Desktop");
        m.AddFolder("C:\\Users\\jan\\Start Menu");
    }
    void Install() {
        Shown();
        view.caption = caption;
        if (!typed.empty()) view.texts[Control::edPath] = typed;
        m.journal.clear();
        m.cursors.clear();
        Form().bnExtractClick();
    }
    std::string caption = "Kelvaro Update 3.2.0.1]";
    std::string typed; // the folder field after the first paint, when not the one found
};

TEST_F(Run, ProgramUpgradeVerifiesDeletesInstallsLinksAndStarts) {
    m.QueueAnswer(platform::idYes);
    Install();
    EXPECT_EQ(Story(),
              (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3 kelvaro.exe",
                       "link Save C:\\Users\\jan\\Desktop\\Kelvaro.lnk",
                       "link Save C:\\Users\\jan\\Start Menu\\Kelvaro.lnk", "box: Direct starten ?",
                       "execute C:\\Kelvaro3\\kelvaro.exe", "close", "terminate x1"}));
    EXPECT_EQ(m.boxes.back().caption, "Update [xxxxx] ge\xEFnstalleerd");
    EXPECT_EQ(m.executions.at(0).verb, "open");
    EXPECT_EQ(m.executions.at(0).owner, 77u);
    EXPECT_EQ(m.cursors.front(), platform::Cursor::HourGlass);
    EXPECT_EQ(m.cursors.back(), platform::Cursor::Normal);
}

TEST_F(Run, DamagedPayloadEndsTheRunWithTheInstallationUntouched) {
    script.intact = false;
    Install();
    EXPECT_EQ(Story(), (Strings{"payload check C:\\Kelvaro3",
                                "box: Het updatebestand is beschadigd of onvolledig.", "close",
                                "terminate x1"}));
    EXPECT_EQ(m.boxes.back().text, "Het updatebestand is beschadigd of onvolledig.\r\nDownload "
                                   "de update opnieuw.\r\n\r\nEr is niets gewijzigd.");
    EXPECT_TRUE(m.HasFile(ProgramFile));
}

TEST_F(Run, AFailedInstallationSaysWhatWentWrongAndEnds) {
    script.outcome = app::InstallOutcome::FileInUse;
    Install();
    EXPECT_EQ(Story(),
              (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3 kelvaro.exe",
                       "box: Het bestand \"\" is in gebruik door een ander programma.", "close",
                       "terminate x1"}));
    EXPECT_TRUE(m.boxes.back().text.ends_with("\r\n\r\nEr is niets gewijzigd."));
}

TEST_F(Run, AFolderAnEarlierRunStillHoldsIsRefusedWithTheReason) {
    script.outcome = app::InstallOutcome::Blocked;
    script.recovery = app::RecoveryResult::OrphanBackup;
    Install();
    EXPECT_EQ(Story(),
              (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3 kelvaro.exe",
                       "box: In [C:\\Kelvaro3] staat nog een reservekopie van een eerdere update:",
                       "close", "terminate x1"}));
    EXPECT_EQ(m.boxes.back().text,
              "In [C:\\Kelvaro3] staat nog een reservekopie van een eerdere update:\r\n"
              "[C:\\Kelvaro3\\~klvupgrade.backup]\r\nZet terug wat u nodig heeft en verwijder die "
              "map daarna zelf.\r\nZolang dat zo is, kan er in deze map geen update worden "
              "ge\xEFnstalleerd.");
}

TEST_F(Run, KeepingTheNewerVersionChangesNothing) {
    StageProgram(V(4, 0), 0);
    m.QueueAnswer(platform::idYes);
    Install();
    EXPECT_EQ(Story(), (Strings{"payload check C:\\Kelvaro3",
                                "box: De versie die u al heeft (4.0.0.0) is nieuwer dan de versie "
                                "die u nu wilt installeren (3.2.0.1).",
                                "close", "terminate x1"}));
    EXPECT_TRUE(m.HasFile(ProgramFile));
}

TEST_F(Run, ProgramInUseGivesTheSixPieceMessageAndExtractsNothing) {
    m.LockFile(ProgramFile);
    Install();
    EXPECT_EQ(Story(),
              (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3 kelvaro.exe",
                       "box: Verwijderen van het bestaande bestand", "close", "terminate x1"}));
    EXPECT_EQ(m.boxes.back().text,
              "Verwijderen van het bestaande bestand\r\n\"C:\\Kelvaro3\\kelvaro.exe\"lukt "
              "niet.\r\nHeeft u Kelvaro misschien al gestart?\r\nSluit Kelvaro dan en probeer "
              "nog eens.\r\n\r\nLukt het nog niet ?\r\nSchakel dan de PC uit en weer aan en "
              "probeer opnieuw.");
}

TEST_F(Run, ArchiveFailureClosesFirstThenReachesTheErrorHandler) {
    script.failExtraction = true;
    std::string shown;
    try {
        Install();
        ADD_FAILURE() << "the archive error did not leave the handler";
    } catch (...) {
        shown = app::ExceptionMessage(std::current_exception());
    }
    EXPECT_EQ(shown.substr(shown.size() - 22), " - Native error: 00008");
    EXPECT_EQ(Story(),
              (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3 kelvaro.exe",
                       "close", "terminate x1"}));
    EXPECT_EQ(m.cursors.back(), platform::Cursor::Normal);
    EXPECT_EQ(app::ExceptionMessage(std::make_exception_ptr(
                  platform::RegistryError("Ongeldig gegevenstype voor 'Kelvaro'"))),
              "Ongeldig gegevenstype voor 'Kelvaro'");
}

TEST_F(Run, UntickedShortcutsEndSilentlyAndAMissingProgramIsReported) {
    view.unchecked[Control::MakeShortcuts] = true;
    Install();
    EXPECT_EQ(Story(),
              (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3 kelvaro.exe",
                       "close", "terminate x1"}));
}

TEST_F(Run, AProgramUpgradeWithoutTheProgramSaysSo) {
    script.items = {"Data\\nieuw.txt"};
    m.Remove(ProgramFile);
    typed = Installation + "\\"; // the same program file path with a trailing backslash
    Install();
    EXPECT_EQ(Story(), (Strings{"payload check C:\\Kelvaro3\\", "payload install C:\\Kelvaro3\\",
                                "box: Upgrade (C:\\Kelvaro3\\kelvaro.exe) niet ge\xEFnstalleerd",
                                "close", "terminate x1"}));
}

TEST_F(Run, HelpPackageNeverTouchesTheProgramAndReportsDone) {
    StageProgram(V(9, 0), 0);
    script.items = {"Help\\kelvaro.chm"};
    caption = "Kelvaro Schermhelp Update 1.0]";
    Install();
    EXPECT_EQ(Story(), (Strings{"payload check C:\\Kelvaro3", "payload install C:\\Kelvaro3",
                                "box: Installatie voltooid", "close", "terminate x1"}));
    EXPECT_TRUE(m.HasFile(ProgramFile));
}

TEST_F(Run, ConfiguredPackageSkipsValidationButNeedsAnExistingFolder) {
    script.configuration = {{"stub.ini", "Caption=Kaarten\r\n"}};
    Shown();
    m.journal.clear();
    view.texts[Control::edPath] = "C:\\Nergens";
    Form().bnExtractClick();
    EXPECT_EQ(Story(), (Strings{"box: [C:\\Nergens] bestaat niet. ", "close", "terminate x1"}));
}

TEST_F(Run, ConfiguredPackageInstallsWithoutVersionOrShortcuts) {
    StageProgram(V(9, 0), 0);
    script.configuration = {{"stub.ini", "Caption=Kaarten\r\n"}};
    caption = "Kaarten";
    typed = "C:\\Kaarten";
    m.AddFolder("C:\\Kaarten"); // not an installation: only the folder must exist
    Install();
    EXPECT_EQ(Story(), (Strings{"payload check C:\\Kaarten", "payload install C:\\Kaarten",
                                "box: Installatie voltooid", "close", "terminate x1"}));
}

TEST_F(Run, FailedValidationLeavesTheWindowOpen) {
    Shown();
    m.journal.clear();
    view.texts[Control::edPath] = "";
    Form().bnExtractClick();
    EXPECT_EQ(Story(), (Strings{"box: Pad niet gevonden."}));
    EXPECT_TRUE(m.cursors.empty());
}

TEST_F(Run, CancelDuringASearchOnlyStopsIt) {
    auto& form = Form();
    run.context.SearchStopFlag = false;
    form.bnExitClick();
    EXPECT_TRUE(run.context.SearchStopFlag);
    EXPECT_TRUE(Story().empty());
    form.bnExitClick();
    EXPECT_EQ(Story(), (Strings{"close", "terminate x1"}));
}

} // namespace
