// The installation run, the cancel button, the version check and the text of an exception
// for the default error handler.
#include <algorithm>
#include <chrono>
#include <optional>

#include "app/closed_programs.h"
#include "app/run_failures.h"
#include "app/run_log.h"
#include "app/stubconf/stub_ini.h"
#include "app/uMain.h"
#include "app/unattended.h"
#include "platform/text.h"
#include "util/KLVShortCutU.h"
#include "util/VersionInfo.h"
#include "util/ascii_text.h"
#include "util/filez.h"
#include "util/meldunit.h"
#include "util/search.h"
#include "util/system_access.h"
#include "util/texts.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

void SetCursor(platform::Cursor cursor) {
    util::sys::Windows().SetCursorShape(cursor);
}

// The payload's files that are already in `folder`, as full paths.
std::vector<std::string> ExistingFiles(const std::string& folder,
                                       const std::vector<std::string>& files) {
    std::vector<std::string> existing;
    for (const std::string& file : files)
        if (util::FileExistsSafe(util::WithTrailingBackslash(folder) + file))
            existing.push_back(util::WithTrailingBackslash(folder) + file);
    return existing;
}

// Whether the payload's `files` hold `name` (compared without case).
bool Carries(const std::vector<std::string>& files, const std::string& name) {
    return std::any_of(files.begin(), files.end(), [&](const std::string& file) {
        return util::LowerAscii(file) == util::LowerAscii(name);
    });
}

// A run that ends without installing: its exit code, its line in the log and its notice.
void EndFailedRun(Run& run, const InstallOutcome& outcome, const std::string& folder,
                  const std::string& programFile) {
    const FailureReport report = ReportFailure(outcome, folder, programFile);
    run.End(report.code, ExitName(report.code));
    Log(LogCategory::Failure, report.logLine);
    SetCursor(platform::Cursor::Normal);
    util::ShowNotice(report.notice);
}

} // namespace

void TUpgradeForm::CloseAndTerminate() {
    closed_ = true;
    SetCursor(platform::Cursor::Normal);
    view_.Close();
    util::sys::Windows().Terminate();
}

void TUpgradeForm::bnExtractClick(TObject*) {
    if (!Context().StubConfigFound && !ValidateTargetFolder()) return;
    SetCursor(platform::Cursor::HourGlass);
    try {
        RunInstallation(view_.Text(Control::edPath));
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        run_.End(ExitCodeFor(error), ExceptionMessage(error));
        Log(LogCategory::Failure, "the run ended with: " + ExceptionMessage(error));
        try {
            CloseAndTerminate();
        } catch (...) {
            // The run's own failure is the one to report.
        }
        throw;
    }
    CloseAndTerminate();
}

void TUpgradeForm::RunInstallation(const std::string& folder) {
    if (!util::FolderExists(folder)) {
        run_.End(ExitCode::NoInstallation, "the folder " + folder + " does not exist");
        util::ShowNotice(util::texts::FolderDoesNotExist(folder));
        return;
    }
    if (!FolderIsWritable(folder)) return;
    Log(LogCategory::Phase, "run into " + folder);
    // The payload is opened and checked once, and stays open for the installation: a cut-off
    // download is told before any question is asked.
    const auto checkStart = std::chrono::steady_clock::now();
    const InstallOutcome check = payload_->Check(folder);
    Log(LogCategory::Phase,
        std::string("first look at the payload: ") +
            (check.kind == InstallOutcome::Ok ? "sound" : "damaged or cut off") + ", " +
            Since(checkStart));
    if (check.kind != InstallOutcome::Ok) {
        EndFailedRun(run_, check, folder, {});
        return;
    }

    const bool configured = Context().StubConfigFound;
    const bool upgrade = Kind() == stubconf::PackageKind::ProgramUpgrade;
    const std::vector<std::string> files = payload_->Files();
    // A program upgrade whose payload holds no program file keeps the installed one: the
    // upgrade is not installed, whatever else the payload brings.
    const bool carriesProgram = Carries(files, ProgramFileName);
    std::string programFile;
    std::string replacedProgram; // the old program file that must be free to replace
    bool programExisted = false;
    if (!configured) {
        programFile = util::WithTrailingBackslash(folder) + ProgramFileName;
        if (upgrade && util::FileExists(programFile)) {
            programExisted = true;
            if (!ConfirmVersion(programFile)) return;
            SetCursor(platform::Cursor::HourGlass);
            if (carriesProgram) replacedProgram = ProgramFileName;
        }
    }

    // /CLOSEAPPLICATIONS: the programs that hold a file to be replaced close first.
    std::optional<ClosedPrograms> closed;
    if (run_.options.closeApplications) closed.emplace(ExistingFiles(folder, files));

    // Every item is extracted and checked beside the installation before the old files are
    // replaced; whatever fails leaves the folder as it was.
    const auto installStart = std::chrono::steady_clock::now();
    const InstallOutcome outcome = payload_->Install(folder, replacedProgram, Trust());
    Log(LogCategory::Phase,
        "install: " + std::string(ExitName(ExitCodeFor(outcome))) + ", " + Since(installStart));
    // What was closed comes back whether or not the update went in: nothing of it stays shut.
    if (closed) closed->Restart(run_.options.noStart);
    if (outcome.kind != InstallOutcome::Ok) {
        EndFailedRun(run_, outcome, folder, programFile);
        return;
    }
    run_.End(ExitCode::Installed, "the payload is in " + folder);
    EndInstalled(folder, programFile, upgrade && !carriesProgram, programExisted);
    payload_->Settle();
}

