#include "zip/entry_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace klv::zip {

namespace {

constexpr std::int64_t kChunkSize = 1 << 20; // input chunk
constexpr std::size_t kStoredPiece = 65535;  // stored data is written in these pieces

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

TZAEntryStream::TZAEntryStream(TZAStream& archive, const TDirItem& item,
                               const TZADirManager& directory, const TZAEntryBounds& bounds,
                               std::string password, TZAEntryEvents& events,
                               TZAEntryBuffers& buffers)
    : in_(&archive), item_(item), directory_(directory), bounds_(bounds),
      password_(std::move(password)), events_(events), buffers_(buffers),
      crc_(static_cast<std::uint32_t>(crc32(0, nullptr, 0))) {}

TZAEntryStream::~TZAEntryStream() = default;

TZAEntryResult TZAEntryStream::CopyTo(TZAOutput& output) {
    out_ = &output;
    TZAStream& in = *in_;
    // One read brings the local header and, for plain items, the start of the data as the
    // directory describes them.
    std::uint8_t* input = InputBuffer();
    const std::int64_t headerAt = in.Position();
    std::int64_t want = kLocalHeaderSize;
    if (!Encrypted() && !bounds_.multiVolume)
        // (local extra fields often run longer than the central ones: some room for it)
        want = std::min(kChunkSize, static_cast<std::int64_t>(kLocalHeaderSize) + 256 +
                                        item_.Header.NameLength() + item_.Header.ExtraLength() +
                                        std::max<std::int64_t>(item_.CompressedSize(), 0));
    const std::int64_t got = in.Read(input, want);
    if (got < static_cast<std::int64_t>(kLocalHeaderSize)) return TZAEntryResult::Damaged;
    local_ = LocalHeader::Parse(
        std::span<const std::uint8_t, kLocalHeaderSize>(input, kLocalHeaderSize));
    const std::int64_t dataOffset =
        static_cast<std::int64_t>(kLocalHeaderSize) + local_.nameLength + local_.extraLength;
    const std::int64_t dataStart = headerAt + dataOffset;
    // An item whose two records name different files, or whose data runs into the next
    // item's local header, is damaged however its data checks out.
    if (!LocalNameAgrees(input, got, headerAt)) return TZAEntryResult::Misdescribed;
    const std::int64_t limit = bounds_.nextLocalHeader;
    if (limit >= 0 && (dataStart > limit || item_.CompressedSize() < 0 ||
                       item_.CompressedSize() > limit - dataStart))
        return TZAEntryResult::Misdescribed;
    prefetchAt_ = dataOffset;
    prefetched_ = std::max<std::int64_t>(got - dataOffset, 0);
    in.Seek(dataStart + prefetched_);

    // Each size by its own marker: a Zip64 block may hold either one alone.
    const CentralHeader& h = item_.Header;
    packed_ = item_.CompressedSize();
    unpacked_ = item_.UncompressedSize();
    // The data of an item never runs into the central directory.
    if (!bounds_.multiVolume && dataStart + packed_ > bounds_.directoryPosition)
        packed_ = std::max<std::int64_t>(bounds_.directoryPosition - dataStart, 0);

    const std::uint16_t method = item_.ActualMethod;
    if (method == kMethodDeflate64) return TZAEntryResult::Deflate64;
    if (method != kMethodStored && method != kMethodDeflated) return TZAEntryResult::Damaged;
    if (const TZAEntryResult r = ChunkLoop(method); r != TZAEntryResult::Intact) return r;
    if (stopped_) return TZAEntryResult::Cancelled;
    if (produced_ != unpacked_) return TZAEntryResult::Damaged;

    if (h.VersionNeeded() >= kAlternativeVersionThreshold) return TZAEntryResult::Intact;
    bool intact;
    if (aes_) {
        std::uint8_t code[kAesAuthCodeLength];
        intact = in_->Read(code, sizeof code) == static_cast<std::int64_t>(sizeof code) &&
                 transform_->Authenticate(code);
    } else {
        intact = crc_ == h.Crc32();
    }
    return intact ? TZAEntryResult::Intact : TZAEntryResult::Damaged;
}

bool TZAEntryStream::LocalNameAgrees(const std::uint8_t* input, std::int64_t got,
                                     std::int64_t headerAt) {
    const std::size_t n = local_.nameLength;
    if (n != item_.Header.NameLength()) return false;
    if (got >= static_cast<std::int64_t>(kLocalHeaderSize + n))
        return directory_.IsStoredName(item_, {input + kLocalHeaderSize, n});
    std::vector<std::uint8_t> name(n);
    return in_->ReadAt(headerAt + static_cast<std::int64_t>(kLocalHeaderSize), name.data(),
                       static_cast<std::int64_t>(n)) &&
           directory_.IsStoredName(item_, name);
}

// Checks the password at the data start, asking again until it passes or the entry is
// skipped.
TZAEntryResult TZAEntryStream::PasswordLoop() {
    const TZACryptoAlgorithm algorithm = item_.CryptoAlgorithm;
    const bool aesItem = algorithm != TZACryptoAlgorithm::caPkzipClassic;
    if (aesItem && item_.Header.VersionNeeded() >= kAlternativeVersionThreshold)
        return TZAEntryResult::Damaged;
    const std::int64_t headerLength = static_cast<std::int64_t>(CryptoHeaderLength(algorithm));
    if (packed_ < headerLength) return TZAEntryResult::Damaged;
    packed_ -= headerLength;
    transform_ = MakeCryptoTransform(algorithm, password_,
                                     PkzipCheckByte(local_.flags, local_.dosTime, local_.crc32));
    aes_ = aesItem;
    const std::int64_t start = in_->Position();
    std::vector<std::uint8_t> header(transform_->CheckHeaderLength());
    for (;;) {
        in_->Seek(start);
        if (in_->Read(header.data(), static_cast<std::int64_t>(header.size())) !=
            static_cast<std::int64_t>(header.size()))
            return TZAEntryResult::Damaged;
        if (transform_->CheckPassword(header)) return TZAEntryResult::Intact;
        if (!events_.AskPassword(item_.FileName, password_)) return TZAEntryResult::Skipped;
        if (!transform_->HasPassword(password_)) transform_->SetPassword(password_);
    }
}

TZAEntryResult TZAEntryStream::ChunkLoop(std::uint16_t method) {
    if (Encrypted())
        if (const TZAEntryResult r = PasswordLoop(); r != TZAEntryResult::Intact) return r;
    Inflater inflater;
    if (method == kMethodDeflated && !inflater.Init()) return TZAEntryResult::Damaged;
    if (method == kMethodDeflated && !buffers_.output)
        buffers_.output = std::make_unique_for_overwrite<std::uint8_t[]>(kOutputBlockSize);
    std::uint8_t* input = InputBuffer();
    std::int64_t read = 0;
    while (read < packed_) {
        const std::int64_t chunk = std::min(kChunkSize, packed_ - read);
        if (!ReadChunk(input, chunk)) return TZAEntryResult::Damaged;
        if (transform_) transform_->Decrypt(input, static_cast<std::size_t>(chunk));
        const bool ok = method == kMethodStored ? ProcessStored(input, chunk, read)
                                                : ProcessDeflated(inflater.Stream(), input, chunk);
        if (!ok) return TZAEntryResult::Damaged;
        read += chunk;
        if (stopped_) break;
    }
    return overflow_ ? TZAEntryResult::Damaged : TZAEntryResult::Intact;
}

std::uint8_t* TZAEntryStream::InputBuffer() {
    if (!buffers_.input)
        buffers_.input = std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize);
    return buffers_.input.get();
}

