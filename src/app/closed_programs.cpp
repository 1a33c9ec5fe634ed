#include "app/closed_programs.h"

#include <algorithm>

#include "app/run_log.h"
#include "util/system_access.h"

namespace klv::app {

namespace {

std::string Named(const platform::HoldingProgram& program) {
    return program.name + " (process " + std::to_string(program.process) + ")";
}

bool Among(const std::vector<platform::HoldingProgram>& programs,
           const platform::HoldingProgram& program) {
    return std::any_of(programs.begin(), programs.end(), [&](const platform::HoldingProgram& p) {
        return p.process == program.process;
    });
}

} // namespace

ClosedPrograms::ClosedPrograms(const std::vector<std::string>& files) {
    const std::string count = std::to_string(files.size()) + " files to replace";
    if (!files.empty()) session_ = util::sys::Programs().Session(files);
    if (!session_) {
        Log(LogCategory::Check,
            "/CLOSEAPPLICATIONS: " + std::string(files.empty() ? "no " + count
                                                               : "the system cannot tell who "
                                                                 "holds the " +
                                                                     count));
        return;
    }
    const std::vector<platform::HoldingProgram> holders = session_->Holders();
    if (holders.empty()) {
        Log(LogCategory::Check, "/CLOSEAPPLICATIONS: no program holds the " + count);
        return;
    }
    for (const platform::HoldingProgram& holder : holders)
        Log(LogCategory::Check, "held by " + Named(holder) + ": asked to close");
    const int result = session_->Close();
    // Whoever still holds a file refused (or did not answer): it is left running.
    const std::vector<platform::HoldingProgram> left =
        result == 0 ? std::vector<platform::HoldingProgram>{} : session_->Holders();
    for (const platform::HoldingProgram& holder : holders) {
        if (Among(left, holder)) {
            Log(LogCategory::Check, Named(holder) + " did not close (Windows-fout " +
                                        std::to_string(result) +
                                        "); it is left running, not forced");
        } else {
            Log(LogCategory::Phase, "closed " + Named(holder));
            closed_.push_back(holder);
        }
    }
}

void ClosedPrograms::Restart(bool noStart) {
    if (closed_.empty()) return;
    if (noStart) {
        for (const platform::HoldingProgram& program : closed_)
            Log(LogCategory::Phase, "not started again (/NOSTART): " + Named(program));
        return;
    }
    const int result = session_->Restart();
    for (const platform::HoldingProgram& program : closed_)
        Log(LogCategory::Phase,
            (result == 0 ? "started again: "
                         : "not started again (Windows-fout " + std::to_string(result) + "): ") +
                Named(program));
}

} // namespace klv::app
