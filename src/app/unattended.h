// Runs that nobody answers, and how every run ends: the run mode the command line chose, the
// exit code each way out records, and the message boxes as the run's log sees them (every
// box and its answer logged; in a silent run none shown, each answered with its safe answer).
#pragma once

#include <string>
#include <string_view>

#include "app/exit_codes.h"
#include "platform/system.h"

namespace klv::app {

enum class RunMode {
    Interactive, // a person answers the window and its boxes
    Silent,      // /SILENT: the window shows the run; nothing is asked, no box is shown
    VerySilent,  // /VERYSILENT: no window and no box at all
};

struct RunOptions {
    RunMode mode = RunMode::Interactive;
    bool noStart = false;  // /NOSTART: Kelvaro is never started afterwards
    std::string folder;    // /DIR: the target folder instead of the one found (8-bit ANSI),
                           // made absolute at the start against the folder the package was
                           // started from
    bool elevated = false; // /ELEVATED: this copy was started as administrator by another
};

// The options of this process's run, set once from the command line before the window is made.
extern RunOptions Options;

inline bool Unattended() {
    return Options.mode != RunMode::Interactive;
}

// The exit code of the run so far: how it ends if nothing else is recorded. Starts as
// Cancelled (the window closed by the user); every other way out records its own.
ExitCode RunExitCode();
// Records how the run ends, and why, for the exit code and the log's result line.
void EndRun(ExitCode code, std::string_view reason);
// The reason EndRun was given last (8-bit ANSI), empty before.
const std::string& RunEndReason();
// Back to the start (Cancelled, no reason): for a new run in the same process (tests).
void ResetRunEnd();

// The one installer run on this machine, claimed once for the process before anything is
// written (the log included) and held until the process ends: true when this process holds
// it (now or from an earlier call), false when another copy does.
bool ClaimRun();
// Gives the claim up: the copy started as administrator takes the run over.
void ReleaseRun();

// The window system as the run's boxes pass through it: each box's text, title and answer
// go to the log; in a silent run no box is shown and each gets its safe answer: OK for a
// notice, No for a question. The questions whose safe answer is not No are answered by the
// window's logic before they reach a box.
class LoggedWindowSystem final : public platform::WindowSystem {
  public:
    explicit LoggedWindowSystem(platform::WindowSystem& inner) : inner_(inner) {}
    int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    void ProcessMessages() override { inner_.ProcessMessages(); }
    void SetCursorShape(platform::Cursor cursor) override { inner_.SetCursorShape(cursor); }
    void Terminate() override { inner_.Terminate(); }

  private:
    platform::WindowSystem& inner_;
};

} // namespace klv::app
