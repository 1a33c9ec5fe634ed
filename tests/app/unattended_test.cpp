// Runs nobody answers, on the fake machine: every question gets its safe answer, no box is
// shown, and each way a run ends has its exit code, the same one a person's run gets.
#include <gtest/gtest.h>

#include <functional>

#include "app/run_log.h"
#include "app/uMain.h"
#include "app/unattended.h"
#include "app_fakes.h"
#include "util/search.h"
#include "zip/test_util.h"

using namespace klv;
using app::ExitCode;
using app::RunMode;
using fakes::FakeMachine;

namespace {

const std::string Installation = "C:\\Kelvaro3";
const std::string ProgramFile = "C:\\Kelvaro3\\kelvaro.exe";

class Unattended : public ::testing::Test {
  protected:
    Unattended() : logged_(m, run) {
        m.SetSpecialFolder(platform::sfProgramFiles, "C:\\Program Files (x86)");
        m.SetSpecialFolder(platform::sfDesktopDirectory, "C:\\Users\\jan\\Desktop");
        m.SetSpecialFolder(platform::sfStartMenu, "C:\\Users\\jan\\Start Menu");
        m.AddFolder("C:\\windows\\temp\\");
        m.AddFolder("C:\\Users\\jan\\Desktop");
        m.AddFolder("C:\\Users\\jan\\Start Menu");
        Stage(Installation);
        m.AddFile(ProgramFile, 5000);
        m.SetFileVersion(ProgramFile, 3u << 16 | 1, 5);
        m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro",
                          Installation);
        platform::Services services = platform::System();
        services.windows = &logged_;
        previous_ = platform::InstallServices(services);
        app::SetRunLog(&log_);
    }
    ~Unattended() override {
        app::SetRunLog(nullptr);
        platform::InstallServices(previous_);
    }

    void Stage(const std::string& folder) {
        m.AddFolder(folder + "\\BDE");
        m.AddFolder(folder + "\\SC");
        m.AddFile(folder + "\\SC\\Slavenreg.sc", 100);
        m.AddFile(folder + "\\Data\\voornamen.txt", 100);
        m.AddFile(folder + "\\BDE\\BDEADMIN.EXE", 989608);
    }

    // The whole run as the program entry drives it: unattended, or a person who presses
    // Installeren after the first paint. Its exit code.
    ExitCode RunIt(RunMode mode) {
        run.options.mode = mode;
        run.End(ExitCode::Cancelled, {});
        test::FakeView view(m);
        view.caption = "Kelvaro Update 3.2.0.1]";
        app::TUpgradeForm form(view, run, "C:\\Downloads\\klvupgrade.exe",
                               [this](const std::string&) {
                                   return std::make_unique<test::ScriptedPayload>(m, script);
                               });
        app::EntrySequence(form);
        if (mode == RunMode::Interactive) {
            form.FormPaint();
            if (!form.Closed()) form.bnExtractClick();
        } else {
            form.RunUnattended();
        }
        EXPECT_TRUE(form.Closed());
        return run.Code();
    }

    // What happened: payload steps, links, starts, boxes shown (their first line), browsing.
    std::vector<std::string> Story() const {
        std::vector<std::string> story;
        std::size_t box = 0;
        for (const std::string& line : m.journal) {
            if (line == "box") {
                const std::string& text = m.boxes[box++].text;
                story.push_back("box: " + text.substr(0, text.find('\r')));
            } else if (line.rfind("payload install", 0) == 0 || line.rfind("link Save", 0) == 0 ||
                       line.rfind("execute", 0) == 0 || line.rfind("browse", 0) == 0 ||
                       line == "choice dialog") {
                story.push_back(line);
            }
        }
        return story;
    }

    std::string LogText() const { return test::ReadBytes(dir_ / "run.log"); }

    FakeMachine m;
    test::PayloadScript script;
    app::Run run;

  private:
    test::ScratchDir dir_;
    app::RunLog log_{test::U16(dir_ / "run.log")};
    app::LoggedWindowSystem logged_;
    platform::Services previous_;
};

using Strings = std::vector<std::string>;
const Strings Links = {"link Save C:\\Users\\jan\\Desktop\\Kelvaro.lnk",
                       "link Save C:\\Users\\jan\\Start Menu\\Kelvaro.lnk"};

} // namespace

