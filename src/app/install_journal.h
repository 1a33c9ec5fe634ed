// The switch-over of an installation run, made undoable: the new files wait in a staging folder
// inside the installation folder; each old file that a new one replaces is moved into a backup
// folder beside it, and the new one moved into its place. A journal on disk records the plan
// before anything is staged, the start of the switch before the first move and the commit after
// the last, each write flushed, so that a run cut off at any point can be undone (or, once
// committed, finished) by the next run. The journal is held open without sharing for the length
// of the run. Every change goes through a platform::Disk.
//
// Recovery trusts nothing it reads (docs/architecture.md, "Trust"): it acts only where a journal
// of this format lies, only on names inside that folder that could be payload names, each
// resolved with no link, junction or mount point in any part (platform::PathBelow); only as far
// as the journal proves what was done; in an elevated run only on a journal and backups an
// administrator owns, and never on the note of pending runs. A journal it cannot read or trust,
// a backup without a journal, or an undo that did not complete leave everything as it is and
// keep every installation out of that folder until they are resolved.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/stubconf/reserved_names.h"
#include "platform/disk.h"

namespace klv::app {

// Names the run keeps inside the installation folder (all begin with stubconf::ReservedPrefix,
// which no payload item may use).
inline const std::u16string StagingFolderName = u"~klvupgrade.staging";
inline const std::u16string BackupFolderName = u"~klvupgrade.backup";
inline const std::u16string JournalFileName = u"~klvupgrade.journal";

struct PlannedFile {
    std::u16string name;  // relative to the installation folder, '\' separated
    bool existed = false; // an old file of that name was there when the plan was made
};

struct SwitchPlan {
    std::vector<std::u16string> newFolders; // folders to be made, parents first
    std::vector<PlannedFile> files;
};

enum class RecoveryResult {
    Nothing,      // no interrupted run was found
    Restored,     // an interrupted run was undone: the folder is as before it
    Completed,    // a run cut off after its commit was finished: the update is in place
    Incomplete,   // something could not be put back; journal and backup stay for the next attempt
    Unfinished,   // a run that had committed, whose old copies cannot be removed yet (a file held
                  // open): the update is in place; journal and backup stay for the next start
    Unreadable,   // a journal that cannot be read: nothing was changed, journal and backup stay
    OrphanBackup, // a backup folder without a journal: kept for the user
    Busy,         // another run holds the journal: it is not cut off
    Untrusted,    // remains this run may not act on: a name through a link, or (elevated) a
                  // journal or backup an administrator does not own; nothing was changed
};

// Whether a result keeps installations out of the folder until a later start resolves it.
inline bool BlocksInstallation(RecoveryResult result) {
    return result == RecoveryResult::Incomplete || result == RecoveryResult::Unfinished ||
           result == RecoveryResult::Unreadable || result == RecoveryResult::OrphanBackup ||
           result == RecoveryResult::Busy || result == RecoveryResult::Untrusted;
}

// Who may have written what recovery reads, and so what this run may act on.
struct RecoveryTrust {
    // The run is elevated (an administrator's full token, or the copy started as one): it acts
    // only in the folder it was handed, never on the note of pending runs (which lies where a
    // standard user may write), and only on a journal, staging and backup an administrator owns.
    bool elevated = false;
    // For a run that is not elevated: whether it may act in a folder the note names (one that
    // holds a complete Kelvaro 3 installation this user may change). Unset: in none.
    std::function<bool(const std::u16string& folder)> mayActOnNoted;
};

// True when `name` (from a journal) could name a payload item: relative, not empty, no drive,
// no ':', no leading separator, no empty, "." or ".." component, no device name, no control
// character, and not one of the run's own names.
bool IsSafeJournalName(std::u16string_view name);

// Where a switch-over failed, and why.
struct SwitchFailure {
    std::u16string file; // relative to the folder; empty when the journal could not be written
    platform::DiskStatus status;
    bool restored = true; // everything was put back (false: the journal stays for recovery)
};

class InstallJournal {
  public:
    // `folder`: the installation folder, with a trailing separator.
    explicit InstallJournal(std::u16string folder, platform::Disk& disk = platform::SystemDisk());
    ~InstallJournal();
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    std::u16string StagingFolder() const; // with a trailing '\'
    std::u16string BackupFolder() const;  // with a trailing '\'

    // Creates the journal (which must not exist yet) and writes the plan before anything is
    // staged. On failure nothing of the run is left.
    platform::DiskStatus Begin(const SwitchPlan& plan);
    // Moves old files aside and staged files into place, in plan order, recording the start of
    // the switch first and the commit after the last move. On a failure every step is undone
    // (as far as it can be) and the result is false.
    bool SwitchOver(const SwitchPlan& plan, SwitchFailure& failure);
    // After a failure before the switch, or a complete undo: removes what was staged, the
    // backups and, when those are gone, the journal. False when something stays.
    bool Discard();
    // After the commit: the same.
    bool Finish() { return Discard(); }

  private:
    platform::DiskStatus Append(std::string_view line);
    std::u16string folder_;
    std::u16string journalPath_;
    platform::Disk& disk_;
    std::unique_ptr<platform::DiskFile> file_;
};

// What the recovery found in one folder.
struct RecoveredFolder {
    std::u16string folder; // with a trailing separator
    RecoveryResult result = RecoveryResult::Nothing;
};

// The one entry point of recovery: undoes (or finishes) what runs cut off by a crash or a
// killed process left. With `recorded` (never in an elevated run), first in every folder the
// note of pending runs names that `trust` lets this run act on (a run of any package recovers
// them; the others are logged and stay noted); then in `folder`, the folder this run installs
// into (none when empty). Each finding is logged with what was done, and answered, one entry
// per folder where something was found. A folder whose remains are resolved leaves the note;
// one whose recovery could not be completed stays recorded for the next start.
std::vector<RecoveredFolder> RecoverEarlierRuns(const std::u16string& folder, bool recorded,
                                                const RecoveryTrust& trust,
                                                platform::Disk& disk = platform::SystemDisk());

// The note of pending runs, in the temporary folder: a run records its folder (with a trailing
// separator) before it may change it, and settles it afterwards, which drops it unless its
// journal is still there for the next start.
void RecordPendingRun(const std::u16string& folder, platform::Disk& disk = platform::SystemDisk());
void SettlePendingRun(const std::u16string& folder, platform::Disk& disk = platform::SystemDisk());

// The step RecoverEarlierRuns takes in each folder: undoes (or finishes) a run that was cut off
// in `folder` (with a trailing separator). Acts only where a journal lies; with `ownFolder`
// (the folder this run installs into) it also removes a staging folder left without a journal
// (a run cut off before its plan was written). With `elevated`, only remains an administrator
// owns are acted on.
RecoveryResult RecoverInterruptedRun(const std::u16string& folder, bool ownFolder = true,
                                     platform::Disk& disk = platform::SystemDisk(),
                                     bool elevated = false);

// Called after each step of the switch-over (the start of the switch is step 0, then each
// move); none in a shipped program. Test builds end the process there, as if it were killed.
extern void (*SwitchStepHook)(int step);

} // namespace klv::app
