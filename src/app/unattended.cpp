#include "app/unattended.h"

#include <memory>

#include "app/run_log.h"
#include "platform/disk.h"
#include "util/texts.h"

namespace klv::app {

RunOptions Options;

namespace {

ExitCode endCode = ExitCode::Cancelled;
std::string endReason;
std::unique_ptr<platform::InstallerClaim> claim;

std::string Answer(int answer) {
    switch (answer) {
    case platform::idOk:
        return "OK";
    case platform::idYes:
        return std::string(util::texts::YesWord);
    case platform::idNo:
        return std::string(util::texts::NoWord);
    case platform::idCancel:
        return std::string(util::texts::ClosedAnswer);
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

bool ClaimRun() {
    if (!claim) claim = platform::ClaimInstaller();
    return claim != nullptr;
}

void ReleaseRun() {
    claim.reset();
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
