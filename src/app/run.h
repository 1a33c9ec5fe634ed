// One installer run, from the program entry to its exit code: what the command line asked
// for, read once at the entry, and how the run ended. The entry makes it and hands it to the
// window's logic, which records every way out here; the process ends with its exit code.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/exit_codes.h"

namespace klv::app {

enum class RunMode {
    Interactive, // a person answers the window and its boxes
    Silent,      // /SILENT: the window shows the run; nothing is asked, no box is shown
    VerySilent,  // /VERYSILENT: no window and no box at all
};

// What the command line chose for the run.
struct RunOptions {
    RunMode mode = RunMode::Interactive;
    bool noStart = false;  // /NOSTART: Kelvaro is never started afterwards
    std::string folder;    // /DIR: the target folder instead of the one found (8-bit ANSI),
                           // absolute (made so against the folder the package was started
                           // from); empty when not given, or when it has no ANSI name
    bool elevated = false; // /ELEVATED: this copy was started as administrator by another
    std::u16string log;    // the log this run writes, once opened; empty for none
    // /CLOSEAPPLICATIONS: the programs that hold files the run replaces are asked to close
    // (never forced) and started again after the run, unless /NOSTART (closed_programs.h).
    bool closeApplications = false;
};

// What the run learns and changes while it goes: one value, owned by the Run, that the window
// and its dialogs read and write. Nothing else of the run lives in process-wide state.
struct RunContext {
    // Set once when the payload holds an item matching "*stub.ini" (a configured package);
    // never cleared. With the caption it gives the package's kind (stubconf::KindOfPackage).
    bool StubConfigFound = false;
    // True until the window's first paint has started its one-time work.
    bool FirstPaint = true;
    // The index the choice dialog's buttons set: the chosen entry, or -1 for the cancel button.
    int ChosenIndex = 0;
    // True while no drive search runs; a search runs while it is false. Setting it during a
    // search makes every later folder return at once (util::SearchInstallations).
    bool SearchStopFlag = true;
    // The web browser's program path, found on first need by util::OpenDocument and kept.
    std::string CachedBrowserPath;

    // Test hooks; none in a shipped program.
    // Called when the first paint's one-time work begins (test builds raise a failure there
    // that is no engine error).
    std::function<void()> FirstPaintHook;
    // Answers for the token's elevation instead of the system (under Wine every process is
    // elevated).
    std::function<bool()> TokenElevatedHook;
};

// How the entry goes on once the command line is read.
enum class RunStart {
    Window,         // the window carries the run (shown or not)
    BadSwitch,      // an unknown or malformed switch: nothing is done (exit 10)
    ShowSwitches,   // /?: the list of switches, and nothing else (exit 0)
    AlreadyRunning, // another copy holds the machine's run (exit 7)
};

class Run {
  public:
    // An interactive run, as a double-click starts one.
    Run() = default;
    explicit Run(RunOptions options) : options(std::move(options)) {}

    // The run `line` asks for: /VERYSILENT wins over /SILENT; a /DIR= folder is made
    // absolute, in the ANSI code page, by `absolute` (empty when the folder has no name there:
    // the caller refuses the switch).
    static Run FromCommandLine(const CommandLine& line,
                               const std::function<std::string(std::u16string_view)>& absolute);

    // What the entry does: a bad switch ends the run before /? is looked at, and both before
    // a second copy is told it is one (`claimed`: this process holds the machine's run).
    static RunStart StartOf(const CommandLine& line, bool claimed);

    RunOptions options;
    RunContext context;

    bool Unattended() const { return options.mode != RunMode::Interactive; }
    // Whether the run starts without a click once the window is there: the silent modes, and
    // the copy the run was handed over to.
    bool StartsByItself() const { return Unattended() || options.elevated; }

    // Records how the run ends, and why (8-bit ANSI, for the log's result line); a later way
    // out replaces an earlier one. Until the first, the run ends as the user's cancel.
    void End(ExitCode code, std::string_view reason);
    // Records a failure that ends the run, unless one already did: the first failure is the
    // one reported.
    void Fail(ExitCode code, std::string_view reason);
    bool Failed() const { return failed_; }
    ExitCode Code() const { return code_; }
    const std::string& Reason() const { return reason_; }
    int ExitValue() const { return app::ExitValue(code_); }
    // The log's last line: the ending's name, its exit code and the reason.
    std::string ResultLine() const;

    // The switches of the copy started as administrator to take the run over into `folder`:
    // the mode, /NOSTART, /CLOSEAPPLICATIONS, /LOG (this run's log) and /DIR, quoted
    // (RelaunchArguments).
    std::u16string HandOverArguments(std::string_view folder) const;

  private:
    ExitCode code_ = ExitCode::Cancelled;
    std::string reason_;
    bool failed_ = false;
};

} // namespace klv::app
