// TUpgradeForm: creation, the entry sequence's texts, painting, the timer, the folder
// dialog and the payload configuration.
#include "app/uMain.h"

#include "app/run_failures.h"
#include "app/run_log.h"
#include "app/stubconf/stub_ini.h"
#include "app/unattended.h"
#include "platform/text.h"
#include "util/ascii_text.h"
#include "util/filez.h"
#include "util/meldunit.h"
#include "util/system_access.h"
#include "util/texts.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

bool IsBlankText(std::string_view text) {
    return util::TrimmedView(text).empty();
}

} // namespace

TUpgradeForm::TUpgradeForm(UpgradeView& view, Run& run, std::string executablePath,
                           PayloadFactory openPayload)
    : view_(view), run_(run), executablePath_(std::move(executablePath)),
      openPayload_(openPayload ? std::move(openPayload) : PayloadFactory(NewZipPayload)) {
    FormCreate();
}

TUpgradeForm::~TUpgradeForm() = default;

void TUpgradeForm::FormCreate(TObject*) {
    view_.SetText(Control::bnExtract, util::Trim(view_.Text(Control::bnExtract)));
    payload_ = openPayload_(executablePath_);
}

void EntrySequence(TUpgradeForm& form) {
    form.ProgramFileName = "Kelvaro.exe";
    form.View().SetText(Control::Label1, util::texts::ProductHeading);
    form.View().SetText(Control::Label2, util::texts::Explanation);
    form.View().SetVisible(Control::MakeShortcuts, true);
}

void TUpgradeForm::FormPaint(TObject*) {
    if (Context().FirstPaint) {
        Context().FirstPaint = false;
        view_.Repaint();
        if (Context().FirstPaintHook) Context().FirstPaintHook();
        if (!ClaimTheRun()) return;
        const std::string caption = view_.Caption();
        const std::string folder =
            run_.options.folder.empty() ? DefaultFolder() : run_.options.folder;
        UndoEarlierRuns(folder);
        if (!TakeFolder(folder)) return;
        view_.SetCaption(caption);
        if (!ConfigureFromPayload()) return;
        LogPackage();
    }
    if (IsHelpPackage()) {
        view_.SetText(Control::Label1, util::texts::HelpHeading);
        view_.SetChecked(Control::MakeShortcuts, false);
        view_.SetVisible(Control::MakeShortcuts, false);
    }
}

bool TUpgradeForm::ClaimTheRun() {
    // One copy at a time: a second one touches nothing, not even the temporary folder.
    if (payload_->Claim()) return true;
    run_.End(ExitCode::AlreadyRunning, "another copy of the installer is running");
    util::ShowNotice(AlreadyRunningNotice());
    CloseAndTerminate();
    return false;
}

void TUpgradeForm::UndoEarlierRuns(const std::string& folder) {
    // An earlier run cut off while switching the installation over is undone first.
    // A run that had committed is finished quietly (the log tells it): no update was lost.
    for (const EarlierRun& earlier : payload_->RecoverInterruptedRuns(folder, Trust()))
        if (earlier.result != RecoveryResult::Completed)
            util::ShowNotice(RecoveryNotice(earlier.result, earlier.folder));
}

bool TUpgradeForm::TakeFolder(const std::string& folder) {
    const bool named = !run_.options.folder.empty();
    if (named && !run_.Unattended()) {
        // A folder named on the command line (a relaunch as administrator names the one
        // chosen) stands as if typed: the timer and the validation judge it.
        view_.SetText(Control::edPath, folder);
        Log(LogCategory::Folder, folder + " (" + FolderSource(folder, named) + ")");
        return true;
    }
    if (!IsBlankText(folder) && util::FolderExistsSafe(folder) && IsFullInstallation(folder)) {
        view_.SetText(Control::edPath, folder);
        const std::string source = FolderSource(folder, named);
        // The default folder: why the registry gave none.
        if (source == "default") LogConsideredFolders(folder);
        Log(LogCategory::Folder, folder + " (" + source + ")");
        return true;
    }
    view_.SetText(Control::edPath, "");
    LogConsideredFolders(folder);
    Log(LogCategory::Folder, "no Kelvaro 3 installation at " + folder + " (" +
                                 FolderSource(folder, named) +
                                 "): " + InstallationShortfall(folder));
    if (run_.Unattended()) {
        // Nobody to search or browse for: the run ends here, and the log says what would help.
        Log(LogCategory::Folder, std::string("an unattended run does not search the drives: ") +
                                     (named ? "/DIR= must name a full Kelvaro 3 installation"
                                            : "name the installation with /DIR=\"folder\""));
        run_.End(ExitCode::NoInstallation, "no Kelvaro 3 installation found");
        CloseAndTerminate();
        return false;
    }
    if (util::AskQuestion(util::texts::NotFoundQuestion, util::texts::NotFoundSearchMeaning,
                          util::texts::NotFoundBrowseMeaning, util::texts::NotFoundTitle, 1) == 1)
        zoeklocsClick();
    else
        bnSelectDestPathClick();
    return true;
}

