#include "zip_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "zip/records.h"

namespace klv::klvpack {

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;
constexpr std::uint64_t kMax16 = 0xFFFF;
// Bounds of the pieces between reading and writing: what keeps the memory flat.
constexpr std::size_t kMaxPendingBytes = 24 << 20;
constexpr std::size_t kMaxPendingPieces = 512;

void Append(Bytes& to, const std::uint8_t* data, std::size_t count) {
    to.insert(to.end(), data, data + count);
}
template <std::size_t N> void Append(Bytes& to, const std::array<std::uint8_t, N>& record) {
    Append(to, record.data(), N);
}
void Append(Bytes& to, const std::string& text) {
    Append(to, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// A Zip64 extended information block holding `values` in their standard order.
Bytes Zip64Block(std::initializer_list<std::uint64_t> values) {
    Bytes b(zip::kExtraBlockHeaderSize + 8 * values.size());
    zip::PutU16(&b[0], zip::kExtraZip64);
    zip::PutU16(&b[2], static_cast<std::uint16_t>(8 * values.size()));
    std::size_t at = zip::kExtraBlockHeaderSize;
    for (std::uint64_t v : values) {
        zip::PutU64(&b[at], v);
        at += 8;
    }
    return b;
}

[[noreturn]] void FailToWrite(int error) {
    throw PackError("cannot write the package: " + platform::SystemErrorText(error));
}

class FileSink final : public PackageSink {
  public:
    explicit FileSink(platform::FileStream& file) : file_(file) {}
    void Append(const std::uint8_t* data, std::size_t count) override {
        file_.Seek(static_cast<std::int64_t>(end_));
        Raw(data, count);
        end_ += count;
    }
    void Overwrite(std::uint64_t at, const std::uint8_t* data, std::size_t count) override {
        file_.Seek(static_cast<std::int64_t>(at));
        Raw(data, count);
    }
    void Truncate(std::uint64_t size) override {
        if (!file_.SetSize(static_cast<std::int64_t>(size))) FailToWrite(file_.LastError());
        end_ = size;
    }

  private:
    void Raw(const std::uint8_t* data, std::size_t count) {
        if (count == 0) return;
        if (file_.Write(data, static_cast<std::int64_t>(count)) != static_cast<std::int64_t>(count))
            FailToWrite(file_.LastError());
    }
    platform::FileStream& file_;
    std::uint64_t end_ = 0;
};

class MemorySink final : public PackageSink {
  public:
    std::string bytes;
    void Append(const std::uint8_t* data, std::size_t count) override {
        bytes.append(reinterpret_cast<const char*>(data), count);
    }
    void Overwrite(std::uint64_t at, const std::uint8_t* data, std::size_t count) override {
        bytes.replace(static_cast<std::size_t>(at), count, reinterpret_cast<const char*>(data),
                      count);
    }
    void Truncate(std::uint64_t size) override { bytes.resize(static_cast<std::size_t>(size)); }
};

// The package behind a write buffer; patches go to the sink directly.
class Output {
  public:
    explicit Output(PackageSink& sink) : sink_(sink) { buffer_.reserve(kBufferSize); }
    void Put(const void* data, std::size_t count) {
        if (buffer_.size() + count > kBufferSize) Flush();
        const auto* p = static_cast<const std::uint8_t*>(data);
        if (count >= kBufferSize)
            sink_.Append(p, count);
        else
            buffer_.insert(buffer_.end(), p, p + count);
        position_ += count;
    }
    void Put(const Bytes& b) { Put(b.data(), b.size()); }
    std::uint64_t Position() const { return position_; }
    void Flush() {
        if (!buffer_.empty()) sink_.Append(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void Patch(std::uint64_t at, const Bytes& b) {
        Flush();
        sink_.Overwrite(at, b.data(), b.size());
    }
    void Truncate(std::uint64_t at) {
        Flush();
        sink_.Truncate(at);
        position_ = at;
    }

  private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    PackageSink& sink_;
    Bytes buffer_;
    std::uint64_t position_ = 0;
};

std::uint64_t SizeOf(const PackEntry& e) {
    return e.folder ? 0 : e.source.empty() ? e.content.size() : e.size;
}

// An entry's bytes: its file, or what it holds in memory.
class EntryInput {
  public:
    explicit EntryInput(const PackEntry& e) : entry_(e) {
        if (e.source.empty()) return;
        int error = 0;
        file_ = platform::FileStream::Open(e.source,
                                           platform::fmOpenRead | platform::fmShareDenyNone, error);
        if (!file_) Fail(error);
    }
    // Up to `count` bytes; 0 at the end.
    std::size_t Read(std::uint8_t* into, std::size_t count) {
        if (!file_) {
            const std::size_t n = std::min(count, entry_.content.size() - held_);
            std::memcpy(into, entry_.content.data() + held_, n);
            held_ += n;
            return n;
        }
        const std::int64_t n = file_->Read(into, static_cast<std::int64_t>(count));
        if (n < 0) Fail(file_->LastError());
        return static_cast<std::size_t>(n);
    }

  private:
    [[noreturn]] void Fail(int error) const {
        throw PackError(entry_.name + ": cannot read: " + platform::SystemErrorText(error));
    }
    const PackEntry& entry_;
    std::unique_ptr<platform::FileStream> file_;
    std::size_t held_ = 0;
};

// One piece of a file on its way through the deflating threads.
struct Piece {
    const PackEntry* entry = nullptr;
    bool first = true;
    bool last = true;
    Bytes input;
    Bytes output; // what goes into the archive
    std::uint32_t crc = 0;
    std::size_t length = 0; // bytes of the file in this piece
    bool stored = false;    // `output` is the input as it is
    std::size_t cost = 0;   // bytes held while pending
    std::string error;
    bool done = false;
};

using Compressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

// A piece is deflated on its own, as a complete stream whose last block is final. Before a
// later piece of the same file may follow it, that block is made an ordinary one and an empty
// stored block closes the stream on a byte boundary, as zlib's Z_SYNC_FLUSH ends it. Where the
// last block's header lies comes from inflating the piece a block at a time (zlib's Z_BLOCK);
// false when the stream is not what libdeflate writes.
bool LeaveOpen(Bytes& stream) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return false;
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
    Bytes discard(1 << 16);
    zs.next_in = stream.data();
    zs.avail_in = static_cast<uInt>(stream.size());
    std::uint64_t header = 0; // the bit where the block being inflated starts
    for (;;) {
        zs.next_out = discard.data();
        zs.avail_out = static_cast<uInt>(discard.size());
        const int rc = inflate(&zs, Z_BLOCK);
        if (rc != Z_OK) return false;
        if (!(zs.data_type & 128)) continue;
        // Stopped behind a block's end-of-block code. The bits of the last byte read that
        // inflate has not used: the next block starts there, or nothing but padding follows.
        const unsigned unused = static_cast<unsigned>(zs.data_type) & 7;
        const std::uint64_t end = zs.total_in * 8 - unused;
        if (!(zs.data_type & 64)) {
            header = end;
            continue;
        }
        // That was the final block.
        if (zs.total_in != stream.size()) return false;
        std::uint8_t& headerByte = stream[header / 8];
        const auto finalBit = static_cast<std::uint8_t>(1u << (header % 8));
        if (!(headerByte & finalBit)) return false;
        headerByte &= static_cast<std::uint8_t>(~finalBit);
        stream.back() &= static_cast<std::uint8_t>(0xFF >> unused);
        // The empty stored block: three header bits of 0, then zeros to the byte boundary and
        // the lengths 0 and ~0. The header fits behind the end-of-block code when at least
        // three bits of the last byte are free.
        if (unused < 3) stream.push_back(0);
        for (std::uint8_t b : {0x00, 0x00, 0xFF, 0xFF})
            stream.push_back(b);
        return true;
    }
}

void Deflate(Piece& p, libdeflate_compressor* compressor) {
    p.crc = static_cast<std::uint32_t>(crc32_z(0, p.input.data(), p.input.size()));
    p.length = p.input.size();
    if (!compressor || p.input.empty()) {
        p.output.swap(p.input);
        p.stored = true;
        return;
    }
    // Room for the stored block LeaveOpen appends.
    p.output.resize(libdeflate_deflate_compress_bound(compressor, p.input.size()) + 8);
    const std::size_t n = libdeflate_deflate_compress(compressor, p.input.data(), p.input.size(),
                                                      p.output.data(), p.output.size());
    p.output.resize(n);
    if (n == 0 || (!p.last && !LeaveOpen(p.output))) {
        p.error = "deflate failed";
        return;
    }
    if (p.first && p.last && p.output.size() >= p.input.size()) {
        p.output.swap(p.input);
        p.stored = true;
    }
    Bytes().swap(p.input);
}

class DeflatePool {
  public:
    DeflatePool(unsigned threads, int level) : level_(level) {
        for (unsigned i = 0; i < threads; ++i)
            threads_.emplace_back([this] { Run(); });
    }
    ~DeflatePool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_)
            t.join();
    }
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    void Submit(std::shared_ptr<Piece> p) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(p));
        }
        work_.notify_one();
    }
    void Wait(Piece& p) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [&] { return p.done; });
    }

  private:
    void Run() {
        Compressor compressor(nullptr, libdeflate_free_compressor);
        for (;;) {
            std::shared_ptr<Piece> p;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [&] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) return;
                p = std::move(queue_.front());
                queue_.pop_front();
            }
            try {
                if (level_ > 0 && !compressor) {
                    compressor.reset(libdeflate_alloc_compressor(level_));
                    if (!compressor) throw std::bad_alloc();
                }
                Deflate(*p, compressor.get());
            } catch (const std::exception& e) {
                p->error = e.what();
            }
            {
                std::lock_guard lock(mutex_);
                p->done = true;
            }
            finished_.notify_all();
        }
    }

    int level_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Piece>> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

