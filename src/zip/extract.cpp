// The item loop and extraction: selection by mask, destination folders, overwrite rules,
// time stamps, attributes, the events and their default prompts.
#include <mutex>

#include "platform/disk.h"
#include "platform/password_dialog.h"
#include "platform/path_names.h"
#include "platform/prompts.h"
#include "platform/text.h"
#include "zip/archiver.h"
#include "zip/output.h"

namespace klv::zip {

namespace {

// Every item operation of every component in the process runs under this lock.
std::recursive_mutex& ItemOperationLock() {
    static std::recursive_mutex lock;
    return lock;
}

// A stored name that would leave the destination folder: absolute, with a drive or ':',
// a doubled separator, or a ".." component.
bool UnsafeStoredName(const std::u16string& name) {
    if (name.empty()) return false;
    if (name[0] == u'\\' || name.find(u':') != std::u16string::npos ||
        name.find(u"\\\\") != std::u16string::npos || name.find(u'\0') != std::u16string::npos)
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find(u'\\', start);
        const std::u16string_view part = std::u16string_view(name).substr(
            start, end == std::u16string::npos ? end : end - start);
        if (part == u"..") return true;
        if (end == std::u16string::npos) return false;
        start = end + 1;
    }
}

// Files an extraction hands to the flusher are flushed and closed before the item run returns,
// however it ends; a failure among them becomes the run's output failure unless one came first.
class FlushedAtEnd {
  public:
    FlushedAtEnd(std::unique_ptr<TZAFlusher>& flusher, std::optional<TZAOutputFailure>& failure)
        : flusher_(flusher), failure_(failure) {}
    FlushedAtEnd(const FlushedAtEnd&) = delete;
    FlushedAtEnd& operator=(const FlushedAtEnd&) = delete;
    ~FlushedAtEnd() {
        if (!flusher_) return;
        if (auto failed = flusher_->Wait(); failed && !failure_) failure_ = std::move(failed);
        flusher_.reset();
    }

  private:
    std::unique_ptr<TZAFlusher>& flusher_;
    std::optional<TZAOutputFailure>& failure_;
};

// An engine error for a change the disk refused, with the system's reason as the disk gave it.
EZAException DiskError(int nativeError, const TZAComponent* component,
                       const platform::DiskStatus& status, std::vector<TZAFormatArg> args = {}) {
    EZAException error(nativeError, component, std::move(args));
    error.SystemError = status.code;
    return error;
}

// Items from this size on are written by the second thread while the next blocks inflate;
// for smaller ones handing the data over would cost more than it saves.
constexpr std::int64_t kWriteBehindFrom = 2 << 20;

} // namespace

void TZABaseArchiver::DefaultConfirmOverwrite(const std::u16string& source, std::u16string& dest,
                                              bool& confirm) {
    using platform::PromptButton;
    const std::u16string text = FormatMessage(u"Overwrite file \"%s\" with \"%s\"", {dest, source});
    switch (platform::ShowPrompt(text, {PromptButton::Yes, PromptButton::No, PromptButton::NoToAll,
                                        PromptButton::YesToAll})) {
    case PromptButton::Yes:
        confirm = true;
        break;
    case PromptButton::NoToAll:
        confirm = false;
        Options.OverwriteMode = TZAOverwriteMode::omNever;
        break;
    case PromptButton::YesToAll:
        confirm = true;
        Options.OverwriteMode = TZAOverwriteMode::omAlways;
        break;
    default:
        confirm = false;
        break;
    }
}

void TZABaseArchiver::DefaultProcessFileFailure(int nativeError, const std::u16string& message,
                                                TZAAction& action) {
    using platform::PromptButton;
    if (nativeError == neVolumeDeclined) {
        action = TZAAction::fxaAbort;
        return;
    }
    PromptButton answer;
    if (nativeError == neFileNameTooLong)
        answer = platform::ShowPrompt(message, {PromptButton::Abort, PromptButton::Ignore});
    else
        answer = platform::ShowPrompt(
            FormatMessage(u"%s. File processing error, possibly disk is full", {message}),
            {PromptButton::Abort, PromptButton::Retry, PromptButton::Ignore});
    action = answer == PromptButton::Retry    ? TZAAction::fxaRetry
             : answer == PromptButton::Ignore ? TZAAction::fxaIgnore
                                              : TZAAction::fxaAbort;
}

