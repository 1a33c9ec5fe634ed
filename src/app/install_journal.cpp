#include "app/install_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include <zlib.h>

#include "app/run_log.h"
#include "app/stubconf/item_names.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/tree_files.h"

namespace klv::app {

void (*SwitchStepHook)(int step) = nullptr;

namespace {

using platform::DiskStatus;
using platform::EntryKind;

constexpr std::string_view kHeader = "KLVUPGRADE-JOURNAL 3";
constexpr std::string_view kPlanLine = "PLAN";
constexpr std::string_view kSwitchLine = "SWITCH";
constexpr std::string_view kCommitLine = "COMMITTED";
constexpr std::uint32_t kNormalFile = 0x20;

void StopHere(int step) {
    if (SwitchStepHook) SwitchStepHook(step);
}

struct JournalText {
    enum State { Unreadable, TornPlan, Planned, Switching, Committed } state = Unreadable;
    SwitchPlan plan;
    std::vector<std::u16string> movedWhole; // new folders recorded before they moved whole
    std::vector<std::u16string> swapped;    // old folders recorded before they swapped whole
};

std::uint32_t Crc(std::string_view text) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// One record as it is written: its CRC-32 (eight hex digits), a space, the text, LF.
std::string Record(std::string_view text) {
    char crc[10];
    std::snprintf(crc, sizeof crc, "%08x ", static_cast<unsigned>(Crc(text)));
    return std::string(crc) + std::string(text) + '\n';
}

// The text of a record whose checksum holds; none otherwise.
std::optional<std::string_view> Checked(std::string_view line) {
    if (line.size() < 9 || line[8] != ' ') return std::nullopt;
    std::uint32_t crc = 0;
    for (const char c : line.substr(0, 8)) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        crc = crc << 4 | static_cast<std::uint32_t>(digit);
    }
    const std::string_view text = line.substr(9);
    if (Crc(text) != crc) return std::nullopt;
    return text;
}

// A journal's lines, one at a time: the header line as it stands, each later line as the text
// of its record once its checksum holds. Each record is written and flushed at once, so only
// the last can be cut off by a crash: what follows the last LF (a torn write, or the zeros a
// power cut leaves) counts as not written.
class JournalLines {
  public:
    enum class Read { Line, End, Changed };

    explicit JournalLines(std::string_view data) : data_(data) {}

    // The next line in `text` (`checked`: a record's text, else the line as it stands); End
    // where nothing more was written, Changed for a whole line whose checksum fails.
    Read Next(bool checked, std::string_view& text) {
        if (start_ >= data_.size()) return Read::End;
        const std::size_t end = data_.find('\n', start_);
        const std::string_view line =
            data_.substr(start_, end == std::string_view::npos ? end : end - start_);
        start_ = end == std::string_view::npos ? data_.size() : end + 1;
        if (end == std::string_view::npos) return Last(checked, line, text);
        if (!checked) {
            text = line;
            return Read::Line;
        }
        const std::optional<std::string_view> record = Checked(line);
        if (!record) return Read::Changed;
        text = *record;
        return Read::Line;
    }

  private:
    // A last record whole but for its LF (or with that LF changed) counts; anything else
    // there was not written.
    static Read Last(bool checked, std::string_view line, std::string_view& text) {
        if (!checked) return Read::End;
        std::optional<std::string_view> whole = Checked(line);
        if (!whole && !line.empty()) whole = Checked(line.substr(0, line.size() - 1));
        if (!whole) return Read::End;
        text = *whole;
        return Read::Line;
    }