bool TUpgradeForm::ConfigureFromPayload() {
    try {
        ApplyPayloadConfiguration();
        return true;
    } catch (const zip::EZAError& e) {
        const std::string temp = util::TempFolder();
        if (ConfigurationNotWritten(std::current_exception(),
                                    [&] { return util::sys::Files().CanWriteIn(temp); })) {
            // Downloading again would not help: the temporary folder took no files.
            run_.End(ExitCode::NoRoom, "the configuration files cannot be written to " + temp +
                                           ": " + platform::Utf16ToAnsi(e.Message()));
            std::string shown = temp;
            while (shown.size() > 3 && shown.back() == '\\')
                shown.pop_back();
            util::ShowNotice(util::texts::NotUnpacked(shown, ""));
        } else {
            // A payload the engine cannot read ends here, before anything was changed.
            run_.End(ExitCode::DamagedPackage, "the package cannot be read");
            util::ShowNotice(DamagedPackageNotice());
        }
        CloseAndTerminate();
        return false;
    }
}

void TUpgradeForm::Timer1Timer(TObject*) {
    const std::string folder = view_.Text(Control::edPath);
    view_.SetEnabled(Control::bnExtract, !IsBlankText(folder) && IsFullInstallation(folder));
}

void TUpgradeForm::bnSelectDestPathClick(TObject*) {
    std::string start = view_.Text(Control::edPath);
    if (IsBlankText(start) || !util::FolderExistsSafe(start)) start = util::ProgramFilesRoot();
    std::string chosen;
    if (view_.BrowseForFolder(start, chosen)) {
        view_.SetText(Control::edPath, chosen);
        Log(LogCategory::Folder, chosen + " (browse)");
    }
}

bool TUpgradeForm::IsHelpPackage() {
    return stubconf::IsHelpCaption(view_.Caption());
}

stubconf::PackageKind TUpgradeForm::Kind() {
    return stubconf::KindOfPackage(Context().StubConfigFound, view_.Caption());
}

void TUpgradeForm::ApplyPayloadConfiguration() {
    ProgramFileName = "kelvaro.exe";
    const std::string temp = util::TempFolder();
    std::string configPath;
    for (const char* name : {"Stub.bmp", "Stub.jpg", "Stub.ico", "Stub.ini"}) {
        configPath = temp + name;
        if (util::FileExistsSafe(configPath)) util::sys::Files().RemoveFile(configPath);
    }

    if (payload_->ExtractConfiguration(temp)) {
        Context().StubConfigFound = true;
        view_.SetText(Control::bnExtract, util::texts::InstallButton);
    }

    if (util::FileExistsSafe(configPath)) {
        const stubconf::StubIni ini(payload_->ReadConfiguration(configPath));
        view_.SetCaption(ini.Value(stubconf::KeyCaption));
        view_.SetText(Control::Label1, ini.Value(stubconf::KeyHeader));
        view_.SetText(Control::Label2, ini.Value(stubconf::KeyExplanation));
        if (stubconf::HidesFolderChoice(ini.Value(stubconf::KeyFolderChoice))) {
            for (Control c : {Control::zoeklocs, Control::edPath, Control::bnSelectDestPath})
                view_.SetVisible(c, false);
            // The shortcuts box, which a configured package never uses, would move up with the
            // bottom edge over the explanation: it goes with the folder choice.
            view_.SetVisible(Control::MakeShortcuts, false);
            view_.SetOuterHeight(view_.OuterHeight() - 50);
        }
        view_.Repaint();
    }

    // The picture: the configuration path with its first ".ini" (any case) replaced.
    const std::size_t ini = util::LowerAscii(configPath).find(".ini");
    if (ini == std::string::npos) return;
    for (const char* extension : {".bmp", ".jpg", ".ico"}) {
        const std::string picture =
            configPath.substr(0, ini) + extension + configPath.substr(ini + 4);
        if (util::FileExistsSafe(picture)) {
            view_.LoadPicture(picture);
            return;
        }
    }
}

} // namespace klv::app
