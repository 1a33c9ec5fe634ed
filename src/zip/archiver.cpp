#include "zip/archiver.h"

#include <cstdio>

#include "platform/disk.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "zip/directory_reader.h"
#include "zip/signed_view.h"
#include "zip/write_behind.h"

namespace klv::zip {

namespace {

std::u16string ChangeExtension(std::u16string_view path, std::u16string_view ext) {
    std::u16string_view name = platform::PathTail(path);
    std::size_t dot = name.rfind(u'.');
    std::size_t cut =
        dot == std::u16string_view::npos ? path.size() : path.size() - name.size() + dot;
    return std::u16string(path.substr(0, cut)) + std::u16string(ext);
}

std::u16string Ascii(const char* s) {
    std::u16string out;
    while (*s)
        out.push_back(static_cast<char16_t>(*s++));
    return out;
}

// Names whose lower-cased extension contains ".exe" are opened as executables.
bool IsExecutableName(std::u16string_view path) {
    std::u16string_view name = platform::PathTail(path);
    std::size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) return false;
    return platform::LowerCase(name.substr(dot)).find(u".exe") != std::u16string::npos;
}

// Restores the tolerant-open flag on every way out of the probe.
class TolerantOff {
  public:
    TolerantOff(TZABaseArchiver& a) : a_(a), saved_(a.TolerantOpen()) { a_.SetTolerantOpen(false); }
    ~TolerantOff() { a_.SetTolerantOpen(saved_); }
    bool Saved() const { return saved_; }

  private:
    TZABaseArchiver& a_;
    bool saved_;
};

} // namespace

std::int64_t TZASpanningOptions::VolumeSizeLimit(bool firstVolume) const {
    if (firstVolume && FirstVolumeSize > 0) return FirstVolumeSize;
    switch (VolumeSize) {
    case TZAVolumeSize::vsCustom:
        return customVolumeSize_;
    case TZAVolumeSize::vs1_44MB:
        return 1457664;
    case TZAVolumeSize::vs100MB:
        return 104857600;
    case TZAVolumeSize::vs200MB:
        return 209715200;
    case TZAVolumeSize::vs250MB:
        return 262144000;
    case TZAVolumeSize::vs600MB:
        return 629145600;
    case TZAVolumeSize::vs650MB:
        return 681574400;
    case TZAVolumeSize::vs700MB:
        return 734003200;
    case TZAVolumeSize::vs4700MB:
        return 4928307200LL;
    case TZAVolumeSize::vsAutoDetect:
        break;
    }
    return -1;
}

// The component's volumes as the directory reader asks for them.
class TZABaseArchiver::Volumes final : public TZAVolumes {
  public:
    explicit Volumes(TZABaseArchiver& a) : a_(a) {}
    void SetLastVolume(std::int32_t number) override {
        a_.volume_.VolumeNumber = number;
        a_.volume_.LastVolumeNumber = number;
    }
    std::int32_t Current() const override { return a_.volume_.VolumeNumber; }
    TZAStream& Open(std::int32_t number) override {
        a_.OpenVolume(number);
        return *a_.stream_;
    }

  private:
    TZABaseArchiver& a_;
};

TZABaseArchiver::TZABaseArchiver() = default;

TZABaseArchiver::~TZABaseArchiver() {
    try {
        Close();
    } catch (...) {
    }
}

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel level) {
    static constexpr std::uint8_t modes[] = {0, 1, 6, 9};
    compressionLevel_ = level;
    compressionMode_ = modes[static_cast<int>(level)];
    UpdateNewItemMethod();
}

void TZABaseArchiver::SetCompressionMode(int mode) {
    if (mode < 0 || mode > 9) throw EZAException(neCompressionMode, this);
    compressionMode_ = static_cast<std::uint8_t>(mode);
    compressionLevel_ = mode == 0   ? TZACompressionLevel::clNone
                        : mode <= 3 ? TZACompressionLevel::clFastest
                        : mode <= 6 ? TZACompressionLevel::clNormal
                                    : TZACompressionLevel::clMax;
    UpdateNewItemMethod();
}