TEST_F(Unattended, InstallsWithoutABoxAndNeverStartsKelvaro) {
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::Installed);
    EXPECT_EQ(Story(), (Strings{"payload install C:\\Kelvaro3 kelvaro.exe", Links[0], Links[1]}));
    EXPECT_TRUE(m.boxes.empty());
    const std::string log = LogText();
    EXPECT_NE(log.find("question [Update [xxxxx] ge\xC3\xAFnstalleerd] Direct starten ? -> Nee "
                       "(unattended, not shown)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("folder   C:\\Kelvaro3 (registry)"), std::string::npos) << log;
}

TEST_F(Unattended, NoInstallationFoundEndsWithoutSearchingOrBrowsing) {
    m.Remove(Installation);
    for (RunMode mode : {RunMode::VerySilent, RunMode::Silent}) {
        run.context.FirstPaint = true;
        m.journal.clear();
        EXPECT_EQ(RunIt(mode), ExitCode::NoInstallation);
        EXPECT_EQ(Story(), Strings{});
        EXPECT_TRUE(m.boxes.empty());
        EXPECT_EQ(m.terminations, mode == RunMode::VerySilent ? 1 : 2);
    }
}

TEST_F(Unattended, TheLogSaysWhyNoFolderConsideredIsAnInstallation) {
    m.Remove(Installation + "\\SC\\Slavenreg.sc");
    // The user's VirtualStore names a folder that is gone; the default folder is one whose
    // BDE administrator is cut short.
    m.SetRegistryText(platform::RootKey::CurrentUser, m.VirtualStorePath("\\SOFTWARE\\KLV\\"),
                      "Kelvaro", "D:\\Oud");
    Stage("C:\\kelvaro");
    m.AddFile("C:\\kelvaro\\BDE\\BDEADMIN.EXE", 1024);
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::NoInstallation);
    const std::string log = LogText();
    for (const char* line :
         {"considered D:\\Oud (registry, the user's VirtualStore): the folder does not exist",
          "considered C:\\kelvaro (default): BDE\\BDEADMIN.EXE 1024 bytes, needs 989608",
          "no Kelvaro 3 installation at C:\\Kelvaro3 (registry): SC\\Slavenreg.sc missing",
          "an unattended run does not search the drives: name the installation with "
          "/DIR=\"folder\""})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    // No value in the machine's key, and (on 32-bit Windows) no VirtualStore key at all: each
    // place says so, with the key it looked in.
    run.context.FirstPaint = true;
    m.SetRegistryText(platform::RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", "");
    m.SetWindows64(false);
    m.Remove("C:\\kelvaro");
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::NoInstallation);
    const std::string again = LogText().substr(log.size());
    for (const char* line :
         {"not considered (registry, the user's VirtualStore): HKCU\\Software\\Classes\\"
          "VirtualStore\\MACHINE\\SOFTWARE\\KLV does not exist or cannot be read",
          "not considered (registry, as a 32-bit program reads it): HKLM\\SOFTWARE\\KLV (32-bit "
          "view) has no value \"Kelvaro\"",
          "no Kelvaro 3 installation at C:\\kelvaro (default): the folder does not exist"})
        EXPECT_NE(again.find(line), std::string::npos) << line << "\n" << again;
}

TEST_F(Unattended, AnOlderVersionIsNeverInstalledUnasked) {
    m.SetFileVersion(ProgramFile, 4u << 16, 0);
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::OlderVersion);
    EXPECT_EQ(Story(), Strings{});
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_NE(LogText().find("Versiecontrole -> Annuleren (unattended, not shown)"),
              std::string::npos);
}

TEST_F(Unattended, OnlyADirThatPassesTheValidationInstallsElsewhere) {
    Stage("C:\\Andere map");
    run.options.folder = "C:\\Andere map";
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::Installed);
    EXPECT_EQ(Story().front(), "payload install C:\\Andere map");

    for (const char* refused : {"C:\\Leeg", "C:\\Bestaat niet", "C:\\Program Files\\Kelvaro3"}) {
        run.context.FirstPaint = true;
        m.journal.clear();
        m.AddFolder("C:\\Leeg");
        Stage("C:\\Program Files\\Kelvaro3");
        run.options.folder = refused;
        EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::NoInstallation) << refused;
        EXPECT_EQ(Story(), Strings{}) << refused;
    }
    // BDEADMIN.EXE one byte short: the timer accepts it, the validation refuses it.
    run.context.FirstPaint = true;
    m.journal.clear();
    m.AddFile("C:\\Andere map\\BDE\\BDEADMIN.EXE", 989607);
    run.options.folder = "C:\\Andere map";
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::NoInstallation);
    EXPECT_EQ(Story(), Strings{});
    EXPECT_TRUE(m.boxes.empty());
}

