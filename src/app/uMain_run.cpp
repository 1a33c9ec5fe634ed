// The installation run, the cancel button, the version check and the text of an exception
// for the default error handler.
#include "app/stubconf/stub_ini.h"
#include "app/uMain.h"
#include "platform/text.h"
#include "util/KLVShortCutU.h"
#include "util/VersionInfo.h"
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

} // namespace

void TUpgradeForm::CloseAndTerminate() {
    SetCursor(platform::Cursor::Normal);
    view_.Close();
    util::sys::Windows().Terminate();
}

void TUpgradeForm::bnExtractClick(TObject*) {
    if (!StubConfigFound && !ValidateTargetFolder()) return;
    SetCursor(platform::Cursor::HourGlass);
    try {
        RunInstallation(view_.Text(Control::edPath));
    } catch (...) {
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
    if (!util::sys::Files().FolderExists(folder)) {
        util::ShowNotice(util::texts::FolderDoesNotExist(folder));
        return;
    }
    if (!FolderIsWritable(folder)) return;
    // A cut-off download is told before any question is asked.
    if (!payload_->Verify(folder)) {
        SetCursor(platform::Cursor::Normal);
        util::ShowNotice(DamagedPackageNotice());
        return;
    }

    const bool configured = StubConfigFound;
    std::string programFile;
    std::string replacedProgram; // the old program file that must be free to replace
    if (!configured) {
        programFile = util::WithTrailingBackslash(folder) + ProgramFileName;
        if (!IsHelpPackage() && util::sys::Files().FileExists(programFile)) {
            if (!ConfirmVersion(programFile)) return;
            SetCursor(platform::Cursor::HourGlass);
            replacedProgram = ProgramFileName;
        }
    }

    // Every item is extracted and checked beside the installation before the old files are
    // replaced; whatever fails leaves the folder as it was.
    const InstallOutcome outcome = payload_->Install(folder, replacedProgram);
    if (outcome.kind == InstallOutcome::ProgramInUse) {
        SetCursor(platform::Cursor::Normal);
        util::ShowNotice(util::texts::DeleteFailed(programFile));
        return;
    }
    if (outcome.kind != InstallOutcome::Installed) {
        SetCursor(platform::Cursor::Normal);
        util::ShowNotice(FailureNotice(outcome, folder));
        return;
    }

    const bool help = IsHelpPackage();
    if (!configured && !help && util::FileExistsSafe(programFile)) {
        if (view_.Visible(Control::MakeShortcuts) && view_.Checked(Control::MakeShortcuts)) {
            util::CreateShortcuts(folder, "Kelvaro", "Kelvaro", false);
            if (util::AskQuestion(util::texts::StartQuestion, "", "", util::texts::InstalledTitle,
                                  1) == 1)
                util::OpenDocument(view_.Handle(), programFile, "", "open");
        }
    } else if (configured || help) {
        util::ShowNotice(util::texts::InstallationDone);
    } else {
        util::ShowNotice(util::texts::UpgradeNotInstalled(programFile));
    }
}

void TUpgradeForm::bnExitClick(TObject*) {
    SetCursor(platform::Cursor::Normal);
    if (!util::SearchStopFlag) {
        util::SearchStopFlag = true;
        return;
    }
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
    if (StubConfigFound || IsHelpPackage()) return true;
    const std::string installed = InstalledVersion(programFile);
    const std::string package = PackageVersion();
    // Numbers, not text: 10.0.0.0 is newer than 9.0.0.0. A package version that is no
    // version at all is unknown, and the user decides.
    const std::optional<int> order = stubconf::CompareVersions(installed, package);
    if (order && *order <= 0) return true;
    return util::AskQuestion(util::texts::NewerVersionQuestion(installed, package),
                             util::texts::CancelUpdateMeaning,
                             util::texts::OlderVersionMeaning(package),
                             util::texts::VersionCheckTitle, 1) != 1;
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
