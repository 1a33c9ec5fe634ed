// The installation run's writing part, all or nothing: every payload item is extracted and
// checked into a staging folder inside the installation folder first; only when all are
// intact are the old files moved aside and the new ones moved into place (install_journal.h).
// Whatever fails, the installation folder is left as it was.
#pragma once

#include <cstdint>
#include <string>

#include "app/install_journal.h"
#include "platform/disk.h"

namespace klv::zip {
class TZipArchive;
}

namespace klv::app {

struct InstallOutcome {
    enum Kind {
        Installed,
        Damaged,      // an item failed its checks, the directory was rebuilt, or a name is unusable
        NoRoom,       // the drive lacks the room the payload needs, or filled up while staging
        ProgramInUse, // the old program file is running or held open
        FileInUse,    // another file to be replaced is held open
        NoRights,     // the user may not change a file or the folder
        WriteFailed,  // the staged files could not be written for another reason
        NotRestored,  // a failure whose undo could not put everything back (the journal stays)
        Blocked,      // an earlier run's remains keep the folder closed (see `recovery`)
    };
    Kind kind = Installed;
    RecoveryResult recovery = RecoveryResult::Nothing; // for Blocked
    std::u16string file;                               // the file concerned, relative to the folder
    std::uint64_t neededMB = 0; // for NoRoom: what the payload needs and what the drive has
    std::uint64_t availableMB = 0;
    std::string message; // the engine's message, 8-bit ANSI, when it gave one
};

// Installs every item of the package's payload into `folder` (with a trailing '\').
// `programFile` is the program file's name relative to the folder when the run replaces it
// (a program upgrade), else empty: when it is there and in use, nothing is done. `archive`
// is the window's archive component; it is opened and closed here.
// Every change on the disk goes through `disk`.
InstallOutcome InstallPayload(zip::TZipArchive& archive, const std::u16string& package,
                              const std::u16string& folder, const std::u16string& programFile,
                              platform::Disk& disk = platform::SystemDisk());

// The Dutch notice for a failed outcome (8-bit ANSI); empty for Installed and ProgramInUse,
// whose message the caller builds.
std::string FailureNotice(const InstallOutcome& outcome, const std::string& folder);

// The Dutch notice for what the recovery of an earlier run found in `folder`; empty for
// Nothing.
std::string RecoveryNotice(RecoveryResult result, const std::string& folder);
// The notice of a package the engine cannot read, or that fails its checks.
std::string DamagedPackageNotice();
// The notice of a second copy while another runs.
std::string AlreadyRunningNotice();

} // namespace klv::app
