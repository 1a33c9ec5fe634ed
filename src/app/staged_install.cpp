#include "app/staged_install.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "app/extraction.h"
#include "app/install_journal.h"
#include "app/install_plan.h"
#include "app/placed_files.h"
#include "app/run_failures.h"
#include "app/run_log.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "zip/archiver.h"
#include "zip/errors.h"

namespace klv::app {

namespace {

using Finishing = OpenedPayload::Finishing;

constexpr std::uint64_t kMB = 1024 * 1024;
// What a file takes beyond its bytes (its last cluster, its directory entry), and a margin.
constexpr std::uint64_t kPerFileSlack = 4096;
constexpr std::uint64_t kMargin = 1 * kMB;

void LogLeftovers(bool removed, const std::string& took);

// The installation run into one folder, step by step: each step goes on (no outcome) or ends
// the run with its outcome.
class InstallRun {
  public:
    InstallRun(zip::TZipArchive& archive, const std::vector<PayloadItem>& items,
               const std::u16string& folder, const std::u16string& programFile,
               platform::Disk& disk, const RecoveryTrust& trust, Finishing finishing)
        : archive_(archive), items_(items), folder_(folder), programFile_(programFile), disk_(disk),
          trust_(trust), finishing_(finishing) {}

    InstallOutcome Steps() {
        using Step = std::optional<InstallOutcome> (InstallRun::*)();
        for (const Step step :
             {&InstallRun::Recover, &InstallRun::Plan, &InstallRun::CheckProgramFree,
              &InstallRun::CheckRoom, &InstallRun::BeginJournal, &InstallRun::Stage,
              &InstallRun::SwitchOver})
            if (std::optional<InstallOutcome> end = (this->*step)()) return *end;
        return {};
    }

    // After a committed switch-over whose leftovers are removed aside: the journal that
    // removes them.
    std::unique_ptr<InstallJournal> Committed() { return std::move(committed_); }

  private:
    using Next = std::optional<InstallOutcome>;

    // What an earlier run left is finished first; what cannot be finished keeps this run out.
    Next Recover() {
        for (const RecoveredFolder& earlier : RecoverEarlierRuns(folder_, false, trust_, disk_))
            if (BlocksInstallation(earlier.result)) {
                InstallOutcome blocked = Failed(InstallOutcome::Blocked);
                blocked.recovery = earlier.result;
                return blocked;
            }
        return {};
    }

    // Items that cannot go into this installation make the payload damaged.
    Next Plan() {
        std::u16string refused;
        plan_ = MakePlan(folder_, items_, refused, disk_);
        if (!plan_) return Failed(InstallOutcome::Damaged, refused);
        needed_ = kMargin;
        for (const PayloadItem& item : items_)
            if (!item.folder) needed_ += static_cast<std::uint64_t>(item.size) + kPerFileSlack;
        std::size_t replaced = 0;
        for (const PlannedFile& file : plan_->files)
            replaced += file.existed ? 1 : 0;
        Log(LogCategory::Phase, "plan: " + std::to_string(items_.size()) + " items, " +
                                    std::to_string(plan_->files.size()) + " files (" +
                                    std::to_string(replaced) + " replaced), " +
                                    std::to_string(plan_->newFolders.size()) + " new folders");
        return {};
    }

    // The old program file must not be running: a running program can be renamed, so the
    // switch would not notice. Any other file another program holds refuses its move aside,
    // and the switch is undone and names it: no probe of every file beforehand.
    Next CheckProgramFree() {
        if (programFile_.empty()) return {};
        const bool inUse = disk_.Use(folder_ + programFile_) == platform::FileUse::InUse;
        const int probeError = inUse ? platform::LastSystemError() : 0; // before the log writes
        Log(LogCategory::Check, u"in use: " + programFile_ + (inUse ? u" is in use" : u" is free"));
        if (!inUse) return {};
        InstallOutcome held = Failed(InstallOutcome::ProgramInUse, programFile_);
        held.systemError = probeError;
        held.holders = HeldBy(disk_, folder_ + programFile_);
        return held;
    }

