// The engine's extraction for an installation run, as one result: every way it can fail (an
// item's engine error, a file stream that could not be opened, a staged file not written,
// stamped or flushed, a full drive) with the system's error taken where the failing call
// returned. run_failures.h sorts it into the run's outcome.
#pragma once

#include <optional>
#include <string>

#include "platform/disk.h"
#include "zip/flusher.h"

namespace klv::zip {
class TZipArchive;
}

namespace klv::app {

struct ExtractionResult {
    // The first item that failed, as the engine raised it.
    int engineCode = 0;    // its native code (zip/errors.h); -1 for a failure that gave none
    int systemError = 0;   // the system's error of the call that failed, 0 when none
    int streamError = 0;   // the system's error of a file stream that could not be opened
    std::u16string file;   // the item, as the engine names it
    std::string message;   // the engine's message (8-bit ANSI)
    bool diskFull = false; // the engine met a full drive and stopped
    // A staged file that could not be written, stamped or flushed as it must, relative to the
    // staging folder.
    std::optional<zip::TZAOutputFailure> output;
    // Set by the caller: a planned file the extraction did not leave in the staging folder.
    std::u16string missing;

    bool Complete() const { return engineCode == 0 && !diskFull && !output && missing.empty(); }
};

// Extracts every item of the open `archive` into `staging` (with a trailing separator),
// through `disk`, each file flushed before it returns; the first failure ends it. Exceptions
// other than the engine's go on to the caller. The archive's events and output are as before
// afterwards.
ExtractionResult ExtractForRun(zip::TZipArchive& archive, const std::u16string& staging,
                               platform::Disk& disk);

} // namespace klv::app
