// The switch-over of an installation run, made undoable: the new files wait in a staging folder
// inside the installation folder; each old file that a new one replaces is moved into a backup
// folder beside it, and the new one moved into its place. A journal on disk records the plan
// before the first move and the commit after the last, with each write flushed, so that a run
// cut off at any point can be undone (or, once committed, finished) by the next run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/stubconf/reserved_names.h"

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
    Nothing,    // no interrupted run was found
    Restored,   // an interrupted run was undone, or a committed one finished
    Incomplete, // something could not be put back; the journal stays for the next attempt
};

class InstallJournal {
  public:
    // `folder`: the installation folder, with a trailing '\'.
    explicit InstallJournal(std::u16string folder);

    std::u16string StagingFolder() const; // with a trailing '\'
    std::u16string BackupFolder() const;  // with a trailing '\'

    // Writes the plan before anything is staged. False when the journal cannot be written.
    bool Begin(const SwitchPlan& plan);
    // Moves old files aside and staged files into place, in plan order, recording the start of
    // the switch first and the commit after the last move. On a failure every step is undone
    // and `failedFile` names the file that could not be moved; the result is false.
    bool SwitchOver(const SwitchPlan& plan, std::u16string& failedFile);
    // After a failure before the switch: removes what was staged and the journal.
    void Discard();
    // After the commit: removes the backups, the staging folder and the journal.
    void Finish();

  private:
    bool Append(std::string_view line);
    std::u16string folder_;
    std::u16string journalPath_;
};

// Undoes (or finishes) a run that was cut off in `folder` (with a trailing '\').
RecoveryResult RecoverInterruptedRun(const std::u16string& folder);

// For tests of a cut-off run: the process ends at once, as if killed, after this many steps of
// the switch-over (the start of the switch is step 0, then each move). Taken from the
// environment variable KLVUPGRADE_STOP_AFTER_STEP; negative means never.
int StopAfterStep();

} // namespace klv::app