    std::string_view data_;
    std::size_t start_ = 0;
};

// How far a journal's records go, in the order they are written: what the next may be.
enum class JournalStage { Header, Plan, Switch, Commit, End };

// One line of the plan ("D folder" or "F 0|1 file") into `plan`; false for any other line.
bool TakePlanLine(std::string_view line, SwitchPlan& plan) {
    if (line.starts_with("D ")) {
        std::u16string name = platform::Utf8ToUtf16(line.substr(2));
        if (!IsSafeJournalName(name)) return false;
        plan.newFolders.push_back(std::move(name));
        return true;
    }
    if (line.size() > 4 && line.starts_with("F ") && (line[2] == '0' || line[2] == '1') &&
        line[3] == ' ') {
        std::u16string name = platform::Utf8ToUtf16(line.substr(4));
        if (!IsSafeJournalName(name)) return false;
        plan.files.push_back({std::move(name), line[2] == '1'});
        return true;
    }
    return false;
}

// A "W" record: a folder about to move whole, which only a folder the plan makes does.
bool TakeMovedWhole(std::string_view line, JournalText& text) {
    const std::u16string name = platform::Utf8ToUtf16(line.substr(2));
    const std::vector<std::u16string>& made = text.plan.newFolders;
    if (std::find(made.begin(), made.end(), name) == made.end()) return false;
    text.movedWhole.push_back(name);
    return true;
}

// An "R" record: an old folder about to swap whole with its staged copy, which only a folder
// that holds an old file of the plan and no new folder of it does.
bool TakeSwapped(std::string_view line, JournalText& text) {
    std::u16string name = platform::Utf8ToUtf16(line.substr(2));
    if (!IsSafeJournalName(name)) return false;
    const std::vector<std::u16string>& made = text.plan.newFolders;
    if (std::find(made.begin(), made.end(), name) != made.end()) return false;
    const std::u16string in = name + u'\\';
    if (std::none_of(text.plan.files.begin(), text.plan.files.end(),
                     [&](const PlannedFile& f) { return f.existed && f.name.starts_with(in); }))
        return false;
    text.swapped.push_back(std::move(name));
    return true;
}

// Takes the next line of the journal at `stage`; false when it cannot stand there.
bool TakeLine(std::string_view line, JournalStage& stage, JournalText& text) {
    switch (stage) {
    case JournalStage::Header:
        if (line != kHeader) return false;
        stage = JournalStage::Plan;
        return true;
    case JournalStage::Plan:
        if (line != kPlanLine) return TakePlanLine(line, text.plan);
        stage = JournalStage::Switch;
        return true;
    case JournalStage::Switch:
        if (line != kSwitchLine) return false;
        stage = JournalStage::Commit;
        return true;
    case JournalStage::Commit:
        if (line.starts_with("W ")) return TakeMovedWhole(line, text);
        if (line.starts_with("R ")) return TakeSwapped(line, text);
        if (line != kCommitLine) return false;
        stage = JournalStage::End;
        return true;
    case JournalStage::End:
        break;
    }
    return false;
}

// Before the header is whole, only what could be its beginning (and the zeros of a write a
// power cut lost) is a journal of this run.
bool BeginsHeader(std::string_view data) {
    while (!data.empty() && data.back() == '\0')
        data.remove_suffix(1);
    return kHeader.starts_with(data);
}

// What a journal whose records reach `stage` says of its run.
JournalText::State StateAt(JournalStage stage) {
    switch (stage) {
    case JournalStage::Header:
    case JournalStage::Plan:
        return JournalText::TornPlan;
    case JournalStage::Switch:
        return JournalText::Planned;
    case JournalStage::Commit:
        return JournalText::Switching;
    case JournalStage::End:
        break;
    }
    return JournalText::Committed;
}

// Reads a journal as this run writes it: the header line, then checksummed records: the plan,
// "PLAN", "SWITCH", a "W" record for each new folder about to move whole and an "R" record for
// each old folder about to swap whole, "COMMITTED". A whole line whose checksum fails was
// changed after it was written: the journal is Unreadable. A journal cut off before its plan
// was complete is TornPlan (no file was moved yet).
JournalText ParseJournal(std::string_view data) {
    JournalText text;
    if (data.find('\r') != std::string_view::npos) return text;
    JournalLines lines(data);
    JournalStage stage = JournalStage::Header;
    for (;;) {
        std::string_view line;
        const JournalLines::Read read = lines.Next(stage != JournalStage::Header, line);
        if (read == JournalLines::Read::Changed) return text;
        if (read == JournalLines::Read::End) break;
        if (!TakeLine(line, stage, text)) return text;
    }
    if (stage == JournalStage::Header && !BeginsHeader(data)) return text;
    text.state = StateAt(stage);
    return text;
}

// Removes a file that may be read-only.
DiskStatus Delete(platform::Disk& disk, const std::u16string& path) {
    DiskStatus status = disk.RemoveFile(path);
    if (status.ok()) return status;
    disk.SetAttributes(path, kNormalFile);
    return disk.RemoveFile(path);
}

// Moves `from` over `to`, clearing a read-only `to` that refuses to be replaced.
DiskStatus MoveOver(platform::Disk& disk, const std::u16string& from, const std::u16string& to) {
    DiskStatus status = disk.Move(from, to);
    if (status.ok() || disk.Kind(to) != EntryKind::File) return status;
    disk.SetAttributes(to, kNormalFile);
    return disk.Move(from, to);
}

// The files of the plan by the folder they lie in (upper case, each without its folder), for the
// folders that may swap whole: old folders that hold a file of the plan and nothing of it
// deeper (no planned file or new folder below a subfolder). In the plan's order.
struct FolderFiles {
    std::u16string name;              // as the plan gives it
    std::set<std::u16string> all;     // every planned file in it
    std::set<std::u16string> oldOnes; // those that replace an old file
};

std::vector<FolderFiles> SwapCandidates(const SwitchPlan& plan) {
    std::vector<FolderFiles> folders;
    std::unordered_map<std::u16string, std::size_t> index; // upper-case name → folders
    std::unordered_set<std::u16string> deeper;             // upper case
    auto markAbove = [&](std::u16string_view path) {
        for (std::size_t at = path.rfind(u'\\'); at != std::u16string_view::npos && at > 0;
             at = path.rfind(u'\\', at - 1))
            if (!deeper.insert(platform::UpperCase(path.substr(0, at))).second) break;
    };
    for (const PlannedFile& file : plan.files) {
        const std::u16string_view head = platform::PathHead(file.name, u"\\");
        if (head.empty()) continue;
        const std::u16string_view folder = head.substr(0, head.size() - 1);
        const std::u16string upper = platform::UpperCase(folder);
        auto [at, added] = index.try_emplace(upper, folders.size());
        if (added) {
            folders.push_back({std::u16string(folder), {}, {}});
            markAbove(folder);
        }
        const std::u16string name = platform::UpperCase(platform::PathTail(file.name, u"\\"));
        folders[at->second].all.insert(name);
        if (file.existed) folders[at->second].oldOnes.insert(name);
    }
    for (const std::u16string& made : plan.newFolders) {
        deeper.insert(platform::UpperCase(made));
        markAbove(made);
    }
    std::erase_if(folders, [&](const FolderFiles& f) {
        return f.oldOnes.empty() || deeper.contains(platform::UpperCase(f.name));
    });
    return folders;
}

// Whether `path` is a folder that holds nothing but plain files named in `names` (upper case);
// with `exactly`, every one of them.
bool HoldsOnly(platform::Disk& disk, const std::u16string& path,
               const std::set<std::u16string>& names, bool exactly) {
    if (disk.Kind(path) != EntryKind::Folder) return false;
    const std::vector<platform::FolderEntry> entries = disk.List(path);
    if (exactly && entries.size() != names.size()) return false;
    return std::all_of(entries.begin(), entries.end(), [&](const platform::FolderEntry& e) {
        return !e.folder && !e.link && names.contains(platform::UpperCase(e.name));
    });
}

// The planned files of one folder the journal names as swapped.
FolderFiles FilesOf(const SwitchPlan& plan, const std::u16string& folder) {
    for (FolderFiles& candidate : SwapCandidates(plan))
        if (candidate.name == folder) return candidate;
    return {folder, {}, {}};
}

// Puts an old folder that swapped whole back in place, the new one into the staging folder;
// each only when it holds nothing but the plan's files. False when it could not.
bool UndoSwap(platform::Disk& disk, const std::u16string& folder, const SwitchPlan& plan,
              const std::u16string& name) {
    const std::optional<std::u16string> placed = platform::PathBelow(disk, folder, name);
    const std::optional<std::u16string> staged =
        platform::PathBelow(disk, folder, StagingFolderName + u'\\' + name);
    const std::optional<std::u16string> saved =
        platform::PathBelow(disk, folder, BackupFolderName + u'\\' + name);
    if (!placed || !staged || !saved) return false;
    if (disk.Kind(*saved) == EntryKind::Missing) return true; // the old folder never moved
    const FolderFiles files = FilesOf(plan, name);
    if (!HoldsOnly(disk, *saved, files.oldOnes, false)) return false;
    if (disk.Kind(*placed) != EntryKind::Missing &&
        (disk.Kind(*staged) != EntryKind::Missing || !HoldsOnly(disk, *placed, files.all, false) ||
         !disk.Move(*placed, *staged).ok()))
        return false;
    return disk.Move(*saved, *placed).ok();
}

// Puts every file of the plan back as it was before the switch, from the last to the first
// (a folder recorded as swapped or moved whole back first), and removes the folders the plan
// made. A new file is removed only once its staged copy has left the staging folder: until
// then the file in its place is not the run's. Every path is
// resolved below `folder` with no link in any part (platform::PathBelow); a name that meets one
// is not touched. False when something could not be put back.
bool Undo(platform::Disk& disk, const std::u16string& folder, const SwitchPlan& plan,
          const std::vector<std::u16string>& movedWhole,
          const std::vector<std::u16string>& swapped) {
    const std::u16string staging = StagingFolderName + u'\\';
    const std::u16string backup = BackupFolderName + u'\\';
    bool complete = true;
    // An old folder that swapped whole comes back whole (where that fails, its files come back
    // one by one below).
    for (auto it = swapped.rbegin(); it != swapped.rend(); ++it)
        if (!UndoSwap(disk, folder, plan, *it)) complete = false;
    // A folder that moved into place whole goes back whole, with everything in it (where that
    // fails, its files are removed one by one below).
    for (auto it = movedWhole.rbegin(); it != movedWhole.rend(); ++it) {
        const std::optional<std::u16string> placed = platform::PathBelow(disk, folder, *it);
        const std::optional<std::u16string> staged =
            platform::PathBelow(disk, folder, staging + *it);
        if (!placed || !staged) {
            complete = false;
            continue;
        }
        if (disk.Kind(*placed) == EntryKind::Folder && disk.Kind(*staged) == EntryKind::Missing)
            disk.Move(*placed, *staged);
    }
    for (auto it = plan.files.rbegin(); it != plan.files.rend(); ++it) {
        const std::optional<std::u16string> target = platform::PathBelow(disk, folder, it->name);
        const std::optional<std::u16string> other =
            platform::PathBelow(disk, folder, (it->existed ? backup : staging) + it->name);
        if (!target || !other) {
            complete = false;
            continue;
        }
        if (it->existed) {
            // Without a backup the old file was never moved: it is still in place.
            if (disk.Kind(*other) != EntryKind::File) continue;
            if (!MoveOver(disk, *other, *target).ok()) complete = false;
        } else if (disk.Kind(*target) == EntryKind::File &&
                   disk.Kind(*other) == EntryKind::Missing) {
            if (!Delete(disk, *target).ok()) complete = false;
        }
    }
    for (auto it = plan.newFolders.rbegin(); it != plan.newFolders.rend(); ++it) {
        // A folder the plan made is gone again; one that is still there holds something that
        // is not the run's (it was emptied of the run's files above).
        const std::optional<std::u16string> path = platform::PathBelow(disk, folder, *it);
        if (path && disk.Kind(*path) == EntryKind::Folder) disk.RemoveFolder(*path);
    }
    return complete;
}

// Whether recovery may act on every name of `plan` in `folder`: each resolves below the folder,
// its staging folder and its backup folder with no link in any part; in an elevated run every
// backup of an old file is an administrator's.
bool MayActOn(platform::Disk& disk, const std::u16string& folder, const SwitchPlan& plan,
              bool elevated) {
    const std::u16string staging = StagingFolderName + u'\\';
    const std::u16string backup = BackupFolderName + u'\\';
    for (const std::u16string& name : plan.newFolders)
        if (!platform::PathBelow(disk, folder, name) ||
            !platform::PathBelow(disk, folder, staging + name))
            return false;
    for (const PlannedFile& file : plan.files) {
        if (!platform::PathBelow(disk, folder, file.name) ||
            !platform::PathBelow(disk, folder, staging + file.name))
            return false;
        const std::optional<std::u16string> saved =
            platform::PathBelow(disk, folder, backup + file.name);
        if (!saved) return false;
        if (elevated && file.existed && disk.Kind(*saved) != EntryKind::Missing &&
            !disk.AdministratorOwns(*saved))
            return false;
    }
    return true;
}

// Whether a change of `plan` may already be in place although the journal does not record the
// switch: a folder the plan was to make, or a file it was to add, is there. (A crash cannot
// make that: nothing moves before the switch is recorded; a damaged or forged journal can.)
bool ChangedBeforeSwitch(platform::Disk& disk, const std::u16string& folder,
                         const SwitchPlan& plan) {
    for (const std::u16string& name : plan.newFolders)
        if (disk.Kind(folder + name) != EntryKind::Missing) return true;
    for (const PlannedFile& file : plan.files)
        if (!file.existed && disk.Kind(folder + file.name) != EntryKind::Missing) return true;
    return false;
}

// True when a file lies anywhere below `folder` (links are not entered, but count).
bool HoldsFiles(platform::Disk& disk, const std::u16string& folder) {
    for (const platform::FolderEntry& entry : disk.List(folder)) {
        if (!entry.folder || entry.link) return true;
        if (HoldsFiles(disk, folder + entry.name + u'\\')) return true;
    }
    return false;
}

// The folders awaiting recovery, one a line (UTF-8), in the temporary folder. Read once, kept
// and changed in memory (folders compared without case, through a set), written once.
class PendingList {
  public:
    explicit PendingList(platform::Disk& disk, bool load = true) : disk_(disk) {
        if (!load) return;
        std::string text;
        disk_.Read(Path(), text);
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            if (end > start) {
                std::u16string folder =
                    platform::Utf8ToUtf16(std::string_view(text).substr(start, end - start));
                // A line that names no absolute folder, or one named before, is dropped.
                if (!IsAbsoluteFolder(folder) || !keys_.insert(Key(folder)).second)
                    changed_ = true;
                else
                    folders_.push_back(std::move(folder));
            }
            start = end + 1;
        }
    }
    // The folders noted, in the order they were noted.
    const std::vector<std::u16string>& Folders() const { return folders_; }
    bool Contains(const std::u16string& folder) const { return keys_.count(Key(folder)) != 0; }
    void Add(const std::u16string& folder) {
        if (!keys_.insert(Key(folder)).second) return;
        folders_.push_back(folder);
        changed_ = true;
    }
    void Remove(const std::u16string& folder) {
        changed_ = keys_.erase(Key(folder)) != 0 || changed_;
    }
    // The list as it now stands, written when it changed.
    void Save() {
        if (!changed_) return;
        std::vector<std::u16string> kept;
        std::unordered_set<std::u16string> written;
        for (const std::u16string& folder : folders_) {
            const std::u16string key = Key(folder);
            if (keys_.count(key) && written.insert(key).second) kept.push_back(folder);
        }
        Write(kept);
        changed_ = false;
    }

