// How each way an installation run fails is told, in one place: its Dutch notice, its exit
// code and its line in the run's log. Staging and the switch-over name the failure (an
// InstallOutcome kind); nothing else sorts engine or system codes.
#pragma once

#include <exception>
#include <string>

#include "app/exit_codes.h"
#include "app/install_journal.h"
#include "app/staged_install.h"
#include "platform/disk.h"

namespace klv::app {

struct FailureReport {
    ExitCode code = ExitCode::Installed;
    std::string notice;  // the Dutch notice (8-bit ANSI); empty for Installed
    std::string logLine; // the log's failure line: the failure, the engine's code, the
                         // Windows error number and the item; empty for Installed
};

// `folder` as the user gave it; `programFile` the old program file's full path (the notice
// of ProgramInUse names it).
FailureReport ReportFailure(const InstallOutcome& outcome, const std::string& folder,
                            const std::string& programFile = {});

// The parts of the report, for callers that need one.
ExitCode ExitCodeFor(const InstallOutcome& outcome);
// An exception that ends a run: an archive that cannot be read is a damaged package, anything
// else unexpected.
ExitCode ExitCodeFor(std::exception_ptr error);
std::string FailureNotice(const InstallOutcome& outcome, const std::string& folder,
                          const std::string& programFile = {});

// What an exception of the engine or of a file stream tells: the engine's code (0 when it
// gave none), the system's error of a file stream (0 for none) and the message (8-bit ANSI).
// Any other exception goes on to the caller.
struct CaughtFailure {
    int engineCode = 0;
    int streamError = 0;
    std::string message;
};
CaughtFailure FailureOf(std::exception_ptr error);

// The named failure of a change on the disk that failed with `status`.
InstallOutcome::Kind KindOf(const platform::DiskStatus& status);

// What staging found when it ended early, and the failure it is.
struct StagingFailure {
    int engineCode = 0;       // the engine's native code of the first failed item, or -1
    int streamError = 0;      // the system's error of a staged file that could not be made
    bool diskFull = false;    // the engine met a full drive
    bool lowRoom = false;     // less than a megabyte is left on the drive
    bool refusedName = false; // the engine could not create a file, yet the drive takes new ones
};
InstallOutcome::Kind KindOf(const StagingFailure& failure);

// The Dutch notice for what the recovery of an earlier run found in `folder`; empty for
// Nothing.
std::string RecoveryNotice(RecoveryResult result, const std::string& folder);
// The notice of a package the engine cannot read, or that fails its checks.
std::string DamagedPackageNotice();
// The notice of a second copy while another runs.
std::string AlreadyRunningNotice();

} // namespace klv::app