void TZABaseArchiver::DefaultPassword(const std::u16string& fileName, std::string& newPassword,
                                      bool& skipFile) {
    const std::string caption =
        platform::Utf16ToAnsi(FormatMessage(u"Password for \"%s\"", {fileName}));
    std::string entered;
    if (platform::AskPassword(caption, "Enter password: ", entered)) {
        newPassword = entered;
        skipFile = false;
    } else {
        skipFile = true;
    }
}

std::u16string TZABaseArchiver::DestinationFolder() {
    if (cachedCurrentFolder_.empty()) cachedCurrentFolder_ = Output().FullPath(u".");
    std::u16string folder = BaseDir.empty() ? cachedCurrentFolder_ : BaseDir;
    if (folder.empty() || folder.back() != u'\\') folder.push_back(u'\\');
    return folder;
}

void TZABaseArchiver::SelectMatching(const std::u16string& fileMask, std::uint32_t searchAttr,
                                     const std::u16string& exclusionMask,
                                     TZAProcessOperation operation) {
    RequireOpen();
    if (updateCount_ > 0) throw EZAException(neUpdateNotEnded, this);
    TZADirArray& dir = dirManager_->Directory;
    TZAArchiveItem item;
    const bool plain = fileMask.find_first_of(u"*?") == std::u16string::npos;
    if (!Options.Recurse && plain && exclusionMask.empty() && searchAttr == kDefaultSearchAttr) {
        if (!FindFirstItem(fileMask, item, exclusionMask, searchAttr)) return;
        dir.Item(item.Search.Index).Selected = true;
        ProcessItems(operation, item.Search.Index);
        return;
    }
    for (std::int32_t i = 0; i < dir.Count(); ++i)
        dir.Item(i).Selected = false;
    for (bool ok = FindFirstItem(fileMask, item, exclusionMask, searchAttr); ok;
         ok = FindNextItem(item))
        dir.Item(item.Search.Index).Selected = true;
    ProcessItems(operation, -1);
}

void TZABaseArchiver::ExtractMatching(const std::u16string& fileMask, std::uint32_t searchAttr,
                                      const std::u16string& exclusionMask) {
    SelectMatching(fileMask, searchAttr, exclusionMask, TZAProcessOperation::poExtract);
}

void TZABaseArchiver::TestMatching(const std::u16string& fileMask, std::uint32_t searchAttr,
                                   const std::u16string& exclusionMask) {
    SelectMatching(fileMask, searchAttr, exclusionMask, TZAProcessOperation::poTest);
}

bool TZABaseArchiver::FileProgress(const std::u16string& fileName, double progress,
                                   TZAProcessOperation operation, TZAProgressPhase phase) {
    bool cancel = false;
    DoFileProgress(fileName, progress, operation, phase, cancel);
    if (cancel) cancel_ = true;
    return cancel;
}

void TZABaseArchiver::OverallProgress(double progress, TZAProcessOperation operation,
                                      TZAProgressPhase phase) {
    bool cancel = false;
    DoOverallProgress(progress, operation, phase, cancel);
    if (cancel) cancel_ = true;
}

void TZABaseArchiver::BeginItemRun(TZAProcessOperation operation, std::int32_t index) {
    const TZADirArray& dir = dirManager_->Directory;
    processedCount_ = 0;
    cancel_ = false;
    progressEnabled_ = true;
    operation_ = operation;
    itemsToProcess_ = 0;
    if (index != -1)
        itemsToProcess_ = 1;
    else
        for (std::int32_t i = 0; i < dir.Count(); ++i)
            itemsToProcess_ += dir.Item(i).Selected ? 1 : 0;
}

void TZABaseArchiver::ProcessItems(TZAProcessOperation operation, std::int32_t index) {
    std::lock_guard lock(ItemOperationLock());
    foldersMade_.Clear();
    RequireOpen();
    outputFailure_.reset();
    const FlushedAtEnd flushing(flusher_, outputFailure_);
    if (DurableOutput && operation == TZAProcessOperation::poExtract)
        flusher_ = std::make_unique<TZAFlusher>();
    BeginItemRun(operation, index);
    const bool reports =
        operation == TZAProcessOperation::poExtract || operation == TZAProcessOperation::poTest;
    if (reports) OverallProgress(0.0, operation, TZAProgressPhase::ppStart);
    // A run cancelled at its start ends without any further event.
    const bool cancelledAtStart = cancel_;

    const TZADirArray& dir = dirManager_->Directory;
    TZAAction action = TZAAction::fxaIgnore;
    for (std::int32_t i = index == -1 ? 0 : index; !cancel_ && i < dir.Count(); ++i) {
        if (!dir.Item(i).Selected) {
            if (index != -1) break;
            continue;
        }
        action = ProcessSelectedItem(i, operation, reports);
        if (action == TZAAction::fxaAbort || cancel_ || index != -1) break;
    }

    if (reports && !cancelledAtStart) OverallProgress(100.0, operation, TZAProgressPhase::ppEnd);
    if (cancel_ || action == TZAAction::fxaAbort) updateCount_ = 0;
}