std::u16string TZABaseArchiver::CurrentVersion() const {
    return u"TZipArchive 5.04";
}

void TZABaseArchiver::SetSpanningMode(TZASpanningMode mode) {
    if (isOpen_) throw EZAError(u"Cannot set spanning mode on open archive");
    spanningMode_ = mode;
}

// Dispatchers.
void TZABaseArchiver::DoOverallProgress(double progress, TZAProcessOperation op,
                                        TZAProgressPhase phase, bool& cancel) {
    if (OnOverallProgress) OnOverallProgress(*this, progress, op, phase, cancel);
}
void TZABaseArchiver::DoFileProgress(const std::u16string& fileName, double progress,
                                     TZAProcessOperation op, TZAProgressPhase phase, bool& cancel) {
    if (OnFileProgress) OnFileProgress(*this, fileName, progress, op, phase, cancel);
}
void TZABaseArchiver::DoConfirmOverwrite(const std::u16string& source, std::u16string& dest,
                                         bool& confirm) {
    if (OnConfirmOverwrite)
        OnConfirmOverwrite(*this, source, dest, confirm);
    else
        DefaultConfirmOverwrite(source, dest, confirm);
}
void TZABaseArchiver::DoConfirmProcessFile(const std::u16string& fileName, TZAProcessOperation op,
                                           bool& confirm) {
    if (OnConfirmProcessFile) OnConfirmProcessFile(*this, fileName, op, confirm);
}
void TZABaseArchiver::DoPassword(const std::u16string& fileName, std::string& newPassword,
                                 bool& skipFile) {
    if (OnPassword)
        OnPassword(*this, fileName, newPassword, skipFile);
    else
        DefaultPassword(fileName, newPassword, skipFile);
}
void TZABaseArchiver::DoProcessFileFailure(const std::u16string& fileName, TZAProcessOperation op,
                                           int nativeError, int errorCode,
                                           const std::u16string& message, TZAAction& action) {
    if (OnProcessFileFailure)
        OnProcessFileFailure(*this, fileName, op, nativeError, errorCode, message, action);
    else
        DefaultProcessFileFailure(nativeError, message, action);
}
void TZABaseArchiver::DoRequestLastVolume(std::u16string& volumeFileName, bool& cancel) {
    if (OnRequestLastVolume) OnRequestLastVolume(*this, volumeFileName, cancel);
}
void TZABaseArchiver::DoRequestMiddleVolume(int volumeNumber, std::u16string& volumeFileName,
                                            bool& cancel) {
    if (OnRequestMiddleVolume) OnRequestMiddleVolume(*this, volumeNumber, volumeFileName, cancel);
}
void TZABaseArchiver::DoDiskFull(int volumeNumber, const std::u16string& volumeFileName,
                                 bool& cancel) {
    if (OnDiskFull) OnDiskFull(*this, volumeNumber, volumeFileName, cancel);
}
void TZABaseArchiver::DoExtractFile(std::u16string& fileName, std::uint32_t& fileAttr,
                                    const std::string& comment) {
    if (OnExtractFile) OnExtractFile(*this, fileName, fileAttr, comment);
}

// Multi-volume naming: a split set ends in the ".zip" volume, the volumes before it are
// ".z01", ".z02", ... (with advanced naming ".001", ".002", ...); a spanned set keeps one
// name on every medium.
std::u16string TZABaseArchiver::VolumeFileName(std::int32_t number, bool last) const {
    if (spanningMode_ != TZASpanningMode::smSplitting) return FileName;
    if (last) return ChangeExtension(FileName, u".zip");
    char ext[16];
    std::snprintf(ext, sizeof ext, SpanningOptions.AdvancedNaming ? ".%03d" : ".z%02d", number + 1);
    return ChangeExtension(FileName, Ascii(ext));
}

void TZABaseArchiver::FreeStream() {
    if (!streamOwnedElsewhere_) ownedStream_.reset();
    stream_ = nullptr;
    streamName_.clear();
}