TEST_F(Unattended, EveryFailureHasItsCodeInBothModes) {
    struct Case {
        const char* what;
        std::function<void()> stage;
        ExitCode code;
    };
    const std::vector<Case> cases = {
        {"damaged", [this] { script.intact = false; }, ExitCode::DamagedPackage},
        {"unreadable", [this] { script.failExtraction = true; }, ExitCode::DamagedPackage},
        {"file in use", [this] { script.outcome = app::InstallOutcome::FileInUse; },
         ExitCode::InUse},
        {"no room", [this] { script.outcome = app::InstallOutcome::NoRoom; }, ExitCode::NoRoom},
        {"write failed", [this] { script.outcome = app::InstallOutcome::WriteFailed; },
         ExitCode::NoRoom},
        {"not restored", [this] { script.outcome = app::InstallOutcome::NotRestored; },
         ExitCode::NotRestored},
        {"no rights", [this] { script.outcome = app::InstallOutcome::NoRights; },
         ExitCode::NoRights},
        {"another copy", [this] { script.claimed = false; }, ExitCode::AlreadyRunning},
        {"journal busy",
         [this] {
             script.outcome = app::InstallOutcome::Blocked;
             script.recovery = app::RecoveryResult::Busy;
         },
         ExitCode::AlreadyRunning},
        {"earlier remains",
         [this] {
             script.outcome = app::InstallOutcome::Blocked;
             script.recovery = app::RecoveryResult::Incomplete;
         },
         ExitCode::NotRestored},
        {"configuration unreadable", [this] { script.failConfiguration = true; },
         ExitCode::DamagedPackage},
        // Last: the file stays locked.
        {"program in use", [this] { m.LockFile(ProgramFile); }, ExitCode::InUse},
    };
    for (const Case& c : cases) {
        for (RunMode mode : {RunMode::VerySilent, RunMode::Interactive}) {
            script = {};
            run.context.FirstPaint = true;
            run = app::Run(run.options);
            m.boxes.clear();
            c.stage();
            ExitCode code = ExitCode::Installed;
            try {
                code = RunIt(mode);
            } catch (...) {
                code = run.Code(); // the error handler's turn; the code is recorded
            }
            EXPECT_EQ(code, c.code) << c.what;
            // A person is told; an unattended run shows nothing.
            const bool quiet = mode == RunMode::VerySilent || script.failExtraction;
            EXPECT_EQ(m.boxes.empty(), quiet) << c.what;
        }
    }
}

TEST_F(Unattended, APersonsAnswersGiveTheSameCodes) {
    m.SetFileVersion(ProgramFile, 4u << 16, 0);
    m.QueueAnswer(platform::idYes); // Update annuleren ? Ja
    EXPECT_EQ(RunIt(RunMode::Interactive), ExitCode::OlderVersion);

    run.context.FirstPaint = true;
    m.journal.clear();
    m.QueueAnswer(platform::idNo); // Toch oudere versie installeren
    run.options.noStart = true;    // and Direct starten ? is never asked
    EXPECT_EQ(RunIt(RunMode::Interactive), ExitCode::Installed);
    EXPECT_EQ(Story(), (Strings{"box: De versie die u al heeft (4.0.0.0) is nieuwer dan de versie "
                                "die u nu wilt installeren (3.2.0.1).",
                                "payload install C:\\Kelvaro3 kelvaro.exe", Links[0], Links[1]}));
    EXPECT_NE(LogText().find("Toch oudere versie 3.2.0.1 installeren -> Nee"), std::string::npos);
}

TEST_F(Unattended, CloseApplicationsClosesTheHoldersAndLeavesOneThatRefuses) {
    run.options.closeApplications = true;
    m.RunProgram("Kelvaro", 4711, ProgramFile);
    const auto programs = [this] {
        Strings seen;
        for (const std::string& line : m.journal)
            for (const char* step : {"close ", "refused ", "restart "})
                if (line.rfind(step, 0) == 0) seen.push_back(line);
        m.journal.clear();
        return seen;
    };
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::Installed);
    EXPECT_EQ(programs(), (Strings{"close Kelvaro", "restart Kelvaro"}));

    // A program with unsaved work refuses: it keeps its file, the run ends as without the
    // switch, and what did close comes back all the same.
    run.context.FirstPaint = true;
    m.RunProgram("Kladblok", 815, Installation + "\\Data\\nieuw.txt", true);
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::InUse);
    EXPECT_EQ(programs(), (Strings{"close Kelvaro", "refused Kladblok", "restart Kelvaro"}));
    const std::string log = LogText();
    for (const char* line :
         {"held by Kelvaro (process 4711): asked to close", "closed Kelvaro (process 4711)",
          "started again: Kelvaro (process 4711)",
          "Kladblok (process 815) did not close (Windows-fout 351)"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    // Without the switch nobody is asked.
    run.context.FirstPaint = true;
    run.options.closeApplications = false;
    EXPECT_EQ(RunIt(RunMode::VerySilent), ExitCode::InUse);
    EXPECT_EQ(programs(), Strings{});
}