  private:
    static std::u16string Key(const std::u16string& folder) { return platform::UpperCase(folder); }
    static std::u16string Path() { return platform::TempDirectory() + u"klvupgrade.pending"; }
    // An absolute path ending with a separator.
    static bool IsAbsoluteFolder(const std::u16string& f) {
        return platform::IsAbsolutePath(f) && (f.back() == u'\\' || f.back() == u'/');
    }
    // The whole list replaced at once: written beside it, then moved over it.
    void Write(const std::vector<std::u16string>& folders) {
        if (folders.empty()) {
            if (disk_.Kind(Path()) != EntryKind::Missing) disk_.RemoveFile(Path());
            return;
        }
        std::string text;
        for (const std::u16string& folder : folders)
            text += platform::Utf16ToUtf8(folder) + "\n";
        const std::u16string fresh = Path() + u".new";
        // One left by a run that stopped here is not this list.
        if (disk_.Kind(fresh) != EntryKind::Missing) disk_.RemoveFile(fresh);
        DiskStatus status;
        {
            const auto file = disk_.Create(fresh, status);
            if (!file) return;
            status = file->Write(text);
            if (status.ok()) status = file->Flush();
        }
        if (!status.ok() || !disk_.Move(fresh, Path()).ok()) disk_.RemoveFile(fresh);
    }

