#include "app/staged_install.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <vector>

#include "app/install_journal.h"
#include "app/install_plan.h"
#include "app/placed_files.h"
#include "app/run_failures.h"
#include "app/run_log.h"
#include "platform/path_names.h"
#include "platform/text.h"
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

std::string Ansi(const std::u16string& text) {
    return platform::Utf16ToAnsi(text);
}

} // namespace

OpenedPayload::OpenedPayload(zip::TZipArchive& archive, const std::u16string& package)
    : archive_(archive) {
    check_.kind = InstallOutcome::Damaged;
    try {
        archive_.FileName = package;
        archive_.Open(zip::kOpenModeShareRead);
        open_ = true;
    } catch (const zip::EZAException& e) {
        check_.engineCode = e.NativeError;
        check_.message = Ansi(e.Message());
        return;
    } catch (const zip::EFileStreamError& e) {
        check_.systemError = e.SystemError();
        check_.message = Ansi(e.Message());
        return;
    } catch (const zip::EZAError& e) {
        check_.message = Ansi(e.Message());
        return;
    }
    // A directory rebuilt from local headers is a cut-off download.
    if (!archive_.DirManager() || archive_.DirManager()->Rebuilt) {
        check_.message = "the directory was rebuilt from the local headers";
        return;
    }
    // Names the installer will not write, and encrypted items, make the payload damaged
    // before anything is asked or written.
    PayloadItems payload = ListPayload(archive_);
    if (payload.refused) {
        check_.file = *payload.refused;
        check_.message = "an encrypted item or a name the installer does not write";
        return;
    }
    items_ = std::move(payload.items);
    check_ = {};
}

OpenedPayload::~OpenedPayload() {
    if (!open_) return;
    try {
        archive_.Close();
    } catch (...) {
        // Closing a read-only archive has nothing to lose.
    }
}