TZAAction TZABaseArchiver::ProcessSelectedItem(std::int32_t index, TZAProcessOperation operation,
                                               bool reports) {
    TZADirArray& dir = dirManager_->Directory;
    dir.Item(index).UpdateState = operation;
    TZAAction action = TZAAction::fxaIgnore;
    do {
        action = TZAAction::fxaIgnore;
        const std::u16string fileName = platform::WithSeparators(dir.Item(index).FileName);
        currentName_ = fileName;
        try {
            ProcessItem(index, fileName, operation, reports);
        } catch (const EZAException& e) {
            DoProcessFileFailure(fileName, operation, e.NativeError, e.ErrorCode, e.Message(),
                                 action);
        }
    } while (action == TZAAction::fxaRetry);
    return action;
}

void TZABaseArchiver::ProcessItem(std::int32_t index, const std::u16string& fileName,
                                  TZAProcessOperation operation, bool reports) {
    bool confirm = true;
    DoConfirmProcessFile(fileName, operation, confirm);
    if (!confirm) return;
    const std::u16string destination = DestinationFolder();
    if (reports) FileProgress(fileName, 0.0, operation, TZAProgressPhase::ppStart);
    if (cancel_) return;
    if (operation == TZAProcessOperation::poExtract) {
        ExtractOneItem(index, fileName, destination);
    } else if (operation == TZAProcessOperation::poTest &&
               !(dirManager_->Directory.Item(index).Header.ExternalAttributes() & kAttrDirectory)) {
        TZANullStream nothing;
        ExtractItemToStream(index, nothing);
    }
    if (reports) FileProgress(fileName, 100.0, operation, TZAProgressPhase::ppEnd);
    if (!cancel_) ++processedCount_;
}

// The item's path below the destination: a name as stored never leaves it (one a handler chose
// is the caller's); a complete path stands alone; its folders are made, or without CreateDirs
// dropped from `fileName`.
std::u16string TZABaseArchiver::TargetPath(std::u16string& fileName,
                                           const std::u16string& storedName,
                                           const std::u16string& destination) {
    std::u16string folder = destination;
    if (fileName == storedName && UnsafeStoredName(storedName))
        throw EZAException(neCannotCreateFile, this, {folder + fileName});
    // A drive, a network path or (from a handler on Linux) a '/' path is a complete path.
    if (fileName.find(u':') != std::u16string::npos ||
        fileName.find(u"\\\\") != std::u16string::npos || fileName.starts_with(u'/'))
        folder.clear();

    const std::size_t lastSep = fileName.rfind(u'\\');
    if (!Options.CreateDirs) {
        if (lastSep != std::u16string::npos) fileName.erase(0, lastSep + 1);
    } else {
        const std::u16string_view part = std::u16string_view(fileName).substr(
            0, lastSep == std::u16string::npos ? 0 : lastSep + 1);
        // Below the destination each folder is asked for once per run; a complete path (a
        // handler's choice) is made as it comes.
        const platform::DiskStatus made =
            folder.empty() ? (part.empty() ? platform::DiskStatus{}
                                           : platform::MakeFolders(Output(), std::u16string(part)))
                           : foldersMade_.Make(Output(), folder, part);
        if (!made.ok())
            throw DiskError(neCannotCreateDirectory, this, made, {folder + std::u16string(part)});
    }
    return folder + fileName;
}

