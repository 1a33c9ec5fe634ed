#include "app/run_failures.h"

#include "platform/file_stream.h"
#include "platform/text.h"
#include "util/texts.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

// Each named failure: its exit code and how the log names it.
struct FailureRow {
    InstallOutcome::Kind kind;
    ExitCode code;
    const char* name;
};

constexpr FailureRow kFailures[] = {
    {InstallOutcome::Ok, ExitCode::Installed, "installed"},
    {InstallOutcome::Damaged, ExitCode::DamagedPackage, "damaged package"},
    {InstallOutcome::NoRoom, ExitCode::NoRoom, "not enough room"},
    {InstallOutcome::ProgramInUse, ExitCode::InUse, "Kelvaro in use"},
    {InstallOutcome::FileInUse, ExitCode::InUse, "file in use"},
    {InstallOutcome::NoRights, ExitCode::NoRights, "no rights"},
    {InstallOutcome::WriteFailed, ExitCode::NoRoom, "write failed"},
    {InstallOutcome::NotRestored, ExitCode::NotRestored, "not restored"},
    {InstallOutcome::Blocked, ExitCode::NotRestored, "folder closed by an earlier update"},
};

const FailureRow& RowOf(InstallOutcome::Kind kind) {
    for (const FailureRow& row : kFailures)
        if (row.kind == kind) return row;
    static constexpr FailureRow unknown{InstallOutcome::WriteFailed, ExitCode::UnexpectedError,
                                        "unexpected"};
    return unknown;
}

// The item as the payload names it, not the staging path the engine wrote to.
std::string ItemName(const std::u16string& file) {
    std::string item = platform::Utf16ToAnsi(file);
    const std::string staging = platform::Utf16ToAnsi(StagingFolderName) + "\\";
    if (const std::size_t at = item.find(staging); at != std::string::npos)
        item = item.substr(at + staging.size());
    return item;
}

std::string LogLine(const InstallOutcome& outcome) {
    std::string line = RowOf(outcome.kind).name;
    if (outcome.kind == InstallOutcome::Blocked && outcome.recovery == RecoveryResult::Busy)
        line = "another update is running in the folder";
    line += ": engine code " + std::to_string(outcome.engineCode);
    line += ", Windows-fout " + std::to_string(outcome.systemError);
    if (const std::string name = platform::SystemErrorName(outcome.systemError); !name.empty())
        line += ", " + name;
    if (outcome.journal)
        line += ", item: the run's journal";
    else
        line +=
            ", item: " + (outcome.file.empty() ? std::string("(none)") : ItemName(outcome.file));
    if (outcome.kind == InstallOutcome::NoRoom)
        line += ", needed " + std::to_string(outcome.neededMB) + " MB, available " +
                std::to_string(outcome.availableMB) + " MB";
    if (!outcome.holders.empty()) line += ", held by " + outcome.holders;
    if (!outcome.message.empty()) line += "; " + outcome.message;
    return line;
}

} // namespace

ExitCode ExitCodeFor(const InstallOutcome& outcome) {
    // Another run holds the folder's journal: it is not cut off, only busy.
    if (outcome.kind == InstallOutcome::Blocked && outcome.recovery == RecoveryResult::Busy)
        return ExitCode::AlreadyRunning;
    return RowOf(outcome.kind).code;
}

ExitCode ExitCodeFor(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const zip::EZAError&) {
        return ExitCode::DamagedPackage;
    } catch (...) {
        return ExitCode::UnexpectedError;
    }
}

CaughtFailure FailureOf(std::exception_ptr error) {
    CaughtFailure caught;
    try {
        std::rethrow_exception(error);
    } catch (const zip::EZAException& e) {
        caught.engineCode = e.NativeError;
        caught.systemError = e.SystemError;
        caught.message = platform::Utf16ToAnsi(e.Message());
    } catch (const zip::EFileStreamError& e) {
        caught.streamError = e.SystemError();
        caught.systemError = e.SystemError();
        caught.stream = true;
        caught.message = platform::Utf16ToAnsi(e.Message());
    } catch (const zip::EZAError& e) {
        caught.message = platform::Utf16ToAnsi(e.Message());
    }
    return caught;
}