void TUpgradeForm::EndInstalled(const std::string& folder, const std::string& programFile,
                                bool withoutProgram, bool programExisted) {
    const bool upgrade = Kind() == stubconf::PackageKind::ProgramUpgrade;

    if (!upgrade) {
        util::ShowNotice(util::texts::InstallationDone);
    } else if (withoutProgram || !util::FileExistsSafe(programFile)) {
        // The rest of the payload is in place, the program is not the update's: the package
        // lacks its program file, and a deployment must not count it as updated.
        const std::string why =
            "the program was not upgraded: the package holds no " + ProgramFileName +
            (programExisted ? "; the installed " + programFile + " is kept" : std::string());
        run_.End(ExitCode::DamagedPackage, why);
        Log(LogCategory::Failure, why);
        util::ShowNotice(util::texts::UpgradeNotInstalled(programFile));
    } else if (view_.Visible(Control::MakeShortcuts) && view_.Checked(Control::MakeShortcuts)) {
        util::CreateShortcuts(folder, "Kelvaro", "Kelvaro", false);
        Log(LogCategory::Phase, "shortcuts made on the desktop and in the start menu");
        if (run_.options.noStart) {
            Log(LogCategory::Question, "Direct starten ? not asked (/NOSTART)");
        } else if (util::AskQuestion(util::texts::StartQuestion, "", "",
                                     util::texts::InstalledTitle, 1) == 1)
            util::OpenDocument(view_.Handle(), programFile, "", "open",
                               Context().CachedBrowserPath);
    }
}

void TUpgradeForm::bnExitClick(TObject*) {
    SetCursor(platform::Cursor::Normal);
    if (!Context().SearchStopFlag) {
        Context().SearchStopFlag = true;
        return;
    }
    run_.End(ExitCode::Cancelled, "Annuleren");
    closed_ = true;
    view_.Close();
    util::sys::Windows().Terminate();
}

std::string TUpgradeForm::PackageVersion() {
    return stubconf::PackageVersionFromCaption(view_.Caption());
}

std::string TUpgradeForm::InstalledVersion(const std::string& programFile) {
    const util::TVersionInfo info(programFile);
    return util::TVersionInfo::VersionText(info.FileVersion());
}

bool TUpgradeForm::ConfirmVersion(const std::string& programFile) {
    if (Kind() != stubconf::PackageKind::ProgramUpgrade) return true;
    const std::string installed = InstalledVersion(programFile);
    const std::string package = PackageVersion();
    // Numbers, not text: 10.0.0.0 is newer than 9.0.0.0. A package version that is no
    // version at all is unknown, and the user decides.
    const std::optional<int> order = stubconf::CompareVersions(installed, package);
    Log(LogCategory::Check, "version: installed " + installed + ", update " +
                                (package.empty() ? std::string("unknown") : package));
    if (order && *order <= 0) return true;
    if (run_.Unattended()) {
        // An older version is never installed unasked.
        Log(LogCategory::Question, "Versiecontrole -> Annuleren (unattended, not shown)");
        run_.End(ExitCode::OlderVersion,
                 "the installed version " + installed + " is newer than the update's " + package);
        return false;
    }
    const bool keep = util::AskQuestion(util::texts::NewerVersionQuestion(installed, package),
                                        util::texts::CancelUpdateMeaning,
                                        util::texts::OlderVersionMeaning(package),
                                        util::texts::VersionCheckTitle, 1) == 1;
    if (keep) run_.End(ExitCode::OlderVersion, "the user kept the installed version " + installed);
    return !keep;
}

std::string ExceptionMessage(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
        return {};
    } catch (const zip::EZAError& e) {
        return platform::Utf16ToAnsi(e.Message());
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return std::string(util::texts::UnknownError);
    }
}

} // namespace klv::app