bool TZAEntryStream::ReadChunk(std::uint8_t* buffer, std::int64_t count) {
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
    while (got < count && bounds_.multiVolume) {
        in_ = events_.NextVolume();
        if (!in_) return false;
        in_->Seek(0);
        const std::int64_t more = in_->Read(buffer + got, count - got);
        if (more <= 0) break;
        got += more;
    }
    return got == count;
}

bool TZAEntryStream::Progress(std::int64_t produced) {
    if (!events_.Progress(produced, unpacked_ > 0 ? unpacked_ : 2)) stopped_ = true;
    return !stopped_;
}

// Hands output on, never more than the entry declares: a larger output is not intact.
bool TZAEntryStream::Emit(const std::uint8_t* data, std::int64_t n) {
    if (produced_ + n > unpacked_) {
        n = unpacked_ - produced_;
        overflow_ = true;
    }
    crc_ = static_cast<std::uint32_t>(crc32(crc_, data, static_cast<uInt>(n)));
    produced_ += n;
    // A full inflate block goes to an output that takes it as it is, and a free one comes back.
    auto& block = buffers_.output;
    if (n > 0 && data == block.get() && out_->TakeBlock(block, static_cast<std::size_t>(n)))
        return !overflow_;
    if (n > 0 && !out_->Put(data, n)) stopped_ = true;
    return !overflow_ && !stopped_;
}

bool TZAEntryStream::ProcessStored(const std::uint8_t* chunk, std::int64_t n,
                                   std::int64_t readBefore) {
    if (n == 0) return false;
    for (std::int64_t at = 0; at < n;) {
        const std::int64_t piece = std::min<std::int64_t>(kStoredPiece, n - at);
        if (!Progress(std::min(readBefore + at + piece, unpacked_))) return true;
        if (!Emit(chunk + at, piece)) return !overflow_;
        at += piece;
    }
    return true;
}

bool TZAEntryStream::ProcessDeflated(z_stream& z, std::uint8_t* chunk, std::int64_t n) {
    if (n == 0) return false;
    z.next_in = chunk;
    z.avail_in = static_cast<uInt>(n);
    for (;;) {
        if (!Progress(produced_)) return true;
        // (the output block may have been handed to the output after the last one)
        std::uint8_t* output = buffers_.output.get();
        z.next_out = output;
        z.avail_out = static_cast<uInt>(kOutputBlockSize);
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc < 0 && !(rc == Z_BUF_ERROR && z.avail_in == 0)) return false;
        const std::int64_t have = static_cast<std::int64_t>(kOutputBlockSize - z.avail_out);
        if (have > 0 && !Emit(output, have)) return !overflow_;
        if (rc == Z_STREAM_END || rc < 0) return true;
        if (z.avail_in == 0 && have == 0) return true;
    }
}

} // namespace klv::zip
