#include "app/staged_install.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <vector>

#include "app/install_journal.h"
#include "app/install_plan.h"
#include "app/run_log.h"
#include "platform/file_stream.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "util/texts.h"
#include "zip/archiver.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

constexpr std::uint64_t kMB = 1024 * 1024;
// What a file takes beyond its bytes (its last cluster, its directory entry), and a margin.
constexpr std::uint64_t kPerFileSlack = 4096;
constexpr std::uint64_t kMargin = 1 * kMB;

// Whether a new file can still be made in `folder`. A file the engine could not create is a
// name it refused (the payload's fault) only while the drive takes new files; a drive whose
// file table is full, or that refuses writes, fails the same way.
bool TakesNewFiles(platform::Disk& disk, const std::u16string& folder) {
    const std::u16string probe = folder + std::u16string(stubconf::ReservedPrefix) + u"probe";
    platform::DiskStatus status;
    const bool created = disk.Create(probe, status) != nullptr;
    if (created) disk.RemoveFile(probe);
    return created;
}

// The outcome of a change that failed for `status`.
InstallOutcome::Kind KindOf(const platform::DiskStatus& status) {
    switch (status.failure) {
    case platform::DiskFailure::InUse:
        return InstallOutcome::FileInUse;
    case platform::DiskFailure::Denied:
        return InstallOutcome::NoRights;
    case platform::DiskFailure::Full:
        return InstallOutcome::NoRoom;
    case platform::DiskFailure::None:
    case platform::DiskFailure::Other:
        break;
    }
    return InstallOutcome::WriteFailed;
}

std::string Ansi(const std::u16string& text) {
    return platform::Utf16ToAnsi(text);
}

} // namespace

