#include "app/unattended.h"

#include <algorithm>
#include <memory>

#include "app/run_failures.h"
#include "app/run_log.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "util/meldunit.h"
#include "util/texts.h"

namespace klv::app {

namespace {

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

bool ClaimRun() {
    if (!claim) claim = platform::ClaimInstaller();
    return claim != nullptr;
}

void ReleaseRun() {
    claim.reset();
}

void EndAtOnce(Run& run, RunStart start, const CommandLine& line, std::string_view title) {
    platform::WindowSystem& windows = *platform::System().windows;
    const bool shows = run.options.mode != RunMode::VerySilent;
    switch (start) {
    case RunStart::Window:
        return;
    case RunStart::BadSwitch: {
        // Every bad switch is named, the log's line for each and the result's list alike.
        std::u16string bad;
        for (const auto* list : {&line.malformed, &line.unknown})
            for (const std::u16string& argument : *list) {
                Log(LogCategory::Start,
                    (list == &line.unknown ? u"unknown switch " : u"malformed switch ") + argument);
                bad += (bad.empty() ? u"" : u" ") + argument;
            }
        run.End(ExitCode::BadSwitch, "unknown or malformed switch " + platform::Utf16ToAnsi(bad));
        if (shows)
            windows.ShowMessageBox(util::texts::BadSwitch(platform::Utf16ToAnsi(bad)), title,
                                   platform::mbOk | platform::mbIconError);
        return;
    }
    case RunStart::ShowSwitches:
        run.End(ExitCode::Installed, "the switches were shown (/?)");
        if (shows) {
            windows.ShowMessageBox(util::texts::SwitchHelp, title,
                                   platform::mbOk | platform::mbIconInformation);
            return;
        }
        // Nobody to press OK: the list goes to the log.
        for (std::string_view help = util::texts::SwitchHelp; !help.empty();) {
            const std::size_t end = std::min(help.find("\r\n"), help.size());
            if (end > 0) Log(LogCategory::Start, "/? " + std::string(help.substr(0, end)));
            help.remove_prefix(std::min(end + 2, help.size()));
        }
        return;
    case RunStart::AlreadyRunning:
        run.End(ExitCode::AlreadyRunning, "another copy of the installer is running");
        if (run.options.mode == RunMode::Interactive) util::ShowNotice(AlreadyRunningNotice());
        return;
    }
}

int LoggedWindowSystem::ShowMessageBox(std::string_view text, std::string_view caption,
                                       unsigned flags) {
    const bool question = (flags & 0x0F) == platform::mbYesNo;
    std::string line =
        (question ? "[" : "notice [") + std::string(caption) + "] " + std::string(text);
    if (run_.Unattended()) {
        const int answer = question ? platform::idNo : platform::idOk;
        Log(LogCategory::Question, line + " -> " + Answer(answer) + " (unattended, not shown)");
        return answer;
    }
    const int answer = inner_.ShowMessageBox(text, caption, flags);
    Log(LogCategory::Question, line + " -> " + Answer(answer));
    return answer;
}

} // namespace klv::app
