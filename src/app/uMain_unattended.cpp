// A run nobody answers, and what the log says about the package and the folder.
#include <memory>

#include "app/run_log.h"
#include "app/stubconf/stub_ini.h"
#include "app/uMain.h"
#include "app/unattended.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "util/filez.h"
#include "util/system_access.h"
#include "util/texts.h"
#include "zip/signed_view.h"
#include "zip/streams.h"

namespace klv::app {

namespace {

std::string KindName(stubconf::PackageKind kind) {
    switch (kind) {
    case stubconf::PackageKind::ProgramUpgrade:
        break;
    case stubconf::PackageKind::Help:
        return "help package";
    case stubconf::PackageKind::Configured:
        return "configured package";
    case stubconf::PackageKind::ConfiguredHelp:
        return "configured and help package";
    }
    return "program upgrade";
}

} // namespace

std::string FolderSource(std::string_view folder, bool named) {
    if (named) return "/DIR";
    std::string registry, date, setup;
    try {
        ReadInstallRegistry("Kelvaro", registry, date, setup);
    } catch (...) {
        registry.clear();
    }
    if (registry.empty() || registry != folder) return "default";
    // The registry's folder: the user's VirtualStore gives it when it holds a value there.
    std::string virtualStore;
    try {
        auto& machine = util::sys::Registry();
        if (auto key = machine.OpenKey(platform::RootKey::CurrentUser,
                                       machine.VirtualStorePath("\\SOFTWARE\\KLV\\"),
                                       platform::KeyAccess::Read))
            virtualStore = key->ReadText("Kelvaro");
    } catch (...) {
        virtualStore.clear();
    }
    return virtualStore == registry ? "registry, the user's VirtualStore" : "registry";
}

void TUpgradeForm::RunUnattended() {
    FormPaint(); // the first paint's work, when the window has not shown (yet)
    if (closed_) return;
    const std::string folder = view_.Text(Control::edPath);
    // The install button's own condition (the timer's): a folder that is a full installation.
    if (util::LowerTrim(folder).empty() || !IsFullInstallation(folder)) {
        run_.End(ExitCode::NoInstallation,
                 "no Kelvaro 3 installation in [" + folder + "]: " + InstallationShortfall(folder));
        CloseAndTerminate();
        return;
    }
    if (run_.options.mode == RunMode::Silent) {
        // The window shows the run: what it does, and nothing to press meanwhile.
        view_.SetTimerEnabled(false);
        for (Control c : {Control::bnExtract, Control::bnExit, Control::zoeklocs,
                          Control::bnSelectDestPath, Control::edPath, Control::MakeShortcuts})
            view_.SetEnabled(c, false);
        view_.SetText(Control::Label2, util::texts::InstallingInto(folder));
        view_.Repaint();
    }
    bnExtractClick();
    // A validation that refused the folder without ending the program leaves the window open.
    if (!closed_) CloseAndTerminate();
}

void TUpgradeForm::StartByItself() {
    // The run may pump messages (a box, the progress): it starts once.
    if (started_ || closed_ || !run_.StartsByItself()) return;
    started_ = true;
    if (run_.Unattended())
        RunUnattended();
    else
        RunHandedOver();
}

void TUpgradeForm::RunHandedOver() {
    if (closed_ || !run_.options.elevated || run_.Unattended()) return;
    Log(LogCategory::Phase, "started as administrator by another copy: the run starts");
    bnExtractClick();
}

void TUpgradeForm::LogPackage() {
    const std::u16string path = platform::AnsiToUtf16(executablePath_);
    std::string size = "?";
    std::string signature = "unknown";
    try {
        zip::TZAFileStream file(path, platform::fmOpenRead | platform::fmShareDenyNone);
        size = std::to_string(file.Size());
        signature = zip::FindCertificateTable(file) ? "signed" : "none";
    } catch (...) {
        // What cannot be read is told as unknown.
    }
    const std::string version = PackageVersion();
    const std::string mode = KindName(Kind());
    Log(LogCategory::Package, executablePath_ + ", " + size + " bytes, signature " + signature);
    Log(LogCategory::Package, "caption \"" + view_.Caption() + "\", version " +
                                  (version.empty() ? std::string("none") : version) + ", " + mode);
}

} // namespace klv::app
