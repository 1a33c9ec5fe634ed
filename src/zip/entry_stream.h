// One entry's data: the local header checked against the directory, decryption, stored copy
// or inflate, the size, CRC-32 and authentication checks. Bytes in from the archive, checked
// bytes out to an output delegate, and one result that names what went wrong.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "zip/crypto.h"
#include "zip/directory.h"
#include "zip/output.h"
#include "zip/records.h"
#include "zip/streams.h"

struct z_stream_s;

namespace klv::zip {

enum class TZAEntryResult : std::uint8_t {
    Intact,       // every check passed
    Damaged,      // a size, the CRC-32, the authentication code, the method or the data
    Misdescribed, // the local header names another file, or the data runs into the next item
    Deflate64,    // a method the engine does not inflate
    Skipped,      // an encrypted entry without a password that opens it
    Cancelled,    // the progress handler or the output stopped it
};

// What the entry asks of whoever reads it.
class TZAEntryEvents {
  public:
    virtual ~TZAEntryEvents() = default;
    // Output produced so far of `total`; false to stop.
    virtual bool Progress(std::int64_t produced, std::int64_t total) = 0;
    // The password does not open the entry: true with another one in `password`, false to
    // skip the entry.
    virtual bool AskPassword(const std::u16string& fileName, std::string& password) = 0;
    // A split or spanned entry goes on in the next volume: its stream, or null.
    virtual TZAStream* NextVolume() = 0;
};

// Input and inflate buffers kept from entry to entry: no allocation and no clearing per entry.
struct TZAEntryBuffers {
    std::unique_ptr<std::uint8_t[]> input;  // one chunk of stored data
    std::unique_ptr<std::uint8_t[]> output; // inflated data, a block of kOutputBlockSize
};

// Where an entry's records may lie.
struct TZAEntryBounds {
    std::int64_t nextLocalHeader = -1; // the next item's local header (-1: none)
    std::int64_t directoryPosition = 0;
    bool multiVolume = false; // offsets per volume; data may go on in the next volume
};

class TZAEntryStream {
  public:
    // `archive` stands at the entry's local header.
    TZAEntryStream(TZAStream& archive, const TDirItem& item, const TZADirManager& directory,
                   const TZAEntryBounds& bounds, std::string password, TZAEntryEvents& events,
                   TZAEntryBuffers& buffers);
    ~TZAEntryStream();
    TZAEntryStream(const TZAEntryStream&) = delete;
    TZAEntryStream& operator=(const TZAEntryStream&) = delete;

    TZAEntryResult CopyTo(TZAOutput& output);

  private:
    bool Encrypted() const { return item_.Header.Flags() & kFlagEncrypted; }
    bool LocalNameAgrees(const std::uint8_t* input, std::int64_t got, std::int64_t headerAt);
    TZAEntryResult PasswordLoop();
    TZAEntryResult ChunkLoop(std::uint16_t method);
    std::uint8_t* InputBuffer();
    bool ReadChunk(std::uint8_t* buffer, std::int64_t count);
    bool Emit(const std::uint8_t* data, std::int64_t n);
    bool Progress(std::int64_t produced);
    bool ProcessStored(const std::uint8_t* chunk, std::int64_t n, std::int64_t readBefore);
    bool ProcessDeflated(z_stream_s& z, std::uint8_t* chunk, std::int64_t n);

    TZAStream* in_;
    const TDirItem& item_;
    const TZADirManager& directory_;
    TZAEntryBounds bounds_;
    std::string password_;
    TZAEntryEvents& events_;
    TZAEntryBuffers& buffers_;
    TZAOutput* out_ = nullptr;
    LocalHeader local_;
    std::int64_t prefetchAt_ = 0; // data read with the local header, at this buffer offset
    std::int64_t prefetched_ = 0;
    std::int64_t packed_ = 0;
    std::int64_t unpacked_ = 0;
    std::int64_t produced_ = 0;
    std::uint32_t crc_ = 0;
    bool overflow_ = false;
    bool stopped_ = false; // the output or the progress handler stopped
    bool aes_ = false;
    std::unique_ptr<TZACryptoTransform> transform_;
};

} // namespace klv::zip