// The overwrite policy for an existing target: read-only files, the mode, the prompt (whose
// handler may choose another target).
bool TZABaseArchiver::MayReplace(const TDirItem& item, const std::u16string& fileName,
                                 std::u16string& target, bool& exists) {
    const std::uint32_t existing = Output().Attributes(target).value_or(0x04);
    if (!Options.ReplaceReadOnly && (existing & kAttrReadOnly)) return false;
    const std::int32_t itemStamp = static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(item.Header.DosDate()) << 16) | item.Header.DosTime());
    const std::int32_t fileStamp = static_cast<std::int32_t>(Output().DosStamp(target).value_or(0));
    switch (Options.OverwriteMode) {
    case TZAOverwriteMode::omPrompt: {
        bool confirm = false;
        const std::u16string asked = target;
        DoConfirmOverwrite(fileName, target, confirm);
        if (!confirm) return false;
        if (target != asked) exists = Output().IsFile(target);
        break;
    }
    case TZAOverwriteMode::omAlways:
        break;
    case TZAOverwriteMode::omNever:
        return false;
    case TZAOverwriteMode::omIfNewer:
        if (fileStamp >= itemStamp) return false;
        break;
    case TZAOverwriteMode::omIfOlder:
        if (fileStamp <= itemStamp) return false;
        break;
    }
    return true;
}

void TZABaseArchiver::ExtractOneItem(std::int32_t index, std::u16string fileName,
                                     const std::u16string& destination) {
    TDirItem& item = dirManager_->Directory.Item(index);
    const std::u16string storedName = fileName;
    std::uint32_t attr = item.Header.ExternalAttributes();
    DoExtractFile(fileName, attr, item.Comment);
    std::u16string target = TargetPath(fileName, storedName, destination);
    const bool isFolder = (item.Header.ExternalAttributes() & kAttrDirectory) ||
                          (!item.FileName.empty() && item.FileName.back() == u'/');
    if (isFolder) return;

    platform::Disk& disk = Output();
    platform::DiskStatus createStatus;
    auto fresh = disk.Create(target, createStatus);
    bool exists = !fresh && disk.IsFile(target);
    if (exists && !MayReplace(item, fileName, target, exists)) return;

    // A new file for an existing target is written beside it and replaces it only when it
    // is complete.
    TZAPendingFile pending =
        fresh ? TZAPendingFile(disk, target, std::move(fresh)) : TZAPendingFile(disk, target);
    if (!pending.Created())
        throw DiskError(neCannotCreateFile, this, exists ? pending.Status() : createStatus,
                        {target});
    bool failed = false;
    std::optional<EZAException> failure;
    {
        std::unique_ptr<TZAOutput> out;
        if (item.UncompressedSize() < kWriteBehindFrom) {
            out = std::make_unique<TZAFileOutput>(pending.File());
        } else {
            if (!writeBehind_) writeBehind_ = std::make_unique<TZAWriteBehind>();
            out = std::make_unique<TZAWriteBehindOutput>(*writeBehind_, pending.File());
        }
        try {
            ExtractItemTo(index, *out);
            // The last blocks may still be on their way; a short one is a full disk as well.
            out->Finish();
        } catch (const EZAException& e) {
            failed = true;
            failure = e;
        }
    }
    // With durable output the file must be exactly the item: a time or attributes that do not
    // take fail it.
    auto must = [&](platform::DiskStatus status) {
        if (status.ok() || !DurableOutput) return;
        if (!outputFailure_) outputFailure_ = TZAOutputFailure{target, status};
        throw DiskError(neDiskFull, this, status);
    };
    const platform::DiskStatus stamped = pending.File().SetDosStamp(
        (static_cast<std::uint32_t>(item.Header.DosDate()) << 16) | item.Header.DosTime());
    if (failed) throw *failure;
    must(stamped);
    if (skipFile_ || cancel_) return;
    // The attributes go onto the new file before it takes the target's place; a new file is
    // made with the archive bit already.
    if (Options.SetAttributes && attr != kAttrArchive) must(pending.File().SetAttributes(attr));
    if (DurableOutput && pending.InPlace()) {
        flusher_->Add(pending.Release(), target);
        return;
    }
    if (DurableOutput || (Options.FlushBuffers && disk.IsRemovable(target)))
        must(pending.File().Flush());
    pending.Close();
    if (exists) disk.SetAttributes(target, 0);
    if (!pending.MoveOver(target))
        throw DiskError(neCannotCreateFile, this, pending.Status(), {target});
}

platform::Disk& TZABaseArchiver::Output() {
    return OutputDisk ? *OutputDisk : platform::SystemDisk();
}

} // namespace klv::zip