    platform::Disk& disk_;
    std::vector<std::u16string> folders_;
    std::unordered_set<std::u16string> keys_; // upper case: the folders still noted
    bool changed_ = false;
};

// The log's account of what recovery found in `folder` and what it did.
void LogRecovery(RecoveryResult result, const std::u16string& folder) {
    const char* what = "";
    switch (result) {
    case RecoveryResult::Nothing:
        return;
    case RecoveryResult::Restored:
        what = "an interrupted earlier update was undone: the old files are back";
        break;
    case RecoveryResult::Completed:
        what = "an interrupted earlier update was finished: its backups are removed";
        break;
    case RecoveryResult::Incomplete:
        what = "an interrupted earlier update could not be undone wholly; its journal stays";
        break;
    case RecoveryResult::Unfinished:
        what = "an earlier update is in place, but its backups cannot be removed yet; its "
               "journal stays";
        break;
    case RecoveryResult::Unreadable:
        what = "an earlier update's journal cannot be read; nothing was changed";
        break;
    case RecoveryResult::OrphanBackup:
        what = "an earlier update's backup folder without a journal is kept";
        break;
    case RecoveryResult::Busy:
        what = "another update is running in this folder";
        break;
    case RecoveryResult::Untrusted:
        what = "an earlier update's remains are not trusted (a name through a link, or a "
               "journal or backup no administrator owns); nothing was changed";
        break;
    }
    Log(LogCategory::Recovery, std::string(what) + ": " + platform::Utf16ToAnsi(folder));
}

} // namespace

