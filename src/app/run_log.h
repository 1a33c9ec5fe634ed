// The run's log: a plain UTF-8 text file, one line per event, each with the local time to the
// millisecond and a category, for the people who support, script and package the installer.
// By default %TEMP%\klvupgrade.log; /LOG names another file (its folder is made when missing). Each
// run starts a new file and the earlier runs' logs move one place down (klvupgrade.log ->
// klvupgrade.1.log -> ...). Only this installer's own logs (known by their first line) are ever
// moved or removed: a file of the user's at one of those names stays as it is, and a file at the
// log's own name that is not a log of ours, or that cannot be moved aside, is left alone and gets
// no lines. A log never blocks the run: a device (COM1, \\.\..., "nul.txt") is refused by its
// name and never opened, and only a plain file on a disk is read or written. A log that cannot be
// written is no failure: every error is swallowed and the run goes on exactly as without a log.
//
// A file keeps room for the end of its run whatever the size of the payload: past its bound less
// a reserve, only failures and the result are written (the lines left out are counted), and the
// result line is always written, the last line of the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

namespace klv::app {

enum class LogCategory {
    Start,    // the program, its version, the command line and its switches
    Package,  // the package: name, size, caption, version, signature, run mode
    Folder,   // the target folder and how it was found
    Question, // a question and its answer (or the answer given for it when unattended)
    Check,    // a check before the run: room, files in use, version
    Phase,    // a phase of the run with its counts and duration
    Recovery, // what undoing an interrupted earlier run did
    Failure,  // the engine's code, the Windows error and the item of a failure
    Result,   // how the run ended, with its exit code
};

// The name a category has in the log ("folder").
std::string_view CategoryName(LogCategory category);

struct LogLimits {
    std::int64_t maxBytes = 512 * 1024; // one file's size, the result line aside
    int keep = 5;                       // files kept: this run's and the 4 before it
    // Go on in the file of the copy that started this one (the relaunch as administrator):
    // nothing is rotated or made, the lines are appended to it when it is a log of ours that
    // no link leads to (the copy as administrator writes nothing a link could send elsewhere).
    bool carryOn = false;
    // The end of maxBytes kept for failures (at most a quarter of it): other lines stop before.
    std::int64_t reserveBytes = 32 * 1024;
};

// Why `path` is never opened as a log: a device name as any part ("COM1", "C:\x\nul.txt"), a
// path to the system's device space ("\\.\PIPE\x", "\\?\GLOBALROOT\Device\x"; "\\?\C:\x" and
// "\\?\UNC\server\x" name files), or a ':' other than a drive's (a stream). Nothing when the
// path may name a file.
std::optional<std::u16string> LogPathProblem(std::u16string_view path);

class RunLog {
  public:
    // Rotates the logs at `path` and starts a new file there, all through `disk`. An empty path
    // writes nothing.
    explicit RunLog(std::u16string path, LogLimits limits = {},
                    platform::Disk& disk = platform::SystemDisk());
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // One line, `text` in the ANSI code page (as all of the installer's texts are); CR and LF
    // inside it become blanks. Never fails.
    void Line(LogCategory category, std::string_view text) noexcept;
    // The same with UTF-16 text (item names as the archive gives them).
    void Line(LogCategory category, std::u16string_view text) noexcept;
    // Lines of one category, the same as one by one, in one write where they fit.
    void Lines(LogCategory category, const std::vector<std::u16string>& texts) noexcept;

    // True while lines reach the file.
    bool Writing() const { return writing_; }
    // True when a file at the path is not a log of ours, or could not be moved aside: it was
    // left as it was, and this log writes nothing.
    bool LeftAlone() const { return leftAlone_; }
    // Why this log writes nothing, following the path ("names the device COM1, ..."); empty
    // while it writes, and for an empty path.
    const std::u16string& Refusal() const { return refusal_; }
    const std::u16string& Path() const { return path_; }

    // %TEMP%\klvupgrade.log.
    static std::u16string DefaultPath();
    // The name of the n-th older log: "klvupgrade.log" -> "klvupgrade.2.log"; a name without
    // an extension gets ".2" appended.
    static std::u16string RotatedPath(const std::u16string& path, int n);
    // True when the file at `path` is a log this installer wrote: its first line is a start
    // line as Line writes it.
    static bool IsOwnLog(platform::Disk& disk, const std::u16string& path);

  private:
    // Starts the file; the reason when it cannot.
    std::optional<std::u16string> Start();
    void Write(LogCategory category, const std::string& utf8);
    // Appends `line` when the file stays within `bound` (negative: no bound).
    bool Append(const std::string& line, std::int64_t bound);
    // Moves the earlier logs one place down; false when the name of this run's file is not free.
    bool Rotate();

    std::u16string path_;
    LogLimits limits_;
    platform::Disk& disk_;
    bool writing_ = false;
    bool leftAlone_ = false;
    std::u16string refusal_;
    bool reserveReached_ = false; // only failures and the result are written
    std::int64_t leftOut_ = 0;    // lines not written since
};

// The log of a run at `path` (carrying on the starting copy's file with `carryOn`). When no log
// can be written there, the log is the default one instead, and `refusal` says why the path
// was not taken (RunLog::Refusal, to follow the path in the run's line about it); else empty.
std::unique_ptr<RunLog> OpenRunLog(const std::u16string& path, bool carryOn,
                                   std::u16string& refusal,
                                   platform::Disk& disk = platform::SystemDisk());

// The log of this process's run, for the code that has no way to be handed one; lines go
// nowhere while none is set.
void SetRunLog(RunLog* log);
void Log(LogCategory category, std::string_view text) noexcept;
void Log(LogCategory category, std::u16string_view text) noexcept;
void LogLines(LogCategory category, const std::vector<std::u16string>& texts) noexcept;

// "N ms": the time since `start`, as the log gives durations.
inline std::string Since(std::chrono::steady_clock::time_point start) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count()) +
           " ms";
}

} // namespace klv::app
