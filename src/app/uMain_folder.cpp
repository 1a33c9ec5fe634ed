// The target folder: the registry entry, the default, the installation check and the
// validation before a run.
#include <algorithm>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/run_log.h"
#include "app/uMain.h"
#include "app/unattended.h"
#include "platform/text.h"
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

std::string InstallationShortfall(std::string_view path) {
    std::string folder(path);
    if (util::LowerTrim(folder).empty()) return "no folder";
    if (util::FileExistsSafe(folder)) {
        const std::size_t slash = folder.rfind('\\');
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    }
    if (!util::FolderExistsSafe(folder)) return "the folder does not exist";
    folder = util::WithTrailingBackslash(folder);
    if (folder.size() <= 3) return "a drive's root";
    if (util::LowerTrim(folder).find("program files") != std::string::npos)
        return "below \"Program Files\"";
    for (const char* sub : {"BDE", "SC"})
        if (!util::FolderExistsSafe(folder + sub)) return std::string(sub) + " missing";
    for (const char* file : {"SC\\Slavenreg.sc", "Data\\voornamen.txt"})
        if (!util::FileExistsSafe(folder + file)) return std::string(file) + " missing";
    const std::string admin = folder + "BDE\\BDEADMIN.EXE";
    if (!util::FileExistsSafe(admin)) return "BDE\\BDEADMIN.EXE missing";
    const std::int64_t size = util::FileSizeOf(admin);
    if (size < kFullBdeAdminSize)
        return "BDE\\BDEADMIN.EXE " + std::to_string(size) + " bytes, needs " +
               std::to_string(kFullBdeAdminSize);
    return {};
}

void LogConsideredFolders(std::string_view chosen) {
    std::vector<std::pair<std::string, std::string>> candidates; // folder, source
    auto& registry = util::sys::Registry();
    constexpr std::string_view kKey = "\\SOFTWARE\\KLV\\";
    // A registry place that gives no folder is told with the key it looked in.
    const auto look = [&](platform::RootKey root, const std::string& path, const std::string& shown,
                          const char* source) {
        std::string why;
        try {
            if (auto key = registry.OpenKey(root, path, platform::KeyAccess::Read)) {
                std::string folder = key->ReadText("Kelvaro");
                if (!folder.empty())
                    candidates.emplace_back(std::move(folder), source);
                else
                    why = shown + " has no value \"Kelvaro\"";
            } else {
                why = shown + " does not exist or cannot be read";
            }
        } catch (...) {
            why = "the value \"Kelvaro\" of " + shown + " is not text";
        }
        if (!why.empty())
            Log(LogCategory::Folder, "not considered (" + std::string(source) + "): " + why);
    };
    const std::string virtualStore = registry.VirtualStorePath(kKey);
    look(platform::RootKey::CurrentUser, virtualStore, "HKCU\\" + virtualStore,
         "registry, the user's VirtualStore");
    look(platform::RootKey::LocalMachine, std::string(kKey), "HKLM\\SOFTWARE\\KLV (32-bit view)",
         "registry, as a 32-bit program reads it");
    candidates.emplace_back(util::WithTrailingBackslash(util::ProgramFilesRoot()) + "kelvaro",
                            "default");
    std::vector<std::string> logged{util::LowerTrim(chosen)};
    for (const auto& [folder, source] : candidates) {
        const std::string key = util::LowerTrim(folder);
        if (key.empty() || std::find(logged.begin(), logged.end(), key) != logged.end()) continue;
        logged.push_back(key);
        const std::string shortfall = InstallationShortfall(folder);
        Log(LogCategory::Folder, "considered " + folder + " (" + source + "): " +
                                     (shortfall.empty() ? "a full installation" : shortfall));
    }
}

