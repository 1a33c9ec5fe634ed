#include "app/unattended.h"

#include "app/run_log.h"

namespace klv::app {

RunOptions Options;

namespace {

ExitCode endCode = ExitCode::Cancelled;
std::string endReason;

std::string Answer(int answer) {
    switch (answer) {
    case platform::idOk:
        return "OK";
    case platform::idYes:
        return "Ja";
    case platform::idNo:
        return "Nee";
    case platform::idCancel:
        return "gesloten";
    default:
        return std::to_string(answer);
    }
}

} // namespace

ExitCode RunExitCode() {
    return endCode;
}

void EndRun(ExitCode code, std::string_view reason) {
    endCode = code;
    endReason = std::string(reason);
}

const std::string& RunEndReason() {
    return endReason;
}

void ResetRunEnd() {
    endCode = ExitCode::Cancelled;
    endReason.clear();
}

ExitCode ExitCodeFor(const InstallOutcome& outcome) {
    switch (outcome.kind) {
    case InstallOutcome::Installed:
        return ExitCode::Installed;
    case InstallOutcome::Damaged:
        return ExitCode::DamagedPackage;
    case InstallOutcome::NoRoom:
        return ExitCode::NoRoom;
    case InstallOutcome::ProgramInUse:
        return ExitCode::InUse;
    case InstallOutcome::FileInUse:
        return ExitCode::InUse;
    case InstallOutcome::NoRights:
        return ExitCode::NoRights;
    case InstallOutcome::WriteFailed:
        return ExitCode::NoRoom;
    case InstallOutcome::NotRestored:
        return ExitCode::NotRestored;
    case InstallOutcome::Blocked:
        // Another run holds the folder's journal, or an earlier run's remains close it.
        return outcome.recovery == RecoveryResult::Busy ? ExitCode::AlreadyRunning
                                                        : ExitCode::NotRestored;
    }
    return ExitCode::UnexpectedError;
}

void LogRecovery(RecoveryResult result, const std::string& folder) {
    const char* what = "";
    switch (result) {
    case RecoveryResult::Nothing:
        return;
    case RecoveryResult::Restored:
        what = "an interrupted earlier update was undone";
        break;
    case RecoveryResult::Completed:
        what = "an interrupted earlier update was finished";
        break;
    case RecoveryResult::Incomplete:
        what = "an interrupted earlier update could not be undone wholly; its journal stays";
        break;
    case RecoveryResult::Unreadable:
        what = "an earlier update's journal cannot be read";
        break;
    case RecoveryResult::OrphanBackup:
        what = "an earlier update's backup folder without a journal is kept";
        break;
    case RecoveryResult::Busy:
        what = "another update is running in this folder";
        break;
    }
    Log(LogCategory::Recovery, std::string(what) + ": " + folder);
}

int LoggedWindowSystem::ShowMessageBox(std::string_view text, std::string_view caption,
                                       unsigned flags) {
    const bool question = (flags & 0x0F) == platform::mbYesNo;
    std::string line =
        (question ? "[" : "notice [") + std::string(caption) + "] " + std::string(text);
    if (Unattended()) {
        const int answer = question ? platform::idNo : platform::idOk;
        Log(LogCategory::Question, line + " -> " + Answer(answer) + " (unattended, not shown)");
        return answer;
    }
    const int answer = inner_.ShowMessageBox(text, caption, flags);
    Log(LogCategory::Question, line + " -> " + Answer(answer));
    return answer;
}

} // namespace klv::app
