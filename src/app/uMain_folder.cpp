// The target folder: the registry entry, the default, the installation check and the
// validation before a run.
#include "app/command_line.h"
#include "app/uMain.h"
#include "app/unattended.h"
#include "util/filez.h"
#include "util/meldunit.h"
#include "util/system_access.h"
#include "util/texts.h"

namespace klv::app {

namespace {

constexpr std::int64_t kFullBdeAdminSize = 989608;

} // namespace

// Kelvaro 3 is a legacy 32-bit program: under UAC its writes to HKEY_LOCAL_MACHINE land in
// the user's VirtualStore, which it is shown first. The entry is looked for where Kelvaro
// would find it: the VirtualStore, when its value names an existing folder, else the machine's
// key. Both are opened for reading only: a standard user (or an administrator's filtered
// token) may not open HKEY_LOCAL_MACHINE for anything more.
void ReadInstallRegistry(std::string_view name, std::string& folder, std::string& date,
                         std::string& setup) {
    constexpr std::string_view kKey = "\\SOFTWARE\\KLV\\";
    auto& registry = util::sys::Registry();
    const std::string base(name);
    auto read = [&](std::unique_ptr<platform::RegistryKey> key) {
        folder.clear();
        date.clear();
        setup.clear();
        if (!key) return;
        folder = key->ReadText(base);
        date = key->ReadText(base + "datum");
        setup = key->ReadText(base + "setup");
    };
    read(registry.OpenKey(platform::RootKey::CurrentUser, registry.VirtualStorePath(kKey),
                          platform::KeyAccess::Read));
    if (!folder.empty() && util::FolderExistsSafe(folder)) return;
    read(registry.OpenKey(platform::RootKey::LocalMachine, kKey, platform::KeyAccess::Read));
}

std::string DefaultFolder() {
    std::string folder, date, setup;
    ReadInstallRegistry("Kelvaro", folder, date, setup);
    if (util::FolderExistsSafe(folder)) return folder;
    return util::WithTrailingBackslash(util::ProgramFilesRoot()) + "kelvaro";
}

bool IsFullInstallation(std::string_view path) {
    std::string folder(path);
    if (util::FileExistsSafe(folder)) {
        const std::size_t slash = folder.rfind('\\');
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    }
    if (!util::FolderExistsSafe(folder)) return false;
    folder = util::WithTrailingBackslash(folder);
    if (folder.size() <= 3) return false;
    if (util::LowerTrim(folder).find("program files") != std::string::npos) return false;
    return util::FolderExistsSafe(folder + "BDE") && util::FolderExistsSafe(folder + "SC") &&
           util::FileExistsSafe(folder + "SC\\Slavenreg.sc") &&
           util::FileExistsSafe(folder + "Data\\voornamen.txt");
}

bool TUpgradeForm::ValidateTargetFolder() {
    const std::string folder = view_.Text(Control::edPath);
    if (folder.empty()) {
        EndRun(ExitCode::NoInstallation, "no folder");
        util::ShowNotice(util::texts::PathNotFound);
        return false;
    }
    if (!util::FolderExists(folder)) {
        EndRun(ExitCode::NoInstallation, "the folder " + folder + " does not exist");
        util::ShowNotice(util::texts::PathNotFoundAt(folder));
        return false;
    }
    if (!IsFullInstallation(folder)) {
        EndRun(ExitCode::NoInstallation, folder + " is no Kelvaro 3 installation");
        util::ShowNotice(util::texts::NotKelvaroLocation);
        util::sys::Windows().Terminate();
        return false;
    }
    if (util::FileSizeOf(util::WithTrailingBackslash(folder) + "BDE\\BDEADMIN.EXE") <
        kFullBdeAdminSize) {
        EndRun(ExitCode::NoInstallation, folder + " is no complete Kelvaro 3 installation");
        util::ShowNotice(util::texts::NotFullKelvaroLocation);
        util::sys::Windows().Terminate();
        return false;
    }
    return true;
}

bool TUpgradeForm::FolderIsWritable(const std::string& folder) {
    // A standard user may not change a folder below "Program Files" or one an administrator
    // made: nothing is written there before this copy or an elevated one may.
    if (util::sys::Files().CanWriteIn(folder)) return true;
    util::sys::Windows().SetCursorShape(platform::Cursor::Normal);
    if (util::AskQuestion(util::texts::NoWriteRightsQuestion(folder),
                          util::texts::RestartAsAdministratorMeaning, util::texts::StopMeaning,
                          util::texts::NoWriteRightsTitle, 1) == 1) {
        // The new copy gets the folder chosen here; this one ends.
        if (util::sys::Shell().Execute(view_.Handle(), "runas", executablePath_,
                                       DirArgument(folder), "", platform::swShow) > 32)
            return false;
        EndRun(ExitCode::NoRights, "the folder " + folder + " cannot be written");
        util::ShowNotice(util::texts::AdministratorStartFailed());
        return false;
    }
    EndRun(ExitCode::NoRights, "the folder " + folder + " cannot be written");
    util::ShowNotice(util::texts::UpdateStopped());
    return false;
}

} // namespace klv::app
