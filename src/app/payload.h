// The payload appended to the running executable, as the installer window uses it: the
// package's configuration files, a first look at the payload before any question is asked,
// and the installation of every item, all or nothing. The window reaches the archive engine
// only through this, so that its rules can be run against a scripted payload.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/install_journal.h"
#include "app/staged_install.h"

namespace klv::app {

// What the recovery found in one folder.
struct EarlierRun {
    std::string folder;
    RecoveryResult result = RecoveryResult::Nothing;
};

class Payload {
  public:
    // Removes the configuration files it extracted.
    virtual ~Payload() = default;

    // Claims the one installer run on this machine for the life of this object: false when
    // another copy holds it (and then nothing else may be done).
    virtual bool Claim() = 0;

    // When the payload holds an item matching "*stub.ini", writes the items matching
    // "*Stub.*" below `folder` (replacing files there) and answers true; otherwise writes
    // nothing and answers false. Archive failures raise zip::EZAException.
    virtual bool ExtractConfiguration(const std::string& folder) = 0;
    // The bytes of a configuration file in the folder given above; empty when unreadable.
    virtual std::string ReadConfiguration(const std::string& path) = 0;

    // Opens the payload for the installation run and checks it once, before anything is asked:
    // Ok when it opens, its directory reads as recorded (not rebuilt from local headers,
    // as after a cut-off download), no item is encrypted and every name is one the installer
    // writes; otherwise Damaged, with the engine's code and message. Writes nothing, never
    // raises for a damaged payload. A sound payload stays open for Install.
    virtual InstallOutcome Check(const std::string& folder) = 0;
    // The files of the payload a sound Check opened, as they install below the folder:
    // relative, '\' between the parts (8-bit ANSI). Empty without one.
    virtual std::vector<std::string> Files() = 0;
    // Installs every item of the payload Check opened below `folder` with its stored relative
    // path, all or nothing: the items are extracted and checked beside the installation first,
    // and only when all are intact do they replace the old files. `programFile` (relative to
    // the folder) is the old program file that must not be in use, or empty. Whatever fails,
    // the folder is left as it was. Closes the payload. An elevated run (`trust`) leaves the
    // note of pending runs alone.
    virtual InstallOutcome Install(const std::string& folder, const std::string& programFile,
                                   const RecoveryTrust& trust) = 0;
    // After Install: waits until what the installation left beside the folder (the old files'
    // backup, the staging folder) is removed, and takes the folder off the note of pending
    // runs. Before the run's result is told; the payload's end does it too.
    virtual void Settle() {}
    // At start: undoes what an installation run cut off by a crash or a killed process left,
    // in the folders recorded by runs that did not end and in `folder` (the journal's
    // RecoverEarlierRuns). Answers what it found, one entry for each folder where it found
    // something. `trust` says which of them this run may act on.
    virtual std::vector<EarlierRun> RecoverInterruptedRuns(const std::string& folder,
                                                           const RecoveryTrust& trust) = 0;
};

// Opens the payload of the executable at `executablePath` when asked; no file is touched
// at construction.
using PayloadFactory = std::function<std::unique_ptr<Payload>(const std::string& executablePath)>;

// The payload read with the archive engine (TZipArchive).
std::unique_ptr<Payload> NewZipPayload(const std::string& executablePath);

} // namespace klv::app
