// Getting one item's data out: the local header, decryption, stored copy or inflate, the
// size and CRC-32 checks.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/prompts.h"
#include "zip/archiver.h"
#include "zip/crypto.h"
#include "zip/output.h"
#include "zip/write_behind.h"

namespace klv::zip {

namespace {

constexpr std::int64_t kChunkSize = 1 << 20;    // input chunk
constexpr std::size_t kInflateOutput = 1 << 20; // inflate output buffer
static_assert(kInflateOutput == TZAWriteBehind::kBufferSize,
              "inflate blocks are handed to the writer whole");
constexpr std::size_t kStoredPiece = 65535; // stored data is written in these pieces

// A raw-deflate inflate stream, ended on every way out.
class Inflater {
  public:
    bool Init() {
        ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
        return ok_;
    }
    ~Inflater() {
        if (ok_) inflateEnd(&z_);
    }
    z_stream& Stream() { return z_; }

  private:
    z_stream z_{};
    bool ok_ = false;
};

} // namespace

class ItemDecompressor {
  public:
    ItemDecompressor(TZABaseArchiver& a, TZAStream& archive, TZAOutput& output,
                     const TDirItem& item, std::int64_t dataLimit)
        : a_(a), in_(&archive), out_(output), item_(item), dataLimit_(dataLimit) {}

    bool Run() {
        TZAStream& in = *in_;
        // One read brings the local header and, for plain items, the start of the data as
        // the directory describes them.
        std::uint8_t* input = InputBuffer();
        const std::int64_t headerAt = in.Position();
        std::int64_t want = kLocalHeaderSize;
        if (!Encrypted() && a_.SpanningMode() == TZASpanningMode::smNone)
            // (local extra fields often run longer than the central ones: some room for it)
            want = std::min(kChunkSize, static_cast<std::int64_t>(kLocalHeaderSize) + 256 +
                                            item_.Header.NameLength() + item_.Header.ExtraLength() +
                                            std::max<std::int64_t>(item_.CompressedSize(), 0));
        const std::int64_t got = in.Read(input, want);
        if (got < static_cast<std::int64_t>(kLocalHeaderSize)) return false;
        local_ = LocalHeader::Parse(
            std::span<const std::uint8_t, kLocalHeaderSize>(input, kLocalHeaderSize));
        const std::int64_t dataOffset =
            static_cast<std::int64_t>(kLocalHeaderSize) + local_.nameLength + local_.extraLength;
        const std::int64_t dataStart = headerAt + dataOffset;
        // An item whose two records name different files, or whose data runs into the next
        // item's local header, is damaged however its data checks out.
        if (!LocalNameAgrees(input, got, headerAt)) throw EZAException(neNotIntact, &a_);
        if (dataLimit_ >= 0 && (dataStart > dataLimit_ || item_.CompressedSize() < 0 ||
                                item_.CompressedSize() > dataLimit_ - dataStart))
            throw EZAException(neNotIntact, &a_);
        prefetchAt_ = dataOffset;
        prefetched_ = std::max<std::int64_t>(got - dataOffset, 0);
        in.Seek(dataStart + prefetched_);

        // Each size by its own marker: a Zip64 block may hold either one alone.
        const CentralHeader& h = item_.Header;
        packed_ = item_.CompressedSize();
        unpacked_ = item_.UncompressedSize();
        // The data of an item never runs into the central directory.
        const TZADirManager& m = *a_.dirManager_;
        if (a_.SpanningMode() == TZASpanningMode::smNone &&
            dataStart + packed_ > m.DirectoryPosition)
            packed_ = std::max<std::int64_t>(m.DirectoryPosition - dataStart, 0);
        a_.progressTotal_ = unpacked_ > 0 ? unpacked_ : 2;
        a_.skipFile_ = false;

        const std::uint16_t method = item_.ActualMethod;
        if (method == kMethodDeflate64) throw EZAException(neDeflate64, nullptr);
        if (method != kMethodStored && method != kMethodDeflated) return false;
        if (!ChunkLoop(method)) return false;
        if (produced_ != unpacked_ || a_.cancel_) return false;

        if (h.VersionNeeded() >= kAlternativeVersionThreshold) return true;
        if (aes_) {
            std::uint8_t code[kAesAuthCodeLength];
            if (in_->Read(code, sizeof code) != static_cast<std::int64_t>(sizeof code))
                return false;
            return transform_->Authenticate(code);
        }
        return static_cast<std::uint32_t>(crc_) == h.Crc32();
    }