bool Ascii(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Version needed to extract: stored, deflated, Zip64 records.
constexpr std::uint16_t kVersionStored = 10;
constexpr std::uint16_t kVersionDeflated = 20;
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::uint16_t kMadeByNtfs = 0x0B00; // the host byte: NTFS, DOS attributes

// Writes the entries' local headers and data in order, and keeps their central records.
class ArchiveWriter {
  public:
    ArchiveWriter(Output& out, const WriterOptions& options) : out_(out), options_(options) {}

    void Accept(Piece& p) {
        if (!p.error.empty()) throw PackError(p.entry->name + ": " + p.error);
        const PackEntry& e = *p.entry;
        if (p.first) {
            current_ = Item{};
            current_.offset = out_.Position();
            current_.size = SizeOf(e);
            current_.single = p.last;
            current_.method = (p.last && p.stored) || e.folder || e.store || options_.level == 0
                                  ? zip::kMethodStored
                                  : zip::kMethodDeflated;
            current_.crc = p.crc;
            current_.compressed = p.output.size();
            current_.zip64Local = current_.size >= kMax32;
            WriteLocalHeader(e);
        } else {
            current_.crc = static_cast<std::uint32_t>(
                crc32_combine(current_.crc, p.crc, static_cast<z_off_t>(p.length)));
            current_.compressed += p.output.size();
        }
        out_.Put(p.output);
        if (!p.last) return;
        if (!current_.single) Finish(e);
        AddCentralRecord(e);
    }

    void WriteEnd() {
        const std::uint64_t start = out_.Position();
        out_.Put(central_);
        const std::uint64_t size = central_.size();
        const std::uint64_t count = count_;
        const bool zip64 = count >= kMax16 || start >= kMax32 || size >= kMax32;
        if (zip64) {
            const std::uint64_t at = out_.Position();
            zip::Zip64EndRecord r;
            r.SetSignature(zip::kZip64EndRecordSignature);
            r.SetRecordSize(zip::kZip64EndRecordSize - 12);
            r.SetVersionMadeBy(kVersionZip64);
            r.SetVersionNeeded(kVersionZip64);
            r.SetEntriesOnDisk(count);
            r.SetTotalEntries(count);
            r.SetDirectorySize(size);
            r.SetDirectoryOffset(start);
            zip::Zip64Locator l;
            l.SetSignature(zip::kZip64LocatorSignature);
            l.SetEndRecordPosition(at);
            l.SetTotalDisks(1);
            Bytes b;
            Append(b, r.bytes);
            Append(b, l.bytes);
            out_.Put(b);
        }
        // The comment pads the package to a multiple of 8 bytes (see WritePackage).
        const std::size_t pad = (8 - (out_.Position() + zip::kEndRecordSize) % 8) % 8;
        zip::EndRecord r;
        r.SetSignature(zip::kStandardSignatures.endRecord);
        r.SetEntriesOnDisk(static_cast<std::uint16_t>(std::min(count, kMax16)));
        r.SetTotalEntries(static_cast<std::uint16_t>(std::min(count, kMax16)));
        r.SetDirectorySize(static_cast<std::uint32_t>(std::min(size, kMax32)));
        r.SetDirectoryOffset(static_cast<std::uint32_t>(std::min(start, kMax32)));
        r.SetCommentLength(static_cast<std::uint16_t>(pad));
        Bytes b;
        Append(b, r.bytes);
        Append(b, std::string(pad, ' '));
        out_.Put(b);
        out_.Flush();
    }

  private:
    struct Item {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::uint64_t compressed = 0;
        std::uint64_t dataStart = 0;
        std::uint32_t crc = 0;
        std::uint16_t method = 0;
        bool single = true;
        bool zip64Local = false;
    };

    std::uint16_t Flags(const PackEntry& e) const { return Ascii(e.name) ? 0 : zip::kFlagUtf8; }
    std::uint16_t VersionNeeded(bool zip64) const {
        return zip64                                     ? kVersionZip64
               : current_.method == zip::kMethodDeflated ? kVersionDeflated
                                                         : kVersionStored;
    }

    Bytes LocalHeader(const PackEntry& e) const {
        const Bytes extra =
            current_.zip64Local ? Zip64Block({current_.size, current_.compressed}) : Bytes();
        zip::LocalHeader h;
        h.signature = zip::kStandardSignatures.localHeader;
        h.versionNeeded = VersionNeeded(current_.zip64Local);
        h.flags = Flags(e);
        h.method = current_.method;
        h.dosTime = static_cast<std::uint16_t>(e.dosStamp & 0xFFFF);
        h.dosDate = static_cast<std::uint16_t>(e.dosStamp >> 16);
        h.crc32 = current_.crc;
        h.compressedSize = current_.zip64Local ? zip::kZip64Marker32
                                               : static_cast<std::uint32_t>(current_.compressed);
        h.uncompressedSize =
            current_.zip64Local ? zip::kZip64Marker32 : static_cast<std::uint32_t>(current_.size);
        h.nameLength = static_cast<std::uint16_t>(e.name.size());
        h.extraLength = static_cast<std::uint16_t>(extra.size());
        Bytes b;
        Append(b, h.Bytes());
        Append(b, e.name);
        Append(b, extra.data(), extra.size());
        return b;
    }

    void WriteLocalHeader(const PackEntry& e) {
        if (e.name.size() > kMax16) throw PackError(e.name + ": the name is too long");
        out_.Put(LocalHeader(e));
        current_.dataStart = out_.Position();
    }

    // A file written in pieces: the header gets its CRC and sizes, or, when deflating did
    // not make it smaller, the file is written again as it is.
    void Finish(const PackEntry& e) {
        if (current_.method == zip::kMethodDeflated && current_.compressed >= current_.size) {
            out_.Truncate(current_.dataStart);
            CopyStored(e);
            current_.method = zip::kMethodStored;
            current_.compressed = current_.size;
        }
        out_.Patch(current_.offset, LocalHeader(e));
    }

    // The second reading must give the bytes of the first, whose CRC the headers carry: the
    // CRC is taken again over exactly the bytes written here and compared, so a file rewritten
    // in place at its size between the readings is refused, never stored with a CRC that is
    // not its own.
    void CopyStored(const PackEntry& e) {
        EntryInput in(e);
        Bytes buffer(options_.chunkSize);
        std::uint64_t copied = 0;
        uLong crc = crc32_z(0, nullptr, 0);
        for (;;) {
            const std::size_t n = in.Read(buffer.data(), buffer.size());
            if (n == 0) break;
            copied += n;
            if (copied > current_.size) break;
            crc = crc32_z(crc, buffer.data(), n);
            out_.Put(buffer.data(), n);
        }
        if (copied != current_.size || static_cast<std::uint32_t>(crc) != current_.crc)
            throw PackError(e.name + ": the file changed while the package was built");
    }

    void AddCentralRecord(const PackEntry& e) {
        const std::uint64_t size = current_.size;
        // A large file gets both sizes in the Zip64 block, as in its local header.
        const bool bigSizes = size >= kMax32 || current_.compressed >= kMax32;
        const bool bigOffset = current_.offset >= kMax32;
        Bytes extra;
        if (bigSizes && bigOffset)
            extra = Zip64Block({size, current_.compressed, current_.offset});
        else if (bigSizes)
            extra = Zip64Block({size, current_.compressed});
        else if (bigOffset)
            extra = Zip64Block({current_.offset});
        const bool zip64 = !extra.empty() || current_.zip64Local;
        zip::CentralHeader h;
        h.SetSignature(zip::kStandardSignatures.centralHeader);
        h.SetVersionMadeBy(
            static_cast<std::uint16_t>((zip64 ? kVersionZip64 : kVersionDeflated) | kMadeByNtfs));
        h.SetVersionNeeded(VersionNeeded(zip64));
        h.SetFlags(Flags(e));
        h.SetMethod(current_.method);
        h.SetDosTime(static_cast<std::uint16_t>(e.dosStamp & 0xFFFF));
        h.SetDosDate(static_cast<std::uint16_t>(e.dosStamp >> 16));
        h.SetCrc32(current_.crc);
        h.SetCompressedSize(bigSizes ? zip::kZip64Marker32
                                     : static_cast<std::uint32_t>(current_.compressed));
        h.SetUncompressedSize(bigSizes ? zip::kZip64Marker32 : static_cast<std::uint32_t>(size));
        h.SetNameLength(static_cast<std::uint16_t>(e.name.size()));
        h.SetExtraLength(static_cast<std::uint16_t>(extra.size()));
        h.SetExternalAttributes(e.attributes);
        h.SetLocalHeaderOffset(static_cast<std::uint32_t>(std::min(current_.offset, kMax32)));
        Append(central_, h.bytes);
        Append(central_, e.name);
        Append(central_, extra.data(), extra.size());
        ++count_;
    }

    Output& out_;
    const WriterOptions& options_;
    Item current_;
    Bytes central_;
    std::uint64_t count_ = 0;
};

// Reads the entries' bytes in order and hands them to the pool in pieces.
class Reader {
  public:
    Reader(const WriterOptions& options) : options_(options) {}

    template <typename Emit> void Read(const PackEntry& e, Emit&& emit) {
        const std::uint64_t size = SizeOf(e);
        if (e.folder || size == 0) {
            // A file empty when it was listed must still be empty: content that came since
            // would be stored as nothing.
            if (!e.folder) ExpectEnd(e, EntryInput(e));
            auto p = std::make_shared<Piece>();
            p->entry = &e;
            p->stored = true;
            emit(std::move(p), false);
            return;
        }
        EntryInput in(e);
        std::uint64_t done = 0;
        while (done < size) {
            auto p = std::make_shared<Piece>();
            p->entry = &e;
            p->first = done == 0;
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(options_.chunkSize, size - done));
            p->input.resize(want);
            std::size_t have = 0;
            while (have < want) {
                const std::size_t n = in.Read(p->input.data() + have, want - have);
                if (n == 0)
                    throw PackError(e.name + ": the file changed while the package was built");
                have += n;
            }
            done += want;
            p->last = done == size;
            if (e.store) {
                p->crc = static_cast<std::uint32_t>(crc32_z(0, p->input.data(), want));
                p->length = want;
                p->output.swap(p->input);
                p->stored = true;
            }
            emit(std::move(p), !e.store);
        }
        ExpectEnd(e, in);
    }

  private:
    // The file holds no byte beyond what was read.
    static void ExpectEnd(const PackEntry& e, EntryInput&& in) { ExpectEnd(e, in); }
    static void ExpectEnd(const PackEntry& e, EntryInput& in) {
        std::uint8_t probe;
        if (in.Read(&probe, 1) != 0)
            throw PackError(e.name + ": the file changed while the package was built");
    }

    const WriterOptions& options_;
};

} // namespace

