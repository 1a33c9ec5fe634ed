// Runs that nobody answers: the machine's one run, and the message boxes as the run's log sees
// them (every box and its answer logged; in a silent run none shown, each answered with its
// safe answer).
#pragma once

#include <string>
#include <string_view>

#include "app/run.h"
#include "platform/system.h"

namespace klv::app {

// The one installer run on this machine, claimed once for the process before anything is
// written (the log included) and held until the process ends: true when this process holds
// it (now or from an earlier call), false when another copy does.
bool ClaimRun();
// Gives the claim up: the copy started as administrator takes the run over.
void ReleaseRun();

// Ends `run` as the command line asks before any window (`start` is not Window): a bad
// switch (exit 10) and /? (exit 0) with a box titled `title`, or with none in a very silent
// run (the switch list then goes to the log); a second copy (exit 7) with the notice, in an
// interactive run only.
void EndAtOnce(Run& run, RunStart start, const CommandLine& line, std::string_view title);

// The window system as the run's boxes pass through it: each box's text, title and answer
// go to the log; in a silent run no box is shown and each gets its safe answer: OK for a
// notice, No for a question. The questions whose safe answer is not No are answered by the
// window's logic before they reach a box.
class LoggedWindowSystem final : public platform::WindowSystem {
  public:
    // `run` (which must outlive this) tells whether the run is unattended.
    LoggedWindowSystem(platform::WindowSystem& inner, const Run& run) : inner_(inner), run_(run) {}
    int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    void ProcessMessages() override { inner_.ProcessMessages(); }
    void SetCursorShape(platform::Cursor cursor) override { inner_.SetCursorShape(cursor); }
    void Terminate() override { inner_.Terminate(); }

  private:
    platform::WindowSystem& inner_;
    const Run& run_;
};

} // namespace klv::app
