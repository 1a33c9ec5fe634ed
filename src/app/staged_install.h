// The installation run's writing part, all or nothing: every payload item is extracted and
// checked into a staging folder inside the installation folder first; only when all are
// intact are the old files moved aside and the new ones moved into place (install_journal.h).
// Whatever fails, the installation folder is left as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/install_journal.h"
#include "app/install_plan.h"
#include "platform/disk.h"

namespace klv::zip {
class TZipArchive;
}

namespace klv::app {

struct InstallOutcome {
    enum Kind {
        Ok,           // no failure: the check passed, or the payload is installed
        Damaged,      // an item failed its checks, the directory was rebuilt, or a name is unusable
        NoRoom,       // the drive lacks the room the payload needs, or filled up while staging
        ProgramInUse, // the old program file is running or held open
        FileInUse,    // another file to be replaced is held open
        NoRights,     // the user may not change a file or the folder
        WriteFailed,  // the staged files could not be written for another reason
        NotRestored,  // a failure whose undo could not put everything back (the journal stays)
        Blocked,      // an earlier run's remains keep the folder closed (see `recovery`)
    };
    Kind kind = Ok;
    RecoveryResult recovery = RecoveryResult::Nothing; // for Blocked
    std::u16string file;                               // the file concerned, relative to the folder
    bool journal = false;       // the run's own journal failed, not a file of the installation
    std::uint64_t neededMB = 0; // for NoRoom: what the payload needs and what the drive has
    std::uint64_t availableMB = 0;
    int engineCode = 0;  // the engine's native code of the failure (zip/errors.h), 0 for none
    int systemError = 0; // the system's error number (a Windows error code), 0 when unknown
    std::string message; // the engine's message, 8-bit ANSI, when it gave one
    std::string holders; // for a file in use: the programs holding it, when the system tells
};

// The package's payload opened for one installation run: opened and checked once, and staged
// from the same open archive. The archive stays open (read-only, shared) while this lives.
class OpenedPayload {
  public:
    // Opens `package` with `archive` (the window's archive component) and checks it: the
    // directory reads as recorded (not rebuilt from local headers, as after a cut-off
    // download), no item is encrypted, every name is one the installer writes. Never raises:
    // a payload that fails is Damaged, with the engine's code and message.
    OpenedPayload(zip::TZipArchive& archive, const std::u16string& package);
    ~OpenedPayload();
    OpenedPayload(const OpenedPayload&) = delete;
    OpenedPayload& operator=(const OpenedPayload&) = delete;

    // Ok when the payload may be installed; otherwise why not.
    const InstallOutcome& Check() const { return check_; }
    // The payload's items, as they install; none when the check failed.
    const std::vector<PayloadItem>& Items() const { return items_; }

    // Installs every item into `folder` (with a trailing '\'), all or nothing; only when the
    // check passed. What an earlier run left in the folder is finished first (the journal's
    // recovery); what cannot be finished keeps this run out. `programFile` is the program
    // file's name relative to the folder when the run replaces it (a program upgrade), else
    // empty: when it is there and in use, nothing is done. Every change on the disk goes
    // through `disk`; `trust` says what of an earlier run's remains this run may act on.
    // With `Finishing::Aside`, the backup and staging folders of a committed run are removed
    // on a thread of their own while the caller goes on; the destructor waits for it and logs
    // it. `disk` must then take calls from two threads.
    enum class Finishing { InRun, Aside };
    InstallOutcome Install(const std::u16string& folder, const std::u16string& programFile,
                           platform::Disk& disk = platform::SystemDisk(),
                           const RecoveryTrust& trust = {}, Finishing finishing = Finishing::InRun);

  private:
    class Leftovers;
    zip::TZipArchive& archive_;
    bool open_ = false;
    InstallOutcome check_;
    std::vector<PayloadItem> items_;
    std::unique_ptr<Leftovers> leftovers_;
};

} // namespace klv::app