void TZABaseArchiver::OpenLastVolume() {
    std::u16string name = VolumeFileName(-1, true);
    if (spanningMode_ == TZASpanningMode::smSpanning) {
        bool cancel = false;
        DoRequestLastVolume(name, cancel);
        if (cancel) throw EZAException(neVolumeDeclined, this);
    }
    FreeStream();
    auto file = std::make_unique<TZAFileStream>(name, openMode_);
    if (SignedView)
        if (auto table = FindCertificateTable(*file)) file->LimitSize(table->offset);
    ownedStream_ = std::move(file);
    stream_ = ownedStream_.get();
    streamName_ = name;
    volume_.VolumeKind = TZAVolumeNumberInfo::Kind::vkLast;
}

void TZABaseArchiver::OpenVolume(std::int32_t number) {
    if (volume_.VolumeNumber == number && stream_) return;
    std::u16string name = VolumeFileName(number, false);
    if (volume_.LastVolumeNumber >= 0 && number == volume_.LastVolumeNumber)
        name = VolumeFileName(number, true);
    bool cancel = false;
    if (spanningMode_ == TZASpanningMode::smSpanning || !platform::SystemDisk().IsFile(name))
        DoRequestMiddleVolume(number, name, cancel);
    if (cancel || !platform::SystemDisk().IsFile(name)) throw EZAException(neVolumeDeclined, this);
    FreeStream();
    ownedStream_ = std::make_unique<TZAFileStream>(name, openMode_);
    stream_ = ownedStream_.get();
    streamName_ = name;
    volume_.VolumeKind = TZAVolumeNumberInfo::Kind::vkCustom;
    volume_.VolumeNumber = number;
    if (dirManager_) dirManager_->Stream = stream_;
}

void TZABaseArchiver::DecideSpanningMode(bool endRecordFound) {
    const bool removable = platform::SystemDisk().IsRemovable(FileName);
    if (!endRecordFound) {
        spanningMode_ = removable ? TZASpanningMode::smSpanning : TZASpanningMode::smNone;
        return;
    }
    const std::uint16_t disk = dirManager_->End.ThisDisk();
    if (disk == 0) {
        spanningMode_ = TZASpanningMode::smNone;
        return;
    }
    spanningMode_ = TZASpanningMode::smSplitting;
    if (platform::SystemDisk().IsFile(VolumeFileName(0, false))) return;
    SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
    if (platform::SystemDisk().IsFile(VolumeFileName(0, false))) return;
    SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
    const bool exe = platform::LowerCase(FileName).find(u".exe") != std::u16string::npos;
    spanningMode_ = exe ? TZASpanningMode::smNone : TZASpanningMode::smSpanning;
}

void TZABaseArchiver::ProbeArchive() {
    TolerantOff probe(*this);
    bool found = false;
    auto pass = [&] {
        dirManager_.reset();
        volume_.Reset();
        OpenLastVolume();
        dirManager_ = std::make_unique<TZADirManager>();
        dirManager_->Stream = stream_;
        dirManager_->Owner = this;
        dirManager_->Directory.Owner = this;
        found = Reader().FindEndRecord().has_value();
        DecideSpanningMode(found);
    };
    // A medium without an end record asks for the last volume again; a handler that keeps
    // answering with nothing new must not keep the open going forever.
    constexpr int kMaxPasses = 8;
    int passes = 0;
    if (IsExecutableName(FileName)) {
        pass();
        if (!found) {
            spanningMode_ = TZASpanningMode::smSplitting;
            std::u16string split = VolumeFileName(-1, true);
            spanningMode_ = TZASpanningMode::smNone;
            if (platform::SystemDisk().IsFile(split)) {
                do {
                    pass();
                } while (!found && spanningMode_ != TZASpanningMode::smNone &&
                         ++passes < kMaxPasses);
            }
        }
    } else {
        do {
            if (!platform::SystemDisk().IsFile(FileName) &&
                platform::SystemDisk().IsRemovable(FileName))
                spanningMode_ = TZASpanningMode::smSpanning;
            pass();
        } while (!found && spanningMode_ != TZASpanningMode::smNone && ++passes < kMaxPasses);
    }
    if (!found && spanningMode_ != TZASpanningMode::smNone)
        throw EZAException(neVolumeDeclined, this);
    if (!found && !probe.Saved()) {
        FreeStream();
        throw EZAException(neArchiveDamaged, this);
    }
}