    Next CheckRoom() {
        const auto available = disk_.FreeBytes(folder_);
        Log(LogCategory::Check,
            "room: needed " + std::to_string((needed_ + kMB - 1) / kMB) + " MB, available " +
                (available ? std::to_string(*available / kMB) + " MB" : std::string("unknown")));
        if (available && *available < needed_) return NoRoom(available);
        return {};
    }

    Next BeginJournal() {
        journal_ = std::make_unique<InstallJournal>(folder_, disk_);
        const platform::DiskStatus status = journal_->Begin(*plan_);
        if (status.ok()) return {};
        // The run's own file: the notice names the folder, not the file.
        return OwnFileFailed(status);
    }

    // Every item extracted and checked into the staging folder as the engine checks it; the
    // first failure ends it, and the staging folder goes.
    Next Stage() {
        const auto start = std::chrono::steady_clock::now();
        const std::u16string staging = journal_->StagingFolder();
        ExtractionResult result = ExtractForRun(archive_, staging, disk_);
        for (std::size_t i = 0; result.Complete() && i < plan_->files.size(); ++i)
            if (!disk_.IsFile(staging + plan_->files[i].name))
                result.missing = plan_->files[i].name;
        if (result.Complete()) {
            Log(LogCategory::Phase,
                "staged and checked " + std::to_string(items_.size()) + " items, " + Since(start));
            return {};
        }
        const bool takesNewFiles = AsksForNewFiles(result) && disk_.TakesNewFiles(staging);
        journal_->Discard();
        const auto left = disk_.FreeBytes(folder_);
        InstallOutcome failed = StagingOutcome(result, takesNewFiles, left && *left < kMB);
        if (failed.kind == InstallOutcome::NoRoom) WithRoom(failed, left);
        return failed;
    }

    // Old files aside, new ones in place, all or nothing; then the leftovers go (what cannot
    // go now is finished by the next start, which the journal tells).
    Next SwitchOver() {
        const auto start = std::chrono::steady_clock::now();
        SwitchFailure failure;
        const bool switched = journal_->SwitchOver(*plan_, failure);
        Log(LogCategory::Phase, std::string(switched ? "switched over " : "switch-over undone, ") +
                                    std::to_string(plan_->files.size()) + " files, " +
                                    Since(start));
        if (switched) {
            if (finishing_ == Finishing::Aside) {
                committed_ = std::move(journal_);
            } else {
                const auto finishing = std::chrono::steady_clock::now();
                LogLeftovers(journal_->Finish(), Since(finishing));
            }
            LogPlacedFiles(*plan_, items_);
            return {};
        }
        if (failure.file.empty() && failure.restored) return OwnFileFailed(failure.status);
        InstallOutcome failed = Failed(
            failure.restored ? KindOf(failure.status) : InstallOutcome::NotRestored, failure.file);
        failed.systemError = failure.status.code;
        failed.journal = failure.file.empty();
        if (failed.kind == InstallOutcome::NoRoom) WithRoom(failed, disk_.FreeBytes(folder_));
        if (failed.kind == InstallOutcome::FileInUse)
            failed.holders = HeldBy(disk_, folder_ + failure.file);
        return failed;
    }

    static InstallOutcome Failed(InstallOutcome::Kind kind, std::u16string file = {}) {
        InstallOutcome outcome;
        outcome.kind = kind;
        outcome.file = std::move(file);
        return outcome;
    }
    // A change to the run's own journal failed: the folder is named, never a file in use.
    InstallOutcome OwnFileFailed(const platform::DiskStatus& status) {
        InstallOutcome failed = Failed(KindOf(status));
        failed.journal = true;
        failed.systemError = status.code;
        if (failed.kind == InstallOutcome::NoRoom) WithRoom(failed, disk_.FreeBytes(folder_));
        if (failed.kind == InstallOutcome::FileInUse) failed.kind = InstallOutcome::WriteFailed;
        return failed;
    }
    InstallOutcome NoRoom(std::optional<std::uint64_t> available) const {
        InstallOutcome failed = Failed(InstallOutcome::NoRoom);
        WithRoom(failed, available);
        return failed;
    }
    void WithRoom(InstallOutcome& failed, std::optional<std::uint64_t> available) const {
        failed.neededMB = (needed_ + kMB - 1) / kMB;
        failed.availableMB = available ? *available / kMB : 0;
    }

