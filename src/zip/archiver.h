// The archive component: TZABaseArchiver and TZipArchive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "zip/directory.h"
#include "zip/directory_reader.h"
#include "zip/entry_stream.h"
#include "zip/errors.h"
#include "zip/flusher.h"
#include "zip/folder_maker.h"
#include "zip/streams.h"
#include "zip/types.h"

namespace klv::zip {

class TZAOutput;
class TZAWriteBehind;

inline constexpr std::uint16_t kOpenModeCreate = 0xFFFF;
inline constexpr std::uint16_t kOpenModeProbe = 0x22;     // read/write, deny write
inline constexpr std::uint16_t kOpenModeShareRead = 0x40; // read, deny none

class TZABaseArchiver : public TZAComponent {
  public:
    TZABaseArchiver();
    virtual ~TZABaseArchiver();
    TZABaseArchiver(const TZABaseArchiver&) = delete;
    TZABaseArchiver& operator=(const TZABaseArchiver&) = delete;

    // Published properties.
    // Name (the component's name, prefixing its error messages) comes from TZAComponent.
    std::u16string FileName;
    std::u16string BaseDir;
    std::u16string TempDir;
    std::u16string SFXStub;
    TZAOptions Options;
    std::vector<std::u16string> FileMasks;
    std::vector<std::u16string> ExclusionMasks;
    std::vector<std::u16string> NoCompressionMasks;
    bool InMemory = false;
    bool ExtractCorruptedFiles = false;
    TZASpanningOptions SpanningOptions;
    // Reads an executable only up to its certificate table, so a signed package opens as
    // it was before signing (see zip/signed_view.h). Off: the whole file.
    bool SignedView = false;
    // Where extracted files and their folders are made: a Disk of the caller's (an
    // installation run's), or null for the system's disk.
    platform::Disk* OutputDisk = nullptr;
    // Every extracted file flushed to the medium (on threads of its own while the next items
    // are written); an extraction returns only when all are. A file whose data, time,
    // attributes or flush failed is named by OutputFailure() afterwards.
    bool DurableOutput = false;
    const std::optional<TZAOutputFailure>& OutputFailure() const { return outputFailure_; }

    const std::string& Password() const { return password_; }
    virtual void SetPassword(const std::string& password) { password_ = password; }
    TZACompressionLevel CompressionLevel() const { return compressionLevel_; }
    void SetCompressionLevel(TZACompressionLevel level);
    std::uint8_t CompressionMode() const { return compressionMode_; }
    void SetCompressionMode(int mode); // above 9: native code 5
    std::u16string CurrentVersion() const;
    TZASpanningMode SpanningMode() const { return spanningMode_; }
    void SetSpanningMode(TZASpanningMode mode); // refused while an archive is open

    // Events.
    TZAProgressEvent OnOverallProgress;
    TZAFileProgressEvent OnFileProgress;
    TZACopyTempFileProgressEvent OnCopyTempFileProgress;
    TZAConfirmOverwriteEvent OnConfirmOverwrite;
    TZAConfirmProcessFileEvent OnConfirmProcessFile;
    TZANotifyEvent AfterOpen;
    TZAPasswordEvent OnPassword;
    // Called while the item's EZAException is being handled: std::current_exception() is it,
    // with the system's error of the failed call (EZAException::SystemError).
    TZAProcessFileFailureEvent OnProcessFileFailure;
    TZARequestVolumeEvent OnRequestBlankVolume;
    TZARequestEdgeVolumeEvent OnRequestFirstVolume;
    TZARequestEdgeVolumeEvent OnRequestLastVolume;
    TZARequestVolumeEvent OnRequestMiddleVolume;
    TZADiskFullEvent OnDiskFull;
    TZAStoreFileEvent OnStoreFile;
    TZAExtractFileEvent OnExtractFile;

    // Opening and closing.
    void Open();
    void Open(std::uint16_t mode);
    void Close();
    bool IsOpen() const { return isOpen_; }

    // Item search.
    bool FindFirstItem(const std::u16string& fileMask, TZAArchiveItem& item,
                       const std::u16string& exclusionMask = {},
                       std::uint32_t searchAttr = kDefaultSearchAttr);
    bool FindNextItem(TZAArchiveItem& item);