bool IsSafeJournalName(std::u16string_view name) {
    // A journal name is a payload item's installed path: one the payload rules take as it
    // stands, with '\' between its parts.
    std::u16string path;
    return !stubconf::ItemNameProblem(name, path) && path == name;
}

InstallJournal::InstallJournal(std::u16string folder, platform::Disk& disk)
    : folder_(std::move(folder)), journalPath_(folder_ + JournalFileName), disk_(disk) {}

InstallJournal::~InstallJournal() = default;

std::u16string InstallJournal::StagingFolder() const {
    return folder_ + StagingFolderName + u'\\';
}

std::u16string InstallJournal::BackupFolder() const {
    return folder_ + BackupFolderName + u'\\';
}

DiskStatus InstallJournal::Begin(const SwitchPlan& plan) {
    std::string text(kHeader);
    text += '\n';
    for (const auto& name : plan.newFolders)
        text += Record("D " + platform::Utf16ToUtf8(name));
    for (const auto& file : plan.files)
        text += Record(std::string("F ") + (file.existed ? '1' : '0') + ' ' +
                       platform::Utf16ToUtf8(file.name));
    text += Record(kPlanLine);
    DiskStatus status;
    file_ = disk_.Create(journalPath_, status);
    if (!file_) return status;
    status = file_->Write(text);
    if (status.ok()) status = file_->Flush();
    if (!status.ok()) {
        file_.reset();
        disk_.RemoveFile(journalPath_);
    }
    return status;
}

