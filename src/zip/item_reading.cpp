// The front's side of reading an item: the entry stream is given the item, its bounds, the
// password and the events; its result becomes the engine's error codes.
#include <algorithm>

#include "platform/prompts.h"
#include "zip/archiver.h"
#include "zip/entry_stream.h"
#include "zip/output.h"

namespace klv::zip {

// The component's events and volumes as the entry stream asks for them.
class TZABaseArchiver::EntryEvents final : public TZAEntryEvents {
  public:
    explicit EntryEvents(TZABaseArchiver& a) : a_(a) {}
    bool Progress(std::int64_t produced, std::int64_t total) override {
        a_.progressTotal_ = total;
        a_.ReportBlockProgress(produced);
        return !a_.cancel_;
    }
    bool AskPassword(const std::u16string& fileName, std::string& password) override {
        password = a_.Password();
        bool skip = false;
        a_.DoPassword(fileName, password, skip);
        if (skip) return false;
        a_.SetPassword(password);
        return true;
    }
    TZAStream* NextVolume() override {
        a_.OpenVolume(a_.volume_.VolumeNumber + 1);
        return a_.stream_;
    }

  private:
    TZABaseArchiver& a_;
};

TZAEntryResult TZABaseArchiver::ReadEntry(TZAStream& archive, TZAOutput& output,
                                          const TDirItem& item, std::int64_t nextLocalHeader) {
    EntryEvents events(*this);
    const TZAEntryBounds bounds{nextLocalHeader, dirManager_->DirectoryPosition,
                                spanningMode_ != TZASpanningMode::smNone};
    skipFile_ = false;
    const TZAEntryResult result =
        TZAEntryStream(archive, item, *dirManager_, bounds, Password(), events, entryBuffers_)
            .CopyTo(output);
    switch (result) {
    case TZAEntryResult::Deflate64:
        throw EZAException(neDeflate64, nullptr);
    // Not a damaged copy of the data that could be kept: the item is not what it says it is.
    case TZAEntryResult::Misdescribed:
        throw EZAException(neNotIntact, this);
    case TZAEntryResult::Skipped:
        skipFile_ = true;
        break;
    default:
        break;
    }
    return result;
}

bool TZABaseArchiver::DecompressItem(TZAStream& archive, TZAStream& output, const TDirItem& item,
                                     std::int64_t dataLimit) {
    RequireOpen();
    TZAStreamOutput out(output);
    out.OnShortWrite([this] { return ResolveShortWrite(); });
    return ReadEntry(archive, out, item, dataLimit) == TZAEntryResult::Intact;
}

void TZABaseArchiver::ExtractItemToStream(std::int32_t index, TZAStream& output) {
    TZAStreamOutput out(output);
    ExtractItemTo(index, out);
}

void TZABaseArchiver::ExtractItemTo(std::int32_t index, TZAOutput& output) {
    RequireOpen();
    output.OnShortWrite([this] { return ResolveShortWrite(); });
    TZADirArray& dir = dirManager_->Directory;
    if (index < 0 || index >= dir.Count()) throw EZAException(neIndexOutOfBounds, this);
    const TDirItem& item = dir.Item(index);
    if (spanningMode_ != TZASpanningMode::smNone) {
        std::int32_t disk = item.Header.DiskStart();
        if (disk == kZip64Marker16)
            disk = dirManager_->IsZip64 ? static_cast<std::int32_t>(item.Zip64DiskStart) : 0;
        OpenVolume(disk);
    }
    stream_->Seek(item.LocalHeaderOffset());
    const bool intact = ReadEntry(*stream_, output, item, dirManager_->NextLocalHeader(index)) ==
                        TZAEntryResult::Intact;
    if (!intact && !cancel_ && !ExtractCorruptedFiles && !skipFile_)
        throw EZAException(neNotIntact, this);
}

void TZABaseArchiver::ReportBlockProgress(std::int64_t produced) {
    if (!progressEnabled_) return;
    const double fraction = static_cast<double>(produced) / static_cast<double>(progressTotal_);
    if (FileProgress(currentName_, fraction * 100.0, operation_, TZAProgressPhase::ppProcess))
        return;
    const double overall =
        (fraction + processedCount_) / std::max<std::int32_t>(itemsToProcess_, 1) * 100.0;
    OverallProgress(overall, operation_, TZAProgressPhase::ppProcess);
}

bool TZABaseArchiver::ResolveShortWrite() {
    if (OnDiskFull) {
        bool cancel = true;
        DoDiskFull(0, FileName, cancel);
        if (cancel) cancel_ = true;
        return !cancel;
    }
    if (spanningMode_ == TZASpanningMode::smNone) throw EZAException(neDiskFull, nullptr);
    const std::u16string text =
        FormatMessage(u"Disk is full. Required free space: %d bytes, but available only: %d bytes. "
                      u"Clean the disk or find another blank disk",
                      {std::int64_t{0}, std::int64_t{0}});
    if (platform::ShowPrompt(text, {platform::PromptButton::Ok, platform::PromptButton::Cancel}) ==
        platform::PromptButton::Ok)
        return true;
    cancel_ = true;
    return false;
}

} // namespace klv::zip