InstallOutcome InstallPayload(zip::TZipArchive& archive, const std::u16string& package,
                              const std::u16string& folder, const std::u16string& programFile,
                              platform::Disk& disk) {
    InstallOutcome outcome;
    // What an earlier run left is finished first; what cannot be finished keeps this run out.
    if (const RecoveryResult earlier = RecoverInterruptedRun(folder, true, disk);
        BlocksInstallation(earlier)) {
        outcome.kind = InstallOutcome::Blocked;
        outcome.recovery = earlier;
        return outcome;
    }

    archive.FileName = package;
    archive.Open(zip::kOpenModeShareRead);
    struct Closer {
        zip::TZipArchive& a;
        ~Closer() { a.Close(); }
    } closer{archive};

    if (!archive.DirManager() || archive.DirManager()->Rebuilt) {
        outcome.kind = InstallOutcome::Damaged;
        return outcome;
    }
    // Names the installer will not write, and items that cannot go into this installation,
    // make the payload damaged before anything is written.
    const PayloadItems payload = ListPayload(archive);
    std::u16string refused;
    const std::optional<SwitchPlan> planned =
        payload.refused ? std::nullopt : MakePlan(folder, payload.items, refused, disk);
    if (!planned) {
        outcome.kind = InstallOutcome::Damaged;
        outcome.file = payload.refused ? *payload.refused : refused;
        return outcome;
    }
    const SwitchPlan& plan = *planned;
    const std::vector<PayloadItem>& items = payload.items;
    std::uint64_t needed = kMargin;
    for (const PayloadItem& item : items)
        if (!item.folder) needed += static_cast<std::uint64_t>(item.size) + kPerFileSlack;

    // The old program file must not be running: a running program can be renamed, so the
    // switch would not notice. Any other file another program holds refuses its move aside,
    // and the switch is undone and names it: no probe of every file beforehand.
    std::size_t replaced = 0;
    for (const PlannedFile& file : plan.files)
        replaced += file.existed ? 1 : 0;
    Log(LogCategory::Phase, "plan: " + std::to_string(items.size()) + " items, " +
                                std::to_string(plan.files.size()) + " files (" +
                                std::to_string(replaced) + " replaced), " +
                                std::to_string(plan.newFolders.size()) + " new folders");
    if (!programFile.empty()) {
        const bool inUse = disk.Use(folder + programFile) == platform::FileUse::InUse;
        Log(LogCategory::Check, u"in use: " + programFile + (inUse ? u" is in use" : u" is free"));
        if (inUse) {
            outcome.kind = InstallOutcome::ProgramInUse;
            outcome.file = programFile;
            return outcome;
        }
    }

    const auto available = disk.FreeBytes(folder);
    Log(LogCategory::Check,
        "room: needed " + std::to_string((needed + kMB - 1) / kMB) + " MB, available " +
            (available ? std::to_string(*available / kMB) + " MB" : std::string("unknown")));
    if (available && *available < needed) {
        outcome.kind = InstallOutcome::NoRoom;
        outcome.neededMB = (needed + kMB - 1) / kMB;
        outcome.availableMB = *available / kMB;
        return outcome;
    }

    auto noRoom = [&](std::optional<std::uint64_t> available) {
        outcome.kind = InstallOutcome::NoRoom;
        outcome.neededMB = (needed + kMB - 1) / kMB;
        outcome.availableMB = available ? *available / kMB : 0;
    };
    InstallJournal journal(folder, disk);
    if (const platform::DiskStatus status = journal.Begin(plan); !status.ok()) {
        // The run's own file: the notice names the folder, not the file.
        outcome.kind = KindOf(status);
        if (outcome.kind == InstallOutcome::NoRoom) noRoom(disk.FreeBytes(folder));
        if (outcome.kind == InstallOutcome::FileInUse) outcome.kind = InstallOutcome::WriteFailed;
        return outcome;
    }

    // Staging: every item checked as the engine checks it; the first failure ends it.
    archive.BaseDir = journal.StagingFolder();
    archive.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
    bool diskFull = false;
    int failureCode = 0;
    platform::DiskFailure streamFailure = platform::DiskFailure::None;
    archive.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string& fileName,
                                       zip::TZAProcessOperation, int nativeError, int,
                                       const std::u16string& message, zip::TZAAction& action) {
        if (failureCode == 0) {
            failureCode = nativeError;
            outcome.file = fileName;
            outcome.message = Ansi(message);
        }
        action = zip::TZAAction::fxaAbort;
    };
    archive.OnDiskFull = [&](zip::TZABaseArchiver&, int, const std::u16string&, bool& cancel) {
        diskFull = true;
        cancel = true;
    };
    const auto stagingStart = std::chrono::steady_clock::now();
    try {
        archive.ExtractMatching(u"*.*");
    } catch (const zip::EZAException& e) {
        if (failureCode == 0) failureCode = e.NativeError ? e.NativeError : -1;
        outcome.message = Ansi(e.Message());
    } catch (const zip::EFileStreamError& e) {
        // A file stream's own error: a staged file that could not be created or opened.
        if (failureCode == 0) failureCode = -1;
        streamFailure = platform::FailureOf(e.SystemError());
        outcome.message = Ansi(e.Message());
    } catch (const zip::EZAError& e) {
        if (failureCode == 0) failureCode = -1;
        outcome.message = Ansi(e.Message());
    }
    archive.OnProcessFileFailure = nullptr;
    archive.OnDiskFull = nullptr;

    bool complete = failureCode == 0 && !diskFull;
    for (std::size_t i = 0; complete && i < plan.files.size(); ++i)
        if (!disk.IsFile(journal.StagingFolder() + plan.files[i].name)) {
            complete = false;
            outcome.file = plan.files[i].name;
        }
    if (!complete) {
        const bool refusedName =
            failureCode == zip::neCannotCreateFile && TakesNewFiles(disk, journal.StagingFolder());
        journal.Discard();
        const auto available = disk.FreeBytes(folder);
        if (diskFull || (available && *available < kMB) ||
            streamFailure == platform::DiskFailure::Full) {
            noRoom(available);
        } else if (streamFailure == platform::DiskFailure::Denied) {
            outcome.kind = InstallOutcome::NoRights;
        } else if (failureCode == 0 || failureCode == zip::neNotIntact || refusedName ||
                   failureCode == zip::neDeflate64 || failureCode == zip::neInvalidPassword) {
            outcome.kind = InstallOutcome::Damaged;
        } else {
            outcome.kind = InstallOutcome::WriteFailed;
        }
        return outcome;
    }

    Log(LogCategory::Phase,
        "staged and checked " + std::to_string(items.size()) + " items, " + Since(stagingStart));
    const auto switchStart = std::chrono::steady_clock::now();
    SwitchFailure failure;
    const bool switched = journal.SwitchOver(plan, failure);
    Log(LogCategory::Phase, std::string(switched ? "switched over " : "switch-over undone, ") +
                                std::to_string(plan.files.size()) + " files, " +
                                Since(switchStart));
    if (!switched) {
        outcome.file = failure.file;
        outcome.kind = failure.restored ? KindOf(failure.status) : InstallOutcome::NotRestored;
        if (outcome.kind == InstallOutcome::NoRoom) noRoom(disk.FreeBytes(folder));
        if (outcome.kind == InstallOutcome::FileInUse && failure.file.empty())
            outcome.kind = InstallOutcome::WriteFailed; // the journal, not a file of Kelvaro
        return outcome;
    }
    // Committed: the update is in place. Leftovers that cannot go now are finished by the
    // next start, which the journal tells.
    journal.Finish();
    return outcome;
}