DiskStatus InstallJournal::Append(std::string_view line) {
    if (!file_) return DiskStatus::Failed(0);
    DiskStatus status = file_->Write(Record(line));
    return status.ok() ? file_->Flush() : status;
}

bool InstallJournal::SwitchOver(const SwitchPlan& plan, SwitchFailure& failure) {
    const std::u16string staging = StagingFolder();
    const std::u16string backup = BackupFolder();
    std::vector<std::u16string> recorded; // folders recorded as moving whole
    std::vector<std::u16string> swapped;  // folders recorded as swapping whole
    auto fail = [&](const std::u16string& name, DiskStatus status) {
        failure.file = name;
        failure.status = status;
        failure.restored = Undo(disk_, folder_, plan, recorded, swapped) && Discard();
        return false;
    };
    if (const DiskStatus status = Append(kSwitchLine); !status.ok()) return fail(u"", status);
    int step = 0;
    StopHere(step);
    // A folder the installation lacks moves into place whole, with everything staged in it
    // (one rename instead of one per file), recorded first so that an undo moves it back.
    // Only if that fails is it made, and its files moved one by one.
    std::vector<std::u16string> movedWhole; // upper case, with a trailing '\'
    auto inMovedFolder = [&](const std::u16string& name) {
        const std::u16string upper = platform::UpperCase(name);
        for (const auto& moved : movedWhole)
            if (upper.starts_with(moved)) return true;
        return false;
    };
    for (const auto& name : plan.newFolders) {
        if (inMovedFolder(name) || disk_.Kind(folder_ + name) == EntryKind::Folder) continue;
        const std::u16string parent(platform::PathHead(name, u"\\"));
        if ((parent.empty() || disk_.Kind(folder_ + parent) == EntryKind::Folder) &&
            disk_.Kind(staging + name) == EntryKind::Folder &&
            disk_.Kind(folder_ + name) == EntryKind::Missing) {
            if (const DiskStatus status = Append("W " + platform::Utf16ToUtf8(name)); !status.ok())
                return fail(u"", status);
            recorded.push_back(name);
        }
        if (!recorded.empty() && recorded.back() == name &&
            disk_.Move(staging + name, folder_ + name).ok()) {
            movedWhole.push_back(platform::UpperCase(name) + u'\\');
            StopHere(++step);
            continue;
        }
        if (const DiskStatus status = disk_.MakeFolder(folder_ + name); !status.ok())
            return fail(name, status);
    }
    std::set<std::u16string> backupFolders; // made already, upper case
    // An old folder that holds nothing but files the plan replaces, and whose staged copy holds
    // nothing but the plan's files for it, swaps whole: two renames instead of two a file.
    // Recorded first so that an undo swaps it back; if the old one cannot move (a file in it
    // held open), its files go one by one.
    for (const FolderFiles& candidate : SwapCandidates(plan)) {
        const std::u16string& name = candidate.name;
        if (!HoldsOnly(disk_, folder_ + name, candidate.oldOnes, true) ||
            !HoldsOnly(disk_, staging + name, candidate.all, true))
            continue;
        if (const DiskStatus status = Append("R " + platform::Utf16ToUtf8(name)); !status.ok())
            return fail(u"", status);
        swapped.push_back(name);
        const std::u16string saved = backup + name;
        const std::u16string savedIn(platform::PathHead(saved, u"\\"));
        if (backupFolders.insert(platform::UpperCase(savedIn)).second) {
            if (const DiskStatus status = platform::MakeFolders(disk_, savedIn); !status.ok())
                return fail(name, status);
        }
        if (!disk_.Move(folder_ + name, saved).ok()) continue;
        StopHere(++step);
        if (const DiskStatus status = disk_.Move(staging + name, folder_ + name); !status.ok())
            return fail(name, status);
        movedWhole.push_back(platform::UpperCase(name) + u'\\');
        StopHere(++step);
    }
    for (const auto& file : plan.files) {
        if (!movedWhole.empty() && inMovedFolder(file.name)) continue;
        const std::u16string target = folder_ + file.name;
        if (file.existed) {
            const std::u16string saved = backup + file.name;
            const std::u16string savedIn(platform::PathHead(saved, u"\\"));
            if (backupFolders.insert(platform::UpperCase(savedIn)).second) {
                if (const DiskStatus status = platform::MakeFolders(disk_, savedIn); !status.ok())
                    return fail(file.name, status);
            }
            if (const DiskStatus status = disk_.Move(target, saved); !status.ok())
                return fail(file.name, status);
            StopHere(++step);
        } else if (disk_.Kind(target) != EntryKind::Missing) {
            // A file that appeared since the plan was made: it has no backup, so it is not
            // replaced.
            return fail(file.name, DiskStatus{platform::DiskFailure::InUse, 0});
        }
        if (const DiskStatus status = disk_.Move(staging + file.name, target); !status.ok())
            return fail(file.name, status);
        StopHere(++step);
    }
    if (const DiskStatus status = Append(kCommitLine); !status.ok()) return fail(u"", status);
    return true;
}