TZADirectoryReader TZABaseArchiver::Reader() {
    if (!volumes_) volumes_ = std::make_unique<Volumes>(*this);
    TZADirectorySettings settings;
    settings.standardSignatures = UseStandardSignatures();
    settings.oemNames = Options.OEMFileNames;
    settings.tolerant = TolerantOpen();
    settings.multiVolume = spanningMode_ != TZASpanningMode::smNone;
    settings.component = this;
    return TZADirectoryReader(settings, volumes_.get(), *dirManager_);
}

void TZABaseArchiver::RequireOpen() const {
    if (!isOpen_ || !dirManager_) throw EZAException(neNotOpen, this);
}

void TZABaseArchiver::Open() {
    aborted_ = false;
    if (!InMemory && platform::PathTail(FileName).empty())
        throw EZAException(neBlankFileName, this);
    std::uint16_t mode = kOpenModeCreate;
    if (!InMemory && platform::SystemDisk().IsFile(FileName)) {
        int error = 0;
        auto probe = platform::FileStream::Open(FileName, kOpenModeProbe, error);
        mode = probe ? kOpenModeProbe : kOpenModeShareRead;
    }
    Open(mode);
}

void TZABaseArchiver::Open(std::uint16_t mode) {
    if (!InMemory && platform::PathTail(FileName).empty())
        throw EZAException(neBlankFileNameForMode, this);
    if (mode != kOpenModeCreate && !platform::SystemDisk().IsFile(FileName) &&
        spanningMode_ != TZASpanningMode::smSpanning &&
        !platform::SystemDisk().IsRemovable(FileName))
        throw EZAException(neFileNotFound, this, {FileName});
    if (mode != kOpenModeCreate && InMemory)
        throw EZAException(neInMemoryCreateOnly, this, {FileName});
    Close();
    streamOwnedElsewhere_ = false;
    openMode_ = mode;
    try {
        if (mode == kOpenModeCreate || InMemory) {
            if (InMemory)
                ownedStream_ = std::make_unique<TZAMemoryStream>();
            else
                ownedStream_ = std::make_unique<TZAFileStream>(FileName, platform::fmCreate);
            stream_ = ownedStream_.get();
            streamName_ = FileName;
            volume_.Reset();
            volume_.VolumeKind = TZAVolumeNumberInfo::Kind::vkFirst;
            volume_.VolumeNumber = 0;
            dirManager_ = std::make_unique<TZADirManager>();
            dirManager_->Stream = stream_;
            dirManager_->Owner = this;
            dirManager_->Directory.Owner = this;
            dirManager_->Creating = true;
            if (!SFXStub.empty()) {
                TZAFileStream stub(SFXStub, platform::fmOpenRead | platform::fmShareDenyNone);
                const std::int64_t limit = SpanningOptions.VolumeSizeLimit(true);
                if (spanningMode_ != TZASpanningMode::smNone && limit > 0 && stub.Size() > limit)
                    throw EZAException(neStubTooLarge, this);
                std::vector<std::uint8_t> buffer(1 << 16);
                for (std::int64_t n; (n = stub.Read(buffer.data(), 1 << 16)) > 0;)
                    stream_->Write(buffer.data(), n);
                dirManager_->ArchiveStart = stub.Size();
            }
        } else {
            spanningMode_ = TZASpanningMode::smNone;
            volume_.Reset();
            ProbeArchive();
            Reader().Load();
        }
    } catch (...) {
        FreeStream();
        dirManager_.reset();
        throw;
    }
    isOpen_ = true;
    if (AfterOpen) AfterOpen(*this);
}

void TZABaseArchiver::Close() {
    if (isOpen_) {
        try {
            if (stream_ && dirManager_ && stream_->Size() == dirManager_->ArchiveStart)
                Reader().WriteEmptyDirectory();
        } catch (...) {
        }
        isOpen_ = false;
    }
    FreeStream();
    dirManager_.reset();
}

TZipArchive::TZipArchive() {
    standardSignatures_ = true;
    UpdateNewItemMethod();
}

} // namespace klv::zip
