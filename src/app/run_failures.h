// How each way an installation run fails is told, in one place: its Dutch notice, its exit
// code and its line in the run's log. The extraction's one result, a disk status and an
// exception are sorted into an InstallOutcome kind here; nothing else sorts engine or system
// codes.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "app/exit_codes.h"
#include "app/extraction.h"
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
// gave none), the system's error of a file stream (0 for none), the system's error of the
// call that failed as the exception carries it (0 when none) and the message (8-bit ANSI).
// Any other exception goes on to the caller.
struct CaughtFailure {
    int engineCode = 0;
    int streamError = 0;
    int systemError = 0;
    bool stream = false; // a file stream's error
    std::string message;
};
CaughtFailure FailureOf(std::exception_ptr error);

// The named failure of a change on the disk that failed with `status`.
InstallOutcome::Kind KindOf(const platform::DiskStatus& status);

// Whether an extraction that ended early must know if the staging folder still takes new
// files: the engine could not create a file, which is the payload's fault (a name the drive
// refuses) only while the folder takes others.
bool AsksForNewFiles(const ExtractionResult& result);
// The failure an extraction that ended early is: its kind, the engine's code, the system's
// error, the file and the message. `takesNewFiles` answers the question above (false when not
// asked); `lowRoom`: less than a megabyte is left on the drive.
InstallOutcome StagingOutcome(const ExtractionResult& result, bool takesNewFiles, bool lowRoom);

// Whether an engine error while writing the configuration files into the temporary folder is
// the folder's (full, or no rights there), not the package's: a name it refuses while the
// folder takes new files is the package's. `folderTakesFiles` is asked only when it decides.
bool ConfigurationNotWritten(std::exception_ptr error,
                             const std::function<bool()>& folderTakesFiles);

// The Dutch notice for what the recovery of an earlier run found in `folder`; empty for
// Nothing.
std::string RecoveryNotice(RecoveryResult result, const std::string& folder);
// The notice of a package the engine cannot read, or that fails its checks.
std::string DamagedPackageNotice();
// The notice of a second copy while another runs.
std::string AlreadyRunningNotice();

} // namespace klv::app