bool InstallJournal::Discard() {
    bool gone = platform::RemoveTree(disk_, StagingFolder());
    gone = platform::RemoveTree(disk_, BackupFolder()) && gone;
    // The journal goes last, and only when nothing else of the run is left: until then it
    // tells the next start what to finish.
    if (!gone) return false;
    file_.reset();
    return disk_.Kind(journalPath_) == EntryKind::Missing || Delete(disk_, journalPath_).ok();
}

RecoveryResult RecoverInterruptedRun(const std::u16string& folder, bool ownFolder,
                                     platform::Disk& disk, bool elevated) {
    // The installation folder itself is followed once when it is a link (a junction left by a
    // move to another drive, a symbolic link, a mount point), as the run followed it; links
    // inside it are never entered.
    const EntryKind top = disk.Kind(folder);
    if (top != EntryKind::Folder && !(top == EntryKind::Link && disk.IsFolder(folder)))
        return RecoveryResult::Nothing;
    InstallJournal journal(folder, disk);
    const std::u16string journalPath = folder + JournalFileName;
    const std::u16string backupPath = folder + BackupFolderName;
    const bool backupThere = disk.Kind(backupPath) != EntryKind::Missing;
    const EntryKind journalKind = disk.Kind(journalPath);
    // An elevated run acts only on what an administrator made: what a standard user could have
    // written (in a folder where users may add files) is told and left as it is.
    auto untrusted = [&](const std::u16string& path) {
        return elevated && !disk.AdministratorOwns(path);
    };
    if (journalKind == EntryKind::Missing) {
        if (backupThere) return RecoveryResult::OrphanBackup;
        const std::u16string staging = folder + StagingFolderName;
        if (!ownFolder || disk.Kind(staging) == EntryKind::Missing) return RecoveryResult::Nothing;
        if (untrusted(staging)) return RecoveryResult::Untrusted;
        // Staged files without a journal: nothing had been moved.
        return platform::RemoveTree(disk, journal.StagingFolder()) ? RecoveryResult::Restored
                                                                   : RecoveryResult::Incomplete;
    }
    if (journalKind != EntryKind::File) return RecoveryResult::Unreadable;
    if (untrusted(journalPath) || (backupThere && untrusted(backupPath)))
        return RecoveryResult::Untrusted;
    std::string data;
    if (const DiskStatus status = disk.Read(journalPath, data); !status.ok())
        return status.failure == platform::DiskFailure::InUse ? RecoveryResult::Busy
                                                              : RecoveryResult::Unreadable;
    const JournalText text = ParseJournal(data);
    if (text.state == JournalText::Unreadable) return RecoveryResult::Unreadable;
    if (!MayActOn(disk, folder, text.plan, elevated)) return RecoveryResult::Untrusted;
    switch (text.state) {
    case JournalText::Unreadable:
        return RecoveryResult::Unreadable;
    case JournalText::TornPlan:
    case JournalText::Planned:
        // Nothing is moved before the switch is recorded (and a plan cut off was not complete):
        // a backup, or a change of the plan already in place, here is not proven this run's.
        if (backupThere || ChangedBeforeSwitch(disk, folder, text.plan))
            return RecoveryResult::Unreadable;
        // Elsewhere than the folder being installed, only a journal that shows its format.
        if (text.state == JournalText::TornPlan && !ownFolder &&
            !data.starts_with(std::string(kHeader) + '\n'))
            return RecoveryResult::Nothing;
        break;
    case JournalText::Switching:
        // Every saved file must be back before the backup folder may go.
        if (!Undo(disk, folder, text.plan, text.movedWhole, text.swapped) ||
            HoldsFiles(disk, journal.BackupFolder()))
            return RecoveryResult::Incomplete;
        break;
    case JournalText::Committed:
        return journal.Finish() ? RecoveryResult::Completed : RecoveryResult::Unfinished;
    }
    return journal.Discard() ? RecoveryResult::Restored : RecoveryResult::Incomplete;
}

