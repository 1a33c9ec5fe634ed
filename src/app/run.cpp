#include "app/run.h"

#include "platform/text.h"

namespace klv::app {

Run Run::FromCommandLine(const CommandLine& line,
                         const std::function<std::string(std::u16string_view)>& absolute) {
    RunOptions options;
    if (line.verySilent)
        options.mode = RunMode::VerySilent;
    else if (line.silent)
        options.mode = RunMode::Silent;
    options.noStart = line.noStart;
    options.elevated = line.elevated;
    options.closeApplications = line.closeApplications;
    if (line.dir) options.folder = absolute(*line.dir);
    return Run(std::move(options));
}

RunStart Run::StartOf(const CommandLine& line, bool claimed) {
    if (!line.Ok()) return RunStart::BadSwitch;
    if (line.help) return RunStart::ShowSwitches;
    return claimed ? RunStart::Window : RunStart::AlreadyRunning;
}

void Run::End(ExitCode code, std::string_view reason) {
    code_ = code;
    reason_ = std::string(reason);
}

void Run::Fail(ExitCode code, std::string_view reason) {
    if (failed_) return;
    failed_ = true;
    End(code, reason);
}

std::string Run::ResultLine() const {
    const std::string_view name = ExitName(code_);
    std::string line = std::string(name) + " (exit code " + std::to_string(ExitValue()) + ")";
    if (!reason_.empty() && reason_ != name) line += ": " + reason_;
    return line;
}

std::u16string Run::HandOverArguments(std::string_view folder) const {
    CommandLine next;
    next.verySilent = options.mode == RunMode::VerySilent;
    next.silent = options.mode == RunMode::Silent;
    next.noStart = options.noStart;
    next.closeApplications = options.closeApplications;
    next.dir = platform::AnsiToUtf16(folder);
    if (!options.log.empty()) next.log = options.log;
    return RelaunchArguments(next);
}

} // namespace klv::app