void WritePackage(PackageSink& sink, std::span<const std::uint8_t> prefix,
                  const std::vector<PackEntry>& entries, const WriterOptions& options) {
    Output out(sink);
    out.Put(prefix.data(), prefix.size());
    ArchiveWriter writer(out, options);
    unsigned threads = options.threads ? options.threads : std::thread::hardware_concurrency();
    threads = std::clamp(threads, 1u, 16u);
    DeflatePool pool(threads, options.level);
    std::deque<std::shared_ptr<Piece>> pending;
    std::size_t pendingBytes = 0;
    auto writeOldest = [&] {
        std::shared_ptr<Piece> p = std::move(pending.front());
        pending.pop_front();
        pool.Wait(*p);
        pendingBytes -= p->cost;
        writer.Accept(*p);
    };
    Reader reader(options);
    for (const PackEntry& e : entries) {
        reader.Read(e, [&](std::shared_ptr<Piece> p, bool deflate) {
            while (!pending.empty() &&
                   (pending.size() >= kMaxPendingPieces ||
                    pendingBytes + 2 * p->input.size() + p->output.size() > kMaxPendingBytes))
                writeOldest();
            if (!deflate) p->done = true;
            p->cost = 2 * p->input.size() + p->output.size() + 1024;
            pendingBytes += p->cost;
            pending.push_back(p);
            if (deflate) pool.Submit(std::move(p));
        });
    }
    while (!pending.empty())
        writeOldest();
    writer.WriteEnd();
}

void WritePackage(platform::FileStream& file, std::span<const std::uint8_t> prefix,
                  const std::vector<PackEntry>& entries, const WriterOptions& options) {
    FileSink sink(file);
    WritePackage(sink, prefix, entries, options);
}

std::string PackageBytes(std::span<const std::uint8_t> prefix,
                         const std::vector<PackEntry>& entries, const WriterOptions& options) {
    MemorySink sink;
    WritePackage(sink, prefix, entries, options);
    return std::move(sink.bytes);
}

} // namespace klv::klvpack