  private:
    bool Encrypted() const { return item_.Header.Flags() & kFlagEncrypted; }

    // Compares the local header's name, as stored, with the directory's; `got` bytes of the
    // records were read into `input`.
    bool LocalNameAgrees(const std::uint8_t* input, std::int64_t got, std::int64_t headerAt) {
        const std::size_t n = local_.nameLength;
        if (n != item_.Header.NameLength()) return false;
        if (got >= static_cast<std::int64_t>(kLocalHeaderSize + n))
            return a_.dirManager_->IsStoredName(item_, {input + kLocalHeaderSize, n});
        std::vector<std::uint8_t> name(n);
        return in_->ReadAt(headerAt + static_cast<std::int64_t>(kLocalHeaderSize), name.data(),
                           static_cast<std::int64_t>(n)) &&
               a_.dirManager_->IsStoredName(item_, name);
    }

    // Checks the password at the data start, asking again until it passes or the item is
    // skipped.
    bool PasswordLoop() {
        const TZACryptoAlgorithm algorithm = item_.CryptoAlgorithm;
        const bool aesItem = algorithm != TZACryptoAlgorithm::caPkzipClassic;
        if (aesItem && item_.Header.VersionNeeded() >= kAlternativeVersionThreshold) return false;
        const std::int64_t headerLength = static_cast<std::int64_t>(CryptoHeaderLength(algorithm));
        if (packed_ < headerLength) return false;
        packed_ -= headerLength;
        transform_ = MakeCryptoTransform(
            algorithm, a_.Password(), PkzipCheckByte(local_.flags, local_.dosTime, local_.crc32));
        aes_ = aesItem;
        const std::int64_t start = in_->Position();
        std::vector<std::uint8_t> header(transform_->CheckHeaderLength());
        for (;;) {
            in_->Seek(start);
            if (in_->Read(header.data(), static_cast<std::int64_t>(header.size())) !=
                static_cast<std::int64_t>(header.size()))
                return false;
            if (transform_->CheckPassword(header)) return true;
            std::string password = a_.Password();
            bool skip = false;
            a_.DoPassword(item_.FileName, password, skip);
            if (skip) {
                a_.skipFile_ = true;
                return false;
            }
            a_.SetPassword(password);
            if (!transform_->HasPassword(password)) transform_->SetPassword(password);
        }
    }

    bool ChunkLoop(std::uint16_t method) {
        if (Encrypted() && !PasswordLoop()) return false;
        Inflater inflater;
        if (method == kMethodDeflated && !inflater.Init()) return false;
        // The buffers stay with the component from item to item: no allocation and no
        // clearing per item.
        auto& buffers = a_.decompressBuffers_;
        if (method == kMethodDeflated && !buffers.output)
            buffers.output = std::make_unique_for_overwrite<std::uint8_t[]>(kInflateOutput);
        std::uint8_t* input = InputBuffer();
        std::int64_t read = 0;
        while (read < packed_) {
            const std::int64_t chunk = std::min(kChunkSize, packed_ - read);
            if (!ReadChunk(input, chunk)) return false;
            if (transform_) transform_->Decrypt(input, static_cast<std::size_t>(chunk));
            const bool ok = method == kMethodStored
                                ? ProcessStored(input, chunk, read)
                                : ProcessDeflated(inflater.Stream(), input, chunk);
            if (!ok) return false;
            read += chunk;
            if (a_.cancel_ || stopped_) break;
        }
        return !overflow_;
    }

    std::uint8_t* InputBuffer() {
        auto& input = a_.decompressBuffers_.input;
        if (!input) input = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
        return input.get();
    }

    bool ReadChunk(std::uint8_t* buffer, std::int64_t count) {
        std::int64_t got = 0;
        if (prefetched_ > 0) {
            got = std::min(prefetched_, count);
            std::memmove(buffer, InputBuffer() + prefetchAt_, static_cast<std::size_t>(got));
            prefetchAt_ += got;
            prefetched_ -= got;
        }
        if (got < count) {
            const std::int64_t more = in_->Read(buffer + got, count - got);
            if (more > 0) got += more;
        }
        while (got < count && a_.SpanningMode() != TZASpanningMode::smNone) {
            a_.OpenVolume(a_.volume_.VolumeNumber + 1);
            in_ = a_.stream_;
            in_->Seek(0);
            const std::int64_t more = in_->Read(buffer + got, count - got);
            if (more <= 0) break;
            got += more;
        }
        return got == count;
    }

