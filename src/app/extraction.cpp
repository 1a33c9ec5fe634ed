#include "app/extraction.h"

#include <algorithm>
#include <exception>

#include "app/run_failures.h"
#include "platform/text.h"
#include "zip/archiver.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

// The archive set up for the run's extraction while it lives, and as it was after.
class RunOutput {
  public:
    RunOutput(zip::TZipArchive& archive, const std::u16string& staging, platform::Disk& disk,
              ExtractionResult& result)
        : archive_(archive) {
        archive_.BaseDir = staging;
        archive_.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
        archive_.OutputDisk = &disk;
        archive_.DurableOutput = true;
        // The handler runs while the item's exception is handled: its system error is the
        // one the failing call gave.
        archive_.OnProcessFileFailure =
            [&result](zip::TZABaseArchiver&, const std::u16string& file, zip::TZAProcessOperation,
                      int nativeError, int, const std::u16string& message, zip::TZAAction& action) {
                if (result.engineCode == 0) {
                    result.engineCode = nativeError;
                    result.file = file;
                    result.message = platform::Utf16ToAnsi(message);
                    result.systemError = FailureOf(std::current_exception()).systemError;
                }
                action = zip::TZAAction::fxaAbort;
            };
        archive_.OnDiskFull = [&result](zip::TZABaseArchiver&, int, const std::u16string&,
                                        bool& cancel) {
            result.diskFull = true;
            cancel = true;
        };
    }
    ~RunOutput() {
        archive_.OnProcessFileFailure = nullptr;
        archive_.OnDiskFull = nullptr;
        archive_.OutputDisk = nullptr;
        archive_.DurableOutput = false;
    }
    RunOutput(const RunOutput&) = delete;
    RunOutput& operator=(const RunOutput&) = delete;

  private:
    zip::TZipArchive& archive_;
};

} // namespace

ExtractionResult ExtractForRun(zip::TZipArchive& archive, const std::u16string& staging,
                               platform::Disk& disk) {
    ExtractionResult result;
    try {
        const RunOutput output(archive, staging, disk, result);
        archive.ExtractMatching(u"*.*");
    } catch (...) {
        const CaughtFailure caught = FailureOf(std::current_exception());
        if (result.engineCode == 0) result.engineCode = caught.engineCode ? caught.engineCode : -1;
        result.streamError = caught.streamError;
        if (caught.streamError) result.systemError = caught.streamError;
        result.message = caught.message;
    }
    if (const auto& written = archive.OutputFailure()) {
        result.output = *written;
        result.output->file.erase(0, std::min(written->file.size(), staging.size()));
    }
    return result;
}

} // namespace klv::app
