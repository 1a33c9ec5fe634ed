// The installation run's writing part, all or nothing: every payload item is extracted and
// checked into a staging folder inside the installation folder first; only when all are
// intact are the old files moved aside and the new ones moved into place (install_journal.h).
// Whatever fails, the installation folder is left as it was.
#pragma once

#include <cstdint>
#include <string>

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
        WriteFailed,  // the staged files could not be written for another reason
        NotRestored,  // a failure whose undo could not put everything back (the journal stays)
    };
    Kind kind = Installed;
    std::u16string file;        // the file concerned, relative to the folder
    std::uint64_t neededMB = 0; // for NoRoom: what the payload needs and what the drive has
    std::uint64_t availableMB = 0;
    std::string message; // the engine's message, 8-bit ANSI, when it gave one
};

// Installs every item of the package's payload into `folder` (with a trailing '\').
// `programFile` is the program file's name relative to the folder when the run replaces it
// (a program upgrade), else empty: when it is there and in use, nothing is done. `archive`
// is the window's archive component; it is opened and closed here.
InstallOutcome InstallPayload(zip::TZipArchive& archive, const std::u16string& package,
                              const std::u16string& folder, const std::u16string& programFile);

// The Dutch notice for a failed outcome (8-bit ANSI); empty for Installed and ProgramInUse,
// whose message the caller builds.
std::string FailureNotice(const InstallOutcome& outcome, const std::string& folder);

} // namespace klv::app