std::vector<RecoveredFolder> RecoverEarlierRuns(const std::u16string& folder, bool recorded,
                                                const RecoveryTrust& trust, platform::Disk& disk) {
    // The note lies where a standard user may write it: an elevated run never reads it.
    recorded = recorded && !trust.elevated;
    PendingList pending(disk, recorded);
    std::vector<RecoveredFolder> found;
    auto recover = [&](const std::u16string& f, bool own) {
        const RecoveryResult result = RecoverInterruptedRun(f, own, disk, trust.elevated);
        if (result == RecoveryResult::Nothing) {
            if (recorded) pending.Remove(f);
            return;
        }
        LogRecovery(result, f);
        if (!BlocksInstallation(result)) pending.Remove(f);
        found.push_back({f, result});
    };
    // Only where this user could make the same changes itself, in a Kelvaro 3 installation.
    auto mayAct = [&](const std::u16string& f) {
        return trust.mayActOnNoted && trust.mayActOnNoted(f);
    };
    const bool ownNoted = recorded && !folder.empty() && pending.Contains(folder) && mayAct(folder);
    if (recorded) {
        const std::vector<std::u16string> noted = pending.Folders();
        for (const std::u16string& f : noted) {
            if (mayAct(f)) {
                recover(f, false);
                continue;
            }
            Log(LogCategory::Recovery,
                "a folder of the note of pending runs is no Kelvaro 3 installation this user "
                "may change; left alone: " +
                    platform::Utf16ToAnsi(f));
        }
    }
    if (!folder.empty() && !ownNoted) recover(folder, true);
    if (recorded) pending.Save();
    return found;
}

void RecordPendingRun(const std::u16string& folder, platform::Disk& disk) {
    PendingList pending(disk);
    pending.Add(folder);
    pending.Save();
}

void SettlePendingRun(const std::u16string& folder, platform::Disk& disk) {
    if (disk.Kind(folder + JournalFileName) != EntryKind::Missing) return;
    PendingList pending(disk);
    pending.Remove(folder);
    pending.Save();
}

} // namespace klv::app