    // Extraction: every item matching the masks and attributes is written below BaseDir.
    void ExtractMatching(const std::u16string& fileMask = u"*.*",
                         std::uint32_t searchAttr = kDefaultSearchAttr,
                         const std::u16string& exclusionMask = {});
    // The same selection, each item decompressed into nothing: every integrity check runs
    // and the disk is not touched.
    void TestMatching(const std::u16string& fileMask = u"*.*",
                      std::uint32_t searchAttr = kDefaultSearchAttr,
                      const std::u16string& exclusionMask = {});
    // The item-to-stream step: decompresses item `index` into `output`; native code 16 for a
    // bad index, 8 when the data is not intact (unless kept or skipped).
    void ExtractItemToStream(std::int32_t index, TZAStream& output);
    // Decompresses the item whose local header starts at the archive stream's position; its
    // records must end by `dataLimit` (the next item's local header; -1: no limit).
    bool DecompressItem(TZAStream& archive, TZAStream& output, const TDirItem& item,
                        std::int64_t dataLimit = -1);
    // Runs the item loop for one item (index) or every marked item (-1).
    void ProcessItems(TZAProcessOperation operation, std::int32_t index);

    // State of the open archive (for the engine's own operations and for tests).
    std::int64_t ArchiveStart() const { return dirManager_ ? dirManager_->ArchiveStart : 0; }
    const TZADirManager* DirManager() const { return dirManager_.get(); }
    TZADirManager* DirManager() { return dirManager_.get(); }
    TZAStream* ArchiveStream() { return stream_; }
    bool UseStandardSignatures() const { return standardSignatures_; }
    const SignatureSet& Signatures() const {
        return standardSignatures_ ? kStandardSignatures : kAlternativeSignatures;
    }
    std::int32_t UpdateCount() const { return updateCount_; }
    bool TolerantOpen() const { return tolerantOpen_; }
    void SetTolerantOpen(bool on) { tolerantOpen_ = on; }

  protected:
    // Dispatchers: call the handler when one is assigned, else keep the defaults.
    virtual void DoOverallProgress(double progress, TZAProcessOperation op, TZAProgressPhase phase,
                                   bool& cancel);
    virtual void DoFileProgress(const std::u16string& fileName, double progress,
                                TZAProcessOperation op, TZAProgressPhase phase, bool& cancel);
    virtual void DoConfirmOverwrite(const std::u16string& source, std::u16string& dest,
                                    bool& confirm);
    virtual void DoConfirmProcessFile(const std::u16string& fileName, TZAProcessOperation op,
                                      bool& confirm);
    virtual void DoPassword(const std::u16string& fileName, std::string& newPassword,
                            bool& skipFile);
    virtual void DoProcessFileFailure(const std::u16string& fileName, TZAProcessOperation op,
                                      int nativeError, int errorCode, const std::u16string& message,
                                      TZAAction& action);
    virtual void DoRequestLastVolume(std::u16string& volumeFileName, bool& cancel);
    virtual void DoRequestMiddleVolume(int volumeNumber, std::u16string& volumeFileName,
                                       bool& cancel);
    virtual void DoDiskFull(int volumeNumber, const std::u16string& volumeFileName, bool& cancel);
    virtual void DoExtractFile(std::u16string& fileName, std::uint32_t& fileAttr,
                               const std::string& comment);
    virtual void UpdateNewItemMethod() {}
    // The default prompts behind the events.
    void DefaultConfirmOverwrite(const std::u16string& source, std::u16string& dest, bool& confirm);
    void DefaultProcessFileFailure(int nativeError, const std::u16string& message,
                                   TZAAction& action);
    void DefaultPassword(const std::u16string& fileName, std::string& newPassword, bool& skipFile);

    bool standardSignatures_ = false;
    std::uint16_t newItemMethod_ = 0;

  private:
    class EntryEvents;
    class Volumes;

    // The directory reader for the open stream, with the component's settings and volumes.
    TZADirectoryReader Reader();

    // Reads one item's data through the entry stream into `output`; raises for the failures
    // that are never kept (Deflate64, an item that is not what its records say).
    TZAEntryResult ReadEntry(TZAStream& archive, TZAOutput& output, const TDirItem& item,
                             std::int64_t nextLocalHeader);