InstallOutcome OpenedPayload::Install(const std::u16string& folder,
                                      const std::u16string& programFile, platform::Disk& disk) {
    if (check_.kind != InstallOutcome::Installed) return check_;
    InstallOutcome outcome;
    // What an earlier run left is finished first; what cannot be finished keeps this run out.
    for (const RecoveredFolder& earlier : RecoverEarlierRuns(folder, false, disk))
        if (BlocksInstallation(earlier.result)) {
            outcome.kind = InstallOutcome::Blocked;
            outcome.recovery = earlier.result;
            return outcome;
        }

    // Items that cannot go into this installation make the payload damaged.
    std::u16string refused;
    const std::optional<SwitchPlan> planned = MakePlan(folder, items_, refused, disk);
    if (!planned) {
        outcome.kind = InstallOutcome::Damaged;
        outcome.file = refused;
        return outcome;
    }
    const SwitchPlan& plan = *planned;
    const std::vector<PayloadItem>& items = items_;
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
        const int probeError = inUse ? platform::LastSystemError() : 0; // before the log writes
        Log(LogCategory::Check, u"in use: " + programFile + (inUse ? u" is in use" : u" is free"));
        if (inUse) {
            outcome.kind = InstallOutcome::ProgramInUse;
            outcome.file = programFile;
            outcome.systemError = probeError;
            outcome.holders = HeldBy(disk, folder + programFile);
            return outcome;
        }
    }

    auto noRoom = [&](std::optional<std::uint64_t> available) {
        outcome.kind = InstallOutcome::NoRoom;
        outcome.neededMB = (needed + kMB - 1) / kMB;
        outcome.availableMB = available ? *available / kMB : 0;
    };
    const auto available = disk.FreeBytes(folder);
    Log(LogCategory::Check,
        "room: needed " + std::to_string((needed + kMB - 1) / kMB) + " MB, available " +
            (available ? std::to_string(*available / kMB) + " MB" : std::string("unknown")));
    if (available && *available < needed) {
        noRoom(available);
        return outcome;
    }

    InstallJournal journal(folder, disk);
    if (const platform::DiskStatus status = journal.Begin(plan); !status.ok()) {
        // The run's own file: the notice names the folder, not the file.
        outcome.kind = KindOf(status);
        outcome.journal = true;
        outcome.systemError = status.code;
        if (outcome.kind == InstallOutcome::NoRoom) noRoom(disk.FreeBytes(folder));
        if (outcome.kind == InstallOutcome::FileInUse) outcome.kind = InstallOutcome::WriteFailed;
        return outcome;
    }

    // Staging: every item checked as the engine checks it; the first failure ends it.
    archive_.BaseDir = journal.StagingFolder();
    archive_.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
    // Every staged file through the run's disk, and on the medium before the switch is
    // recorded.
    archive_.OutputDisk = &disk;
    archive_.DurableOutput = true;
    StagingFailure failure;
    archive_.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string& fileName,
                                        zip::TZAProcessOperation, int nativeError, int,
                                        const std::u16string& message, zip::TZAAction& action) {
        if (failure.engineCode == 0) {
            failure.engineCode = nativeError;
            outcome.file = fileName;
            outcome.message = Ansi(message);
            // The system's reason, for a file or folder the system refused to make.
            if (nativeError == zip::neCannotCreateFile ||
                nativeError == zip::neCannotCreateDirectory || nativeError == zip::neDiskFull)
                outcome.systemError = platform::LastSystemError();
        }
        action = zip::TZAAction::fxaAbort;
    };
    archive_.OnDiskFull = [&](zip::TZABaseArchiver&, int, const std::u16string&, bool& cancel) {
        failure.diskFull = true;
        cancel = true;
    };
    struct Unhook {
        zip::TZipArchive& a;
        ~Unhook() {
            a.OnProcessFileFailure = nullptr;
            a.OnDiskFull = nullptr;
            a.OutputDisk = nullptr;
            a.DurableOutput = false;
        }
    };
    const auto stagingStart = std::chrono::steady_clock::now();
    {
        Unhook unhook{archive_};
        try {
            archive_.ExtractMatching(u"*.*");
        } catch (const zip::EZAException& e) {
            if (failure.engineCode == 0) failure.engineCode = e.NativeError ? e.NativeError : -1;
            outcome.message = Ansi(e.Message());
        } catch (const zip::EFileStreamError& e) {
            // A file stream's own error: a staged file that could not be created or opened.
            if (failure.engineCode == 0) failure.engineCode = -1;
            failure.streamError = e.SystemError();
            outcome.systemError = e.SystemError();
            outcome.message = Ansi(e.Message());
        } catch (const zip::EZAError& e) {
            if (failure.engineCode == 0) failure.engineCode = -1;
            outcome.message = Ansi(e.Message());
        }
    }
    // A staged file that could not be written, stamped or flushed as it must.
    if (const auto& written = archive_.OutputFailure()) {
        if (failure.engineCode == 0 || failure.engineCode == zip::neDiskFull) {
            failure.engineCode = -1;
            failure.streamError = written->status.code;
            outcome.systemError = written->status.code;
            outcome.file = written->file.substr(
                std::min(written->file.size(), journal.StagingFolder().size()));
        }
    }

    bool complete = failure.engineCode == 0 && !failure.diskFull;
    for (std::size_t i = 0; complete && i < plan.files.size(); ++i)
        if (!disk.IsFile(journal.StagingFolder() + plan.files[i].name)) {
            complete = false;
            outcome.file = plan.files[i].name;
        }
    if (!complete) {
        failure.refusedName = failure.engineCode == zip::neCannotCreateFile &&
                              TakesNewFiles(disk, journal.StagingFolder());
        journal.Discard();
        const auto left = disk.FreeBytes(folder);
        failure.lowRoom = left && *left < kMB;
        outcome.engineCode = failure.engineCode;
        outcome.kind = KindOf(failure);
        if (outcome.kind == InstallOutcome::NoRoom) noRoom(left);
        return outcome;
    }

    Log(LogCategory::Phase,
        "staged and checked " + std::to_string(items.size()) + " items, " + Since(stagingStart));
    const auto switchStart = std::chrono::steady_clock::now();
    SwitchFailure switchFailure;
    const bool switched = journal.SwitchOver(plan, switchFailure);
    Log(LogCategory::Phase, std::string(switched ? "switched over " : "switch-over undone, ") +
                                std::to_string(plan.files.size()) + " files, " +
                                Since(switchStart));
    if (!switched) {
        outcome.file = switchFailure.file;
        outcome.systemError = switchFailure.status.code;
        outcome.journal = switchFailure.file.empty();
        outcome.kind =
            switchFailure.restored ? KindOf(switchFailure.status) : InstallOutcome::NotRestored;
        if (outcome.kind == InstallOutcome::NoRoom) noRoom(disk.FreeBytes(folder));
        if (outcome.kind == InstallOutcome::FileInUse && switchFailure.file.empty())
            outcome.kind = InstallOutcome::WriteFailed; // the journal, not a file of Kelvaro
        if (outcome.kind == InstallOutcome::FileInUse)
            outcome.holders = HeldBy(disk, folder + switchFailure.file);
        return outcome;
    }
    // Committed: the update is in place. Leftovers that cannot go now are finished by the
    // next start, which the journal tells.
    journal.Finish();
    LogPlacedFiles(plan, items);
    return outcome;
}

InstallOutcome InstallPayload(zip::TZipArchive& archive, const std::u16string& package,
                              const std::u16string& folder, const std::u16string& programFile,
                              platform::Disk& disk) {
    OpenedPayload payload(archive, package);
    return payload.Install(folder, programFile, disk);
}

} // namespace klv::app