    zip::TZipArchive& archive_;
    const std::vector<PayloadItem>& items_;
    const std::u16string& folder_;
    const std::u16string& programFile_;
    platform::Disk& disk_;
    const RecoveryTrust& trust_;
    std::optional<SwitchPlan> plan_;
    std::uint64_t needed_ = 0;
    Finishing finishing_;
    std::unique_ptr<InstallJournal> journal_;
    std::unique_ptr<InstallJournal> committed_;
};

void LogLeftovers(bool removed, const std::string& took) {
    Log(LogCategory::Phase, std::string(removed ? "removed" : "could not remove all of") +
                                " the backup and staging folders, " + took);
}

} // namespace

OpenedPayload::OpenedPayload(zip::TZipArchive& archive, const std::u16string& package)
    : archive_(archive) {
    check_.kind = InstallOutcome::Damaged;
    try {
        archive_.FileName = package;
        archive_.Open(zip::kOpenModeShareRead);
        open_ = true;
    } catch (...) {
        const CaughtFailure caught = FailureOf(std::current_exception());
        check_.engineCode = caught.engineCode;
        check_.systemError = caught.streamError;
        check_.message = caught.message;
        return;
    }
    // A directory rebuilt from local headers is a cut-off download.
    if (!archive_.DirManager() || archive_.DirManager()->Rebuilt) {
        check_.message = "the directory was rebuilt from the local headers";
        return;
    }
    // Names the installer will not write, and encrypted items, make the payload damaged
    // before anything is asked or written.
    PayloadItems payload = ListPayload(archive_);
    if (payload.refused) {
        check_.file = *payload.refused;
        check_.message = "an encrypted item, a name the installer does not write, or names past "
                         "the plan's budget (a hostile package)";
        return;
    }
    items_ = std::move(payload.items);
    check_ = {};
}

// A committed run's backup and staging folders, removed on a thread of their own while the run
// goes on (the placed files' log, the shortcuts, the last question). If the process ends
// first, the journal, still there, has the next start finish it.
class OpenedPayload::Leftovers {
  public:
    explicit Leftovers(std::unique_ptr<InstallJournal> journal)
        : journal_(std::move(journal)), start_(std::chrono::steady_clock::now()), thread_([this] {
              removed_ = journal_->Finish();
              took_ = Since(start_);
          }) {}
    ~Leftovers() {
        thread_.join();
        LogLeftovers(removed_, took_);
    }
    Leftovers(const Leftovers&) = delete;
    Leftovers& operator=(const Leftovers&) = delete;

  private:
    std::unique_ptr<InstallJournal> journal_;
    std::chrono::steady_clock::time_point start_;
    bool removed_ = false;
    std::string took_;
    std::thread thread_; // last: it starts once the rest is set
};

OpenedPayload::~OpenedPayload() {
    leftovers_.reset();
    if (!open_) return;
    try {
        archive_.Close();
    } catch (...) {
        // Closing a read-only archive has nothing to lose.
    }
}

InstallOutcome OpenedPayload::Install(const std::u16string& folder,
                                      const std::u16string& programFile, platform::Disk& disk,
                                      const RecoveryTrust& trust, Finishing finishing) {
    if (check_.kind != InstallOutcome::Ok) return check_;
    InstallRun run(archive_, items_, folder, programFile, disk, trust, finishing);
    const InstallOutcome outcome = run.Steps();
    if (std::unique_ptr<InstallJournal> committed = run.Committed())
        leftovers_ = std::make_unique<Leftovers>(std::move(committed));
    return outcome;
}

} // namespace klv::app