    // Hands output on, never more than the item declares: a larger output is not intact.
    bool Emit(const std::uint8_t* data, std::int64_t n) {
        if (produced_ + n > unpacked_) {
            n = unpacked_ - produced_;
            overflow_ = true;
        }
        crc_ = crc32(crc_, data, static_cast<uInt>(n));
        produced_ += n;
        // A full inflate buffer goes to the writer thread as it is, and a free one comes back.
        auto& block = a_.decompressBuffers_.output;
        if (n > 0 && data == block.get() && out_.TakeBlock(block, static_cast<std::size_t>(n)))
            return !overflow_;
        if (n > 0 && !out_.Put(data, n)) stopped_ = true;
        return !overflow_ && !stopped_;
    }

    bool ProcessStored(const std::uint8_t* chunk, std::int64_t n, std::int64_t readBefore) {
        if (n == 0) return false;
        for (std::int64_t at = 0; at < n;) {
            const std::int64_t piece = std::min<std::int64_t>(kStoredPiece, n - at);
            a_.ReportBlockProgress(std::min(readBefore + at + piece, unpacked_));
            if (a_.cancel_) return true;
            if (!Emit(chunk + at, piece)) return !overflow_;
            at += piece;
        }
        return true;
    }

    bool ProcessDeflated(z_stream& z, std::uint8_t* chunk, std::int64_t n) {
        if (n == 0) return false;
        z.next_in = chunk;
        z.avail_in = static_cast<uInt>(n);
        for (;;) {
            a_.ReportBlockProgress(produced_);
            if (a_.cancel_) return true;
            // (the output buffer may have been handed to the writer after the last block)
            std::uint8_t* output = a_.decompressBuffers_.output.get();
            z.next_out = output;
            z.avail_out = static_cast<uInt>(kInflateOutput);
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc < 0 && !(rc == Z_BUF_ERROR && z.avail_in == 0)) return false;
            const std::int64_t have = static_cast<std::int64_t>(kInflateOutput - z.avail_out);
            if (have > 0 && !Emit(output, have)) return !overflow_;
            if (rc == Z_STREAM_END || rc < 0) return true;
            if (z.avail_in == 0 && have == 0) return true;
        }
    }

    TZABaseArchiver& a_;
    TZAStream* in_;
    TZAOutput& out_;
    const TDirItem& item_;
    std::int64_t dataLimit_; // the next item's local header, or -1
    LocalHeader local_;
    std::int64_t prefetchAt_ = 0; // data read with the local header, at this buffer offset
    std::int64_t prefetched_ = 0;
    std::int64_t packed_ = 0;
    std::int64_t unpacked_ = 0;
    std::int64_t produced_ = 0;
    uLong crc_ = crc32(0, nullptr, 0);
    bool overflow_ = false;
    bool stopped_ = false;
    bool aes_ = false;
    std::unique_ptr<TZACryptoTransform> transform_;
};

bool TZABaseArchiver::DecompressItem(TZAStream& archive, TZAStream& output, const TDirItem& item,
                                     std::int64_t dataLimit) {
    TZAStreamOutput out(output);
    out.OnShortWrite([this] { return ResolveShortWrite(); });
    return ItemDecompressor(*this, archive, out, item, dataLimit).Run();
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
    const bool intact =
        ItemDecompressor(*this, *stream_, output, item, dirManager_->NextLocalHeader(index)).Run();
    if (!intact && !cancel_ && !ExtractCorruptedFiles && !skipFile_)
        throw EZAException(neNotIntact, this);
}

void TZABaseArchiver::ReportBlockProgress(std::int64_t produced) {
    if (!progressEnabled_) return;
    const double fraction = static_cast<double>(produced) / static_cast<double>(progressTotal_);
    bool cancel = false;
    DoFileProgress(currentName_, fraction * 100.0, operation_, TZAProgressPhase::ppProcess, cancel);
    if (cancel) {
        cancel_ = true;
        return;
    }
    const double overall =
        (fraction + processedCount_) / std::max<std::int32_t>(itemsToProcess_, 1) * 100.0;
    DoOverallProgress(overall, operation_, TZAProgressPhase::ppProcess, cancel);
    if (cancel) cancel_ = true;
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
