#include "app/install_journal.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/tree_files.h"

namespace klv::app {

namespace {

constexpr std::string_view kHeader = "KLVUPGRADE-JOURNAL 1";
constexpr std::string_view kSwitchLine = "SWITCH";
constexpr std::string_view kCommitLine = "COMMITTED";

// Removes a file that may be read-only.
bool Delete(const std::u16string& path) {
    platform::SetAttributesOf(path, 0x20);
    return platform::RemoveFile(path);
}

struct JournalText {
    bool valid = false;
    bool switching = false;
    bool committed = false;
    SwitchPlan plan;
};

// Reads the journal's complete lines; a line cut off by an interrupted write is ignored.
JournalText ReadJournal(const std::u16string& path) {
    JournalText text;
    int error = 0;
    auto stream =
        platform::FileStream::Open(path, platform::fmOpenRead | platform::fmShareDenyNone, error);
    if (!stream) return text;
    std::string data;
    char buffer[65536];
    for (std::int64_t n; (n = stream->Read(buffer, sizeof buffer)) > 0;)
        data.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    bool first = true;
    for (std::size_t end; (end = data.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string_view line(data.data() + start, end - start);
        if (first) {
            first = false;
            text.valid = line == kHeader;
            if (!text.valid) return text;
        } else if (line == kSwitchLine) {
            text.switching = true;
        } else if (line == kCommitLine) {
            text.committed = true;
        } else if (line.size() > 2 && line.substr(0, 2) == "D ") {
            text.plan.newFolders.push_back(platform::Utf8ToUtf16(line.substr(2)));
        } else if (line.size() > 4 && line.substr(0, 2) == "F " && line[3] == ' ') {
            text.plan.files.push_back({platform::Utf8ToUtf16(line.substr(4)), line[2] == '1'});
        }
    }
    return text;
}

// Puts every file of the plan back as it was before the switch, from the last to the first,
// and removes the folders the plan made. False when something could not be put back.
bool Undo(const std::u16string& folder, const std::u16string& backup, const SwitchPlan& plan) {
    bool complete = true;
    for (auto it = plan.files.rbegin(); it != plan.files.rend(); ++it) {
        const std::u16string target = folder + it->name;
        const std::u16string saved = backup + it->name;
        if (it->existed) {
            // Without a backup the old file was never moved: it is still in place.
            if (!platform::FileExists(saved)) continue;
            if (platform::FileExists(target) && !Delete(target)) complete = false;
            if (!platform::MoveReplacing(saved, target)) complete = false;
        } else if (platform::FileExists(target)) {
            if (!Delete(target)) complete = false;
        }
    }
    for (auto it = plan.newFolders.rbegin(); it != plan.newFolders.rend(); ++it)
        platform::RemoveEmptyFolder(folder + *it);
    return complete;
}

void StopHere(int step) {
    const int stopAfter = StopAfterStep();
    if (stopAfter >= 0 && step >= stopAfter) std::_Exit(99);
}

} // namespace

int StopAfterStep() {
    const char* value = std::getenv("KLVUPGRADE_STOP_AFTER_STEP");
    return value && *value ? std::atoi(value) : -1;
}

InstallJournal::InstallJournal(std::u16string folder)
    : folder_(std::move(folder)), journalPath_(folder_ + JournalFileName) {}

std::u16string InstallJournal::StagingFolder() const {
    return folder_ + StagingFolderName + u'\\';
}

std::u16string InstallJournal::BackupFolder() const {
    return folder_ + BackupFolderName + u'\\';
}

bool InstallJournal::Begin(const SwitchPlan& plan) {
    std::string text(kHeader);
    text += '\n';
    for (const auto& name : plan.newFolders)
        text += "D " + platform::Utf16ToUtf8(name) + '\n';
    for (const auto& file : plan.files)
        text += std::string("F ") + (file.existed ? '1' : '0') + ' ' +
                platform::Utf16ToUtf8(file.name) + '\n';
    int error = 0;
    auto stream = platform::FileStream::Open(journalPath_, platform::fmCreate, error);
    if (!stream) return false;
    const auto size = static_cast<std::int64_t>(text.size());
    return stream->Write(text.data(), size) == size && stream->Flush();
}

bool InstallJournal::Append(std::string_view line) {
    int error = 0;
    auto stream = platform::FileStream::Open(
        journalPath_, platform::fmOpenReadWrite | platform::fmShareExclusive, error);
    if (!stream) return false;
    std::string text(line);
    text += '\n';
    stream->Seek(stream->Size());
    const auto size = static_cast<std::int64_t>(text.size());
    return stream->Write(text.data(), size) == size && stream->Flush();
}

bool InstallJournal::SwitchOver(const SwitchPlan& plan, std::u16string& failedFile) {
    const std::u16string staging = StagingFolder();
    const std::u16string backup = BackupFolder();
    if (!Append(kSwitchLine)) return false;
    int step = 0;
    StopHere(step);
    auto fail = [&](const std::u16string& name) {
        failedFile = name;
        if (Undo(folder_, backup, plan)) Discard();
        return false;
    };
    // A folder the installation lacks moves into place whole, with everything staged in it
    // (one rename instead of one per file). Only if that fails is it made, and its files
    // moved one by one. The undo needs no record of it: every file below it is new.
    std::vector<std::u16string> movedWhole; // upper case, with a trailing '\'
    auto inMovedFolder = [&](const std::u16string& name) {
        const std::u16string upper = platform::UpperCase(name);
        for (const auto& moved : movedWhole)
            if (upper.starts_with(moved)) return true;
        return false;
    };
    for (const auto& name : plan.newFolders) {
        if (inMovedFolder(name) || platform::DirectoryExists(folder_ + name)) continue;
        const std::u16string parent = std::u16string(platform::PathHead(name, u"\\"));
        if ((parent.empty() || platform::DirectoryExists(folder_ + parent)) &&
            platform::DirectoryExists(staging + name) &&
            platform::MoveReplacing(staging + name, folder_ + name)) {
            movedWhole.push_back(platform::UpperCase(name) + u'\\');
            StopHere(++step);
            continue;
        }
        if (!platform::MakeDirectories(folder_ + name)) return fail(name);
    }
    for (const auto& file : plan.files) {
        if (!movedWhole.empty() && inMovedFolder(file.name)) continue;
        const std::u16string target = folder_ + file.name;
        if (file.existed) {
            const std::u16string saved = backup + file.name;
            if (!platform::MakeDirectories(std::u16string(platform::PathHead(saved, u"\\"))) ||
                !platform::MoveReplacing(target, saved))
                return fail(file.name);
            StopHere(++step);
        }
        if (!platform::MoveReplacing(staging + file.name, target)) return fail(file.name);
        StopHere(++step);
    }
    if (!Append(kCommitLine)) return fail(u"");
    return true;
}

void InstallJournal::Discard() {
    platform::RemoveTree(StagingFolder());
    platform::RemoveTree(BackupFolder());
    platform::RemoveFile(journalPath_);
}

void InstallJournal::Finish() {
    Discard();
}

RecoveryResult RecoverInterruptedRun(const std::u16string& folder) {
    InstallJournal journal(folder);
    const std::u16string journalPath = folder + JournalFileName;
    if (!platform::FileExists(journalPath)) {
        // Cut off while staging, before the plan was on disk: only the staged files are there.
        if (!platform::DirectoryExists(journal.StagingFolder())) return RecoveryResult::Nothing;
        platform::RemoveTree(journal.StagingFolder());
        return RecoveryResult::Restored;
    }
    const JournalText text = ReadJournal(journalPath);
    if (text.valid && text.switching && !text.committed &&
        !Undo(folder, journal.BackupFolder(), text.plan))
        return RecoveryResult::Incomplete;
    journal.Discard();
    return RecoveryResult::Restored;
}

} // namespace klv::app