std::string FailureNotice(const InstallOutcome& outcome, const std::string& folder,
                          const std::string& programFile) {
    const std::string file = platform::Utf16ToAnsi(outcome.file);
    switch (outcome.kind) {
    case InstallOutcome::Ok:
        break;
    case InstallOutcome::Damaged:
        return DamagedPackageNotice();
    case InstallOutcome::NoRoom:
        return util::texts::NoRoom(folder, outcome.neededMB, outcome.availableMB);
    case InstallOutcome::ProgramInUse:
        return util::texts::DeleteFailed(programFile);
    case InstallOutcome::FileInUse:
        return util::texts::FileInUse(file);
    case InstallOutcome::WriteFailed:
        return util::texts::NotUnpacked(folder, ItemName(outcome.file));
    case InstallOutcome::NoRights:
        return util::texts::NoRights(folder, file);
    case InstallOutcome::Blocked:
        return RecoveryNotice(outcome.recovery, folder);
    case InstallOutcome::NotRestored:
        return util::texts::NotRestored(file);
    }
    return {};
}

FailureReport ReportFailure(const InstallOutcome& outcome, const std::string& folder,
                            const std::string& programFile) {
    FailureReport report;
    report.code = ExitCodeFor(outcome);
    if (outcome.kind == InstallOutcome::Ok) return report;
    report.notice = FailureNotice(outcome, folder, programFile);
    report.logLine = LogLine(outcome);
    return report;
}

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

namespace {

// The extraction's failure as one: a staged file the output could not write, stamp or flush
// stands for the engine's error when the engine gave none, or only its short write.
struct StagingFailure {
    int engineCode = 0;
    int streamError = 0;
    int systemError = 0;
    std::u16string file;
};

StagingFailure FirstFailure(const ExtractionResult& result) {
    StagingFailure failure{result.engineCode, result.streamError, result.systemError, result.file};
    if (result.output && (failure.engineCode == 0 || failure.engineCode == zip::neDiskFull)) {
        failure.engineCode = -1;
        failure.streamError = result.output->status.code;
        failure.systemError = result.output->status.code;
        failure.file = result.output->file;
    }
    if (failure.engineCode == 0 && !result.diskFull && !result.missing.empty())
        failure.file = result.missing;
    return failure;
}

InstallOutcome::Kind StagingKind(const StagingFailure& failure, bool diskFull, bool lowRoom,
                                 bool refusedName) {
    const platform::DiskFailure stream = failure.streamError
                                             ? platform::FailureOf(failure.streamError)
                                             : platform::DiskFailure::None;
    if (diskFull || lowRoom || stream == platform::DiskFailure::Full) return InstallOutcome::NoRoom;
    if (stream == platform::DiskFailure::Denied) return InstallOutcome::NoRights;
    // What the payload itself is to blame for: an item that fails its checks, cannot be
    // unpacked or read, or a name the drive refuses while it takes other new files.
    switch (failure.engineCode) {
    case 0:
    case zip::neNotIntact:
    case zip::neDeflate64:
    case zip::neInvalidPassword:
        return InstallOutcome::Damaged;
    default:
        return refusedName ? InstallOutcome::Damaged : InstallOutcome::WriteFailed;
    }
}

} // namespace

bool AsksForNewFiles(const ExtractionResult& result) {
    return FirstFailure(result).engineCode == zip::neCannotCreateFile;
}

InstallOutcome StagingOutcome(const ExtractionResult& result, bool takesNewFiles, bool lowRoom) {
    const StagingFailure failure = FirstFailure(result);
    InstallOutcome outcome;
    outcome.kind = StagingKind(failure, result.diskFull, lowRoom,
                               failure.engineCode == zip::neCannotCreateFile && takesNewFiles);
    outcome.engineCode = failure.engineCode;
    outcome.systemError = failure.systemError;
    outcome.file = failure.file;
    outcome.message = result.message;
    return outcome;
}

bool ConfigurationNotWritten(std::exception_ptr error,
                             const std::function<bool()>& folderTakesFiles) {
    const CaughtFailure caught = FailureOf(error);
    if (caught.engineCode == zip::neDiskFull) return true;
    if (!caught.stream && caught.engineCode != zip::neCannotCreateFile &&
        caught.engineCode != zip::neCannotCreateDirectory)
        return false;
    return !folderTakesFiles();
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
    case RecoveryResult::Unfinished:
        return util::texts::EarlierRunUnfinished(shown);
    case RecoveryResult::Unreadable:
    case RecoveryResult::Untrusted: // as unreadable: it cannot be taken as written by a run
        return util::texts::EarlierRunUnreadable(shown);
    case RecoveryResult::OrphanBackup:
        return util::texts::OrphanBackup(shown,
                                         shown + "\\" + platform::Utf16ToAnsi(BackupFolderName));
    case RecoveryResult::Busy:
        return AlreadyRunningNotice();
    }
    return {};
}

} // namespace klv::app