bool TUpgradeForm::ValidateTargetFolder() {
    const std::string folder = view_.Text(Control::edPath);
    if (folder.empty()) {
        run_.End(ExitCode::NoInstallation, "no folder");
        util::ShowNotice(util::texts::PathNotFound);
        return false;
    }
    if (!util::FolderExists(folder)) {
        run_.End(ExitCode::NoInstallation, "the folder " + folder + " does not exist");
        util::ShowNotice(util::texts::PathNotFoundAt(folder));
        return false;
    }
    if (!IsFullInstallation(folder)) {
        run_.End(ExitCode::NoInstallation,
                 folder + " is no Kelvaro 3 installation: " + InstallationShortfall(folder));
        util::ShowNotice(util::texts::NotKelvaroLocation);
        util::sys::Windows().Terminate();
        return false;
    }
    if (util::FileSizeOf(util::WithTrailingBackslash(folder) + "BDE\\BDEADMIN.EXE") <
        kFullBdeAdminSize) {
        run_.End(ExitCode::NoInstallation, folder + " is no complete Kelvaro 3 installation: " +
                                               InstallationShortfall(folder));
        util::ShowNotice(util::texts::NotFullKelvaroLocation);
        util::sys::Windows().Terminate();
        return false;
    }
    return true;
}

std::string AbsoluteFolder(std::string_view folder) {
    return folder.empty() ? std::string() : util::sys::Files().FullPath(folder);
}

bool TUpgradeForm::RunsElevated() {
    return run_.options.elevated || (Context().TokenElevatedHook ? Context().TokenElevatedHook()
                                                                 : util::sys::Shell().Elevated());
}

RecoveryTrust TUpgradeForm::Trust() {
    RecoveryTrust trust;
    trust.elevated = RunsElevated();
    // The same changes this user could make itself, in a folder the installer would install
    // into: a complete Kelvaro 3 installation it may write in.
    trust.mayActOnNoted = [](const std::u16string& noted) {
        const std::string folder = platform::Utf16ToAnsi(noted);
        return IsFullInstallation(folder) && util::sys::Files().CanWriteIn(folder);
    };
    return trust;
}

bool TUpgradeForm::FolderIsWritable(const std::string& folder) {
    // A standard user may not change a folder below "Program Files" or one an administrator
    // made: nothing is written there before this copy or an elevated one may.
    if (util::sys::Files().CanWriteIn(folder)) return true;
    util::sys::Windows().SetCursorShape(platform::Cursor::Normal);
    auto& shell = util::sys::Shell();
    if (RunsElevated()) {
        // An administrator's copy that still may not write: starting another would only ask
        // the same again.
        run_.End(ExitCode::NoRights,
                 "the folder " + folder + " cannot be written, not even as administrator");
        util::ShowNotice(util::texts::NoRights(folder, ""));
        return false;
    }
    if (util::AskQuestion(util::texts::NoWriteRightsQuestion(folder),
                          util::texts::RestartAsAdministratorMeaning, util::texts::StopMeaning,
                          util::texts::NoWriteRightsTitle, 1) == 1) {
        // The new copy gets every switch of this run and the folder chosen here, writes on in
        // this run's log, and starts the run itself; this one waits and ends as it ends.
        const std::u16string arguments = run_.HandOverArguments(folder);
        Log(LogCategory::Phase,
            u"the run is handed over to a copy started as administrator: " + arguments);
        ReleaseRun(); // the new copy claims the run
        const std::optional<int> code =
            shell.RunElevatedAndWait(view_.Handle(), executablePath_, arguments);
        if (code) {
            run_.End(static_cast<ExitCode>(*code),
                     "the run was handed over to the copy started as administrator");
            return false;
        }
        ClaimRun();
        run_.End(ExitCode::NoRights, "the folder " + folder + " cannot be written");
        util::ShowNotice(util::texts::AdministratorStartFailed());
        return false;
    }
    run_.End(ExitCode::NoRights, "the folder " + folder + " cannot be written");
    util::ShowNotice(util::texts::UpdateStopped());
    return false;
}

} // namespace klv::app
