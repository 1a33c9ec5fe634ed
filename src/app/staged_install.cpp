#include "app/staged_install.h"

#include <algorithm>
#include <set>
#include <vector>

#include "app/install_journal.h"
#include "app/install_plan.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/tree_files.h"
#include "zip/archiver.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

constexpr std::uint64_t kMB = 1024 * 1024;
// What a file takes beyond its bytes (its last cluster, its directory entry), and a margin.
constexpr std::uint64_t kPerFileSlack = 4096;
constexpr std::uint64_t kMargin = 1 * kMB;

const std::string kNothingChanged = "\r\n\r\nEr is niets gewijzigd.";

// Whether a new file can still be made in `folder`. A file the engine could not create is a
// name it refused (the payload's fault) only while the drive takes new files; a drive whose
// file table is full, or that refuses writes, fails the same way.
bool TakesNewFiles(const std::u16string& folder) {
    const std::u16string probe = folder + std::u16string(stubconf::ReservedPrefix) + u"probe";
    bool created = false;
    {
        int error = 0;
        created = platform::FileStream::Open(probe, platform::fmCreate, error) != nullptr;
    }
    platform::RemoveFile(probe);
    return created;
}

std::string Ansi(const std::u16string& text) {
    return platform::Utf16ToAnsi(text);
}

} // namespace

InstallOutcome InstallPayload(zip::TZipArchive& archive, const std::u16string& package,
                              const std::u16string& folder, const std::u16string& programFile) {
    InstallOutcome outcome;
    RecoverInterruptedRun(folder);

    archive.FileName = package;
    archive.Open(zip::kOpenModeShareRead);
    struct Closer {
        zip::TZipArchive& a;
        ~Closer() { a.Close(); }
    } closer{archive};

    if (!archive.DirManager() || archive.DirManager()->Rebuilt) {
        outcome.kind = InstallOutcome::Damaged;
        return outcome;
    }
    // Names the installer will not write, and items that cannot go into this installation,
    // make the payload damaged before anything is written.
    const PayloadItems payload = ListPayload(archive);
    std::u16string refused;
    const std::optional<SwitchPlan> planned =
        payload.refused ? std::nullopt : MakePlan(folder, payload.items, refused);
    if (!planned) {
        outcome.kind = InstallOutcome::Damaged;
        outcome.file = payload.refused ? *payload.refused : refused;
        return outcome;
    }
    const SwitchPlan& plan = *planned;
    const std::vector<PayloadItem>& items = payload.items;
    std::uint64_t needed = kMargin;
    for (const PayloadItem& item : items)
        if (!item.folder) needed += static_cast<std::uint64_t>(item.size) + kPerFileSlack;

    // The old program file, and every other file to be replaced, must be free to move.
    if (!programFile.empty() &&
        platform::ProbeFileUse(folder + programFile) == platform::FileUse::InUse) {
        outcome.kind = InstallOutcome::ProgramInUse;
        outcome.file = programFile;
        return outcome;
    }
    for (const PlannedFile& file : plan.files) {
        if (file.existed &&
            platform::ProbeFileUse(folder + file.name) == platform::FileUse::InUse) {
            outcome.kind = InstallOutcome::FileInUse;
            outcome.file = file.name;
            return outcome;
        }
    }

    if (const auto available = platform::FreeBytes(folder); available && *available < needed) {
        outcome.kind = InstallOutcome::NoRoom;
        outcome.neededMB = (needed + kMB - 1) / kMB;
        outcome.availableMB = *available / kMB;
        return outcome;
    }

    InstallJournal journal(folder);
    if (!journal.Begin(plan)) {
        outcome.kind = InstallOutcome::WriteFailed;
        outcome.file = JournalFileName;
        return outcome;
    }

    // Staging: every item checked as the engine checks it; the first failure ends it.
    archive.BaseDir = journal.StagingFolder();
    archive.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
    bool diskFull = false;
    int failureCode = 0;
    archive.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string& fileName,
                                       zip::TZAProcessOperation, int nativeError, int,
                                       const std::u16string& message, zip::TZAAction& action) {
        if (failureCode == 0) {
            failureCode = nativeError;
            outcome.file = fileName;
            outcome.message = Ansi(message);
        }
        action = zip::TZAAction::fxaAbort;
    };
    archive.OnDiskFull = [&](zip::TZABaseArchiver&, int, const std::u16string&, bool& cancel) {
        diskFull = true;
        cancel = true;
    };
    try {
        archive.ExtractMatching(u"*.*");
    } catch (const zip::EZAException& e) {
        if (failureCode == 0) failureCode = e.NativeError ? e.NativeError : -1;
        outcome.message = Ansi(e.Message());
    }
    archive.OnProcessFileFailure = nullptr;
    archive.OnDiskFull = nullptr;

    bool complete = failureCode == 0 && !diskFull;
    for (std::size_t i = 0; complete && i < plan.files.size(); ++i)
        if (!platform::FileExists(journal.StagingFolder() + plan.files[i].name)) {
            complete = false;
            outcome.file = plan.files[i].name;
        }
    if (!complete) {
        const bool refusedName =
            failureCode == zip::neCannotCreateFile && TakesNewFiles(journal.StagingFolder());
        journal.Discard();
        const auto available = platform::FreeBytes(folder);
        if (diskFull || (available && *available < kMB)) {
            outcome.kind = InstallOutcome::NoRoom;
            outcome.neededMB = (needed + kMB - 1) / kMB;
            outcome.availableMB = available ? *available / kMB : 0;
        } else if (failureCode == 0 || failureCode == zip::neNotIntact || refusedName ||
                   failureCode == zip::neDeflate64 || failureCode == zip::neInvalidPassword) {
            outcome.kind = InstallOutcome::Damaged;
        } else {
            outcome.kind = InstallOutcome::WriteFailed;
        }
        return outcome;
    }

    std::u16string failedFile;
    if (!journal.SwitchOver(plan, failedFile)) {
        outcome.file = failedFile;
        outcome.kind = platform::FileExists(folder + JournalFileName) ? InstallOutcome::NotRestored
                                                                      : InstallOutcome::FileInUse;
        return outcome;
    }
    journal.Finish();
    return outcome;
}