std::string FailureNotice(const InstallOutcome& outcome, const std::string& folder) {
    const std::string file = Ansi(outcome.file);
    switch (outcome.kind) {
    case InstallOutcome::Damaged:
        return DamagedPackageNotice();
    case InstallOutcome::NoRoom:
        return util::texts::NoRoom(folder, outcome.neededMB, outcome.availableMB);
    case InstallOutcome::FileInUse:
        return util::texts::FileInUse(file);
    case InstallOutcome::WriteFailed: {
        // The item as the payload names it, not the staging path the engine wrote to.
        std::string item = file;
        const std::string staging = Ansi(StagingFolderName) + "\\";
        if (const std::size_t at = item.find(staging); at != std::string::npos)
            item = item.substr(at + staging.size());
        return util::texts::NotUnpacked(folder, item);
    }
    case InstallOutcome::NoRights:
        return util::texts::NoRights(folder, file);
    case InstallOutcome::Blocked:
        return RecoveryNotice(outcome.recovery, folder);
    case InstallOutcome::NotRestored:
        return util::texts::NotRestored(file);
    case InstallOutcome::Installed:
    case InstallOutcome::ProgramInUse:
        break;
    }
    return {};
}

std::string DamagedPackageNotice() {
    return util::texts::DamagedPackage();
}

std::string AlreadyRunningNotice() {
    return std::string(util::texts::AlreadyRunning);
}

std::string RecoveryNotice(RecoveryResult result, const std::string& folder) {
    std::string shown = folder;
    while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/'))
        shown.pop_back();
    switch (result) {
    case RecoveryResult::Nothing:
        break;
    case RecoveryResult::Restored:
        return std::string(util::texts::EarlierRunRestored);
    case RecoveryResult::Completed:
        return std::string(util::texts::EarlierRunCompleted);
    case RecoveryResult::Incomplete:
        return util::texts::EarlierRunIncomplete(shown);
    case RecoveryResult::Unreadable:
        return util::texts::EarlierRunUnreadable(shown);
    case RecoveryResult::OrphanBackup:
        return util::texts::OrphanBackup(shown, shown + "\\" + Ansi(BackupFolderName));
    case RecoveryResult::Busy:
        return AlreadyRunningNotice();
    }
    return {};
}

} // namespace klv::app
