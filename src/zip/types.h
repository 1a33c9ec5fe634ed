// The engine's public value types: enumerations, options, events and the item record.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace klv::zip {

class TZABaseArchiver;

enum class TZAStorePathMode : std::uint8_t {
    spNoPath,
    spRelativePath,
    spFullPath,
    spFullPathWithDrive
};
enum class TZAOverwriteMode : std::uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum class TZAFileShareMode : std::uint8_t {
    smShareCompat,
    smShareExclusive,
    smShareDenyWrite,
    smShareDenyRead,
    smShareDenyNone
};
enum class TZACompressionLevel : std::uint8_t { clNone, clFastest, clNormal, clMax };
enum class TZASpanningMode : std::uint8_t { smNone, smSpanning, smSplitting };
enum class TZAVolumeSize : std::uint8_t {
    vsAutoDetect,
    vsCustom,
    vs1_44MB,
    vs100MB,
    vs200MB,
    vs250MB,
    vs600MB,
    vs650MB,
    vs700MB,
    vs4700MB
};
enum class TZip64Mode : std::uint8_t { zmDisabled, zmAuto, zmAlways };
enum class TZACryptoAlgorithm : std::uint8_t { caPkzipClassic, caAES_128, caAES_192, caAES_256 };
enum class TZAProcessOperation : std::uint8_t {
    poAdd,
    poMove,
    poDelete,
    poUpdate,
    poExtract,
    poTest,
    poRename,
    poChangeAttr,
    poChangeComment,
    poNone
};
enum class TZAProgressPhase : std::uint8_t { ppStart, ppProcess, ppEnd };
enum class TZAAction : std::uint8_t { fxaRetry, fxaIgnore, fxaAbort };

inline constexpr std::uint32_t kDefaultSearchAttr = 10431; // 0x28BF

class TZAOptions {
  public:
    TZAStorePathMode StorePath = TZAStorePathMode::spRelativePath;
    bool Recurse = true;
    TZAFileShareMode ShareMode = TZAFileShareMode::smShareDenyNone;
    TZAOverwriteMode OverwriteMode = TZAOverwriteMode::omAlways;
    bool CreateDirs = true;
    bool ReplaceReadOnly = true;
    bool SetAttributes = true;
    std::uint32_t SearchAttr = kDefaultSearchAttr;
    bool FlushBuffers = true;
    bool OEMFileNames = true;

    // Copies every field except ShareMode.
    void Assign(const TZAOptions& other) {
        TZAFileShareMode keep = ShareMode;
        *this = other;
        ShareMode = keep;
    }
    // The file-open share part of ShareMode.
    std::uint16_t ShareModeValue() const {
        static constexpr std::uint16_t values[] = {0x00, 0x10, 0x20, 0x30, 0x40};
        return values[static_cast<int>(ShareMode)];
    }
};

class TZASpanningOptions {
  public:
    bool AdvancedNaming = false;
    std::int64_t FirstVolumeSize = 0;
    TZAVolumeSize VolumeSize = TZAVolumeSize::vsAutoDetect;
    bool DirectoryOnFirstVolume = false;

    std::int64_t CustomVolumeSize() const { return customVolumeSize_; }
    void SetCustomVolumeSize(std::int64_t v) { customVolumeSize_ = v < 65536 ? 65536 : v; }
    void Assign(const TZASpanningOptions& other) { *this = other; }
    // The size limit of a volume; -1 means no fixed limit.
    std::int64_t VolumeSizeLimit(bool firstVolume) const;

  private:
    std::int64_t customVolumeSize_ = 0;
};

struct TZAVolumeNumberInfo {
    enum class Kind : std::uint8_t { vkFirst, vkLast, vkCustom, vkUnknown };
    Kind VolumeKind = Kind::vkLast;
    std::int32_t VolumeNumber = -1;
    std::int32_t LastVolumeNumber = -1;
    void Reset() { *this = TZAVolumeNumberInfo{}; }
    bool IsFirst() const { return VolumeKind == Kind::vkFirst || VolumeNumber == 0; }
    bool IsLast() const {
        return VolumeKind == Kind::vkLast ||
               (LastVolumeNumber >= 0 && VolumeNumber == LastVolumeNumber);
    }
};

inline constexpr std::size_t kMaskCapacity = 260; // 259 units and a terminating zero

struct TInternalSearchRec {
    std::int32_t Index = 0;
    std::array<char16_t, kMaskCapacity> Mask{};
    bool HasWildcards = false;
    std::uint32_t Attributes = 0;
    std::u16string Exclusion;
    bool UseMaskLists = false;
};

// Describes one archive item to callers of FindFirstItem and FindNextItem.
struct TZAArchiveItem {
    std::u16string FileName;
    std::u16string FolderPath;
    std::int64_t PackedSize = 0;
    std::int64_t UnpackedSize = 0;
    double Ratio = 0;
    bool Encrypted = false;
    std::uint16_t DosDate = 0;
    std::uint16_t DosTime = 0;
    std::uint32_t Crc32 = 0;
    std::uint32_t Attributes = 0;
    std::string Comment;
    TInternalSearchRec Search;
};

// Events. Out-parameters are references; each has a default when unassigned.
using TZAProgressEvent = std::function<void(TZABaseArchiver& Sender, double Progress,
                                            TZAProcessOperation Operation,
                                            TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAFileProgressEvent = std::function<void(
    TZABaseArchiver& Sender, const std::u16string& FileName, double Progress,
    TZAProcessOperation Operation, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZACopyTempFileProgressEvent = std::function<void(
    TZABaseArchiver& Sender, double Progress, TZAProgressPhase ProgressPhase, bool& Cancel)>;
using TZAConfirmOverwriteEvent =
    std::function<void(TZABaseArchiver& Sender, const std::u16string& SourceFileName,
                       std::u16string& DestFileName, bool& Confirm)>;
using TZAConfirmProcessFileEvent =
    std::function<void(TZABaseArchiver& Sender, const std::u16string& FileName,
                       TZAProcessOperation Operation, bool& Confirm)>;
using TZANotifyEvent = std::function<void(TZABaseArchiver& Sender)>;
using TZAPasswordEvent =
    std::function<void(TZABaseArchiver& Sender, const std::u16string& FileName,
                       std::string& NewPassword, bool& SkipFile)>;
using TZAProcessFileFailureEvent = std::function<void(
    TZABaseArchiver& Sender, const std::u16string& FileName, TZAProcessOperation Operation,
    int NativeError, int ErrorCode, const std::u16string& ErrorMessage, TZAAction& Action)>;
using TZARequestVolumeEvent = std::function<void(TZABaseArchiver& Sender, int VolumeNumber,
                                                 std::u16string& VolumeFileName, bool& Cancel)>;
using TZARequestEdgeVolumeEvent =
    std::function<void(TZABaseArchiver& Sender, std::u16string& VolumeFileName, bool& Cancel)>;
using TZADiskFullEvent = std::function<void(TZABaseArchiver& Sender, int VolumeNumber,
                                            const std::u16string& VolumeFileName, bool& Cancel)>;
using TZAStoreFileEvent =
    std::function<void(TZABaseArchiver& Sender, std::u16string& FileName, int& FileAttr,
                       std::string& Comment, const std::u16string& OriginalFileName)>;
using TZAExtractFileEvent =
    std::function<void(TZABaseArchiver& Sender, std::u16string& FileName,
                       std::uint32_t& FileAttr, const std::string& Comment)>;

} // namespace klv::zip