std::string FailureNotice(const InstallOutcome& outcome, const std::string& folder) {
    const std::string file = Ansi(outcome.file);
    switch (outcome.kind) {
    case InstallOutcome::Damaged:
        return "Het updatebestand is beschadigd of onvolledig.\r\nDownload de update opnieuw." +
               kNothingChanged;
    case InstallOutcome::NoRoom:
        return "Er is niet genoeg vrije ruimte op de schijf van [" + folder +
               "].\r\nNodig: " + std::to_string(outcome.neededMB) +
               " MB, beschikbaar: " + std::to_string(outcome.availableMB) +
               " MB.\r\nMaak ruimte vrij en probeer het opnieuw." + kNothingChanged;
    case InstallOutcome::FileInUse:
        return "Het bestand \"" + file +
               "\" is in gebruik door een ander programma.\r\nSluit Kelvaro en andere "
               "programma's en probeer het opnieuw." +
               kNothingChanged;
    case InstallOutcome::WriteFailed:
    {
        // The item as the payload names it, not the staging path the engine wrote to.
        std::string item = file;
        const std::string staging = Ansi(StagingFolderName) + "\\";
        if (const std::size_t at = item.find(staging); at != std::string::npos)
            item = item.substr(at + staging.size());
        return "De update kon niet worden uitgepakt in [" + folder + "]." +
               (item.empty() ? std::string()
                             : "\r\nHet bestand \"" + item + "\" kon niet worden geschreven.") +
               kNothingChanged;
    }
    case InstallOutcome::NotRestored:
        return "De update is mislukt en niet alle oude bestanden konden worden teruggezet (\"" +
               file +
               "\").\r\nSluit alle programma's en start de update opnieuw: dan wordt "
               "het herstel afgemaakt.";
    case InstallOutcome::Installed:
    case InstallOutcome::ProgramInUse:
        break;
    }
    return {};
}

} // namespace klv::app