    void SelectMatching(const std::u16string& fileMask, std::uint32_t searchAttr,
                        const std::u16string& exclusionMask, TZAProcessOperation operation);
    // The item-to-output step behind ExtractItemToStream and the extraction to files.
    void ExtractItemTo(std::int32_t index, TZAOutput& output);
    std::u16string TargetPath(std::u16string& fileName, const std::u16string& storedName,
                              const std::u16string& destination);
    bool MayReplace(const TDirItem& item, const std::u16string& fileName, std::u16string& target,
                    bool& exists);
    void ExtractOneItem(std::int32_t index, std::u16string fileName,
                        const std::u16string& destination);
    std::u16string DestinationFolder();
    // The steps of ProcessItems. A new run's state: nothing processed or cancelled, the items
    // to process counted.
    void BeginItemRun(TZAProcessOperation operation, std::int32_t index);
    // One selected item, again while the failure handler asks for a retry: its last answer.
    TZAAction ProcessSelectedItem(std::int32_t index, TZAProcessOperation operation, bool reports);
    // One try: the confirmation, the operation and its start and end events; failures raise.
    void ProcessItem(std::int32_t index, const std::u16string& fileName,
                     TZAProcessOperation operation, bool reports);
    // The progress events; a handler that cancels ends the run (FileProgress: true then).
    bool FileProgress(const std::u16string& fileName, double progress,
                      TZAProcessOperation operation, TZAProgressPhase phase);
    void OverallProgress(double progress, TZAProcessOperation operation, TZAProgressPhase phase);
    // Progress of the current item's output: the per-block events.
    void ReportBlockProgress(std::int64_t produced);
    // Raises neNotOpen unless the archive is open.
    void RequireOpen() const;
    // A write came up short: the disk-full event or its default. True to write again.
    bool ResolveShortWrite();

    void ProbeArchive();
    void OpenLastVolume();
    void OpenVolume(std::int32_t number);
    void DecideSpanningMode(bool endRecordFound);
    std::u16string VolumeFileName(std::int32_t number, bool last) const;
    void FreeStream();

    std::string password_;
    TZACompressionLevel compressionLevel_ = TZACompressionLevel::clFastest;
    std::uint8_t compressionMode_ = 1;
    TZASpanningMode spanningMode_ = TZASpanningMode::smNone;

    bool isOpen_ = false;
    bool streamOwnedElsewhere_ = false;
    bool tolerantOpen_ = true;
    bool aborted_ = false;
    std::uint16_t openMode_ = 0;
    std::int32_t updateCount_ = 0;
    std::unique_ptr<TZAStream> ownedStream_;
    TZAStream* stream_ = nullptr;
    std::u16string streamName_;
    std::unique_ptr<TZADirManager> dirManager_;
    TZAVolumeNumberInfo volume_;

    // State of one item run.
    bool cancel_ = false;
    bool progressEnabled_ = false;
    bool skipFile_ = false;
    std::int32_t itemsToProcess_ = 0;
    std::int32_t processedCount_ = 0;
    std::int64_t progressTotal_ = 2;
    TZAProcessOperation operation_ = TZAProcessOperation::poNone;
    std::u16string currentName_; // the item's name with '\' separators, for the events
    std::u16string cachedCurrentFolder_;
    TZAFolderMaker foldersMade_;                  // the folders this item run made or found
    std::unique_ptr<TZAWriteBehind> writeBehind_; // made at the first extraction
    platform::Disk& Output();
    std::unique_ptr<TZAFlusher> flusher_; // for one extraction with DurableOutput
    std::optional<TZAOutputFailure> outputFailure_;
    TZAEntryBuffers entryBuffers_;
    std::unique_ptr<Volumes> volumes_;
};

class TZipArchive : public TZABaseArchiver {
  public:
    TZipArchive();

    TZip64Mode Zip64Mode = TZip64Mode::zmDisabled;
    bool UnicodeFilenames = false;
    TZACryptoAlgorithm EncryptionMethod = TZACryptoAlgorithm::caPkzipClassic;

  protected:
    void UpdateNewItemMethod() override { newItemMethod_ = CompressionMode() > 0 ? 8 : 0; }
};

// Wildcard test of a name against a mask: '*', '?', "*.*" and a trailing '.'; case-insensitive.
bool MatchesMask(std::u16string_view name, std::u16string_view mask);

} // namespace klv::zip
