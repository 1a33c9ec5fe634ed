#include "zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "zip/records.h"

namespace klv::klvpack {

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;
constexpr std::uint64_t kMax16 = 0xFFFF;
constexpr std::size_t kDictionarySize = 32 * 1024;
// Bounds of the pieces between reading and writing: what keeps the memory flat.
constexpr std::size_t kMaxPendingBytes = 24 << 20;
constexpr std::size_t kMaxPendingPieces = 512;

struct Record {
    Bytes b;
    void U16(std::uint64_t v) { Put(v, 2); }
    void U32(std::uint64_t v) { Put(v, 4); }
    void U64(std::uint64_t v) { Put(v, 8); }
    void Text(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
    void Put(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

// The package file behind a write buffer; patches go to the file directly.
class Output {
  public:
    explicit Output(platform::FileStream& file) : file_(file) { buffer_.reserve(kBufferSize); }
    void Put(const void* data, std::size_t count) {
        if (buffer_.size() + count > kBufferSize) Flush();
        if (count >= kBufferSize) {
            Raw(data, count);
        } else {
            const auto* p = static_cast<const std::uint8_t*>(data);
            buffer_.insert(buffer_.end(), p, p + count);
        }
        position_ += count;
    }
    void Put(const Bytes& b) { Put(b.data(), b.size()); }
    std::uint64_t Position() const { return position_; }
    void Flush() {
        Raw(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void Patch(std::uint64_t at, const Bytes& b) {
        Flush();
        file_.Seek(static_cast<std::int64_t>(at));
        Raw(b.data(), b.size());
        file_.Seek(static_cast<std::int64_t>(position_));
    }
    void Truncate(std::uint64_t at) {
        Flush();
        if (!file_.SetSize(static_cast<std::int64_t>(at))) Fail(file_.LastError());
        position_ = at;
        file_.Seek(static_cast<std::int64_t>(at));
    }

  private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    void Raw(const void* data, std::size_t count) {
        if (count == 0) return;
        if (file_.Write(data, static_cast<std::int64_t>(count)) != static_cast<std::int64_t>(count))
            Fail(file_.LastError());
    }
    [[noreturn]] static void Fail(int error) {
        throw PackError("cannot write the package: " + platform::SystemErrorText(error));
    }
    platform::FileStream& file_;
    Bytes buffer_;
    std::uint64_t position_ = 0;
};

// One piece of a file on its way through the deflating threads.
struct Piece {
    const PackEntry* entry = nullptr;
    bool first = true;
    bool last = true;
    Bytes input;
    Bytes dictionary; // the 32 KiB of the file before this piece
    Bytes output;     // what goes into the archive
    std::uint32_t crc = 0;
    std::size_t length = 0; // bytes of the file in this piece
    bool stored = false;    // `output` is the input as it is
    std::size_t cost = 0;   // bytes held while pending
    std::string error;
    bool done = false;
};

void Deflate(Piece& p, int level) {
    p.crc = static_cast<std::uint32_t>(crc32_z(0, p.input.data(), p.input.size()));
    p.length = p.input.size();
    if (level == 0 || p.input.empty()) {
        p.output.swap(p.input);
        p.stored = true;
        return;
    }
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        p.error = "deflateInit2 failed";
        return;
    }
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, deflateEnd);
    if (!p.dictionary.empty())
        deflateSetDictionary(&zs, p.dictionary.data(), static_cast<uInt>(p.dictionary.size()));
    p.output.resize(deflateBound(&zs, static_cast<uLong>(p.input.size())) + 64);
    zs.next_in = p.input.data();
    zs.avail_in = static_cast<uInt>(p.input.size());
    const int flush = p.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        zs.next_out = p.output.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(p.output.size() - zs.total_out);
        const int rc = deflate(&zs, flush);
        if (rc == Z_STREAM_ERROR) {
            p.error = "deflate failed";
            return;
        }
        if (zs.avail_out != 0) break;
        p.output.resize(p.output.size() * 2);
    }
    p.output.resize(zs.total_out);
    Bytes().swap(p.dictionary);
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
                Deflate(*p, level_);
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
            current_.single = p.last;
            current_.method = (p.last && p.stored) || e.folder ? zip::kMethodStored
                              : options_.level == 0            ? zip::kMethodStored
                                                               : zip::kMethodDeflated;
            current_.crc = p.crc;
            current_.compressed = p.output.size();
            current_.zip64Local = e.size >= kMax32;
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
        out_.Put(central_.b);
        const std::uint64_t size = central_.b.size();
        const std::uint64_t count = count_;
        const bool zip64 = count >= kMax16 || start >= kMax32 || size >= kMax32;
        if (zip64) {
            const std::uint64_t at = out_.Position();
            Record r;
            r.U32(zip::kZip64EndRecordSignature);
            r.U64(zip::kZip64EndRecordSize - 12);
            r.U16(45);
            r.U16(45);
            r.U32(0);
            r.U32(0);
            r.U64(count);
            r.U64(count);
            r.U64(size);
            r.U64(start);
            r.U32(zip::kZip64LocatorSignature);
            r.U32(0);
            r.U64(at);
            r.U32(1);
            out_.Put(r.b);
        }
        // The comment pads the package to a multiple of 8 bytes (see WritePackage).
        const std::size_t pad = (8 - (out_.Position() + zip::kEndRecordSize) % 8) % 8;
        Record r;
        r.U32(zip::kStandardSignatures.endRecord);
        r.U16(0);
        r.U16(0);
        r.U16(std::min(count, kMax16));
        r.U16(std::min(count, kMax16));
        r.U32(std::min(size, kMax32));
        r.U32(std::min(start, kMax32));
        r.U16(pad);
        r.Text(std::string(pad, ' '));
        out_.Put(r.b);
        out_.Flush();
    }

  private:
    struct Item {
        std::uint64_t offset = 0;
        std::uint64_t compressed = 0;
        std::uint64_t dataStart = 0;
        std::uint32_t crc = 0;
        std::uint16_t method = 0;
        bool single = true;
        bool zip64Local = false;
    };

    std::uint16_t Flags(const PackEntry& e) const { return Ascii(e.name) ? 0 : zip::kFlagUtf8; }

    Bytes LocalHeader(const PackEntry& e) const {
        Record r;
        r.U32(zip::kStandardSignatures.localHeader);
        r.U16(current_.zip64Local ? 45 : current_.method == zip::kMethodDeflated ? 20 : 10);
        r.U16(Flags(e));
        r.U16(current_.method);
        r.U16(e.dosStamp & 0xFFFF);
        r.U16(e.dosStamp >> 16);
        r.U32(current_.crc);
        if (current_.zip64Local) {
            r.U32(kMax32);
            r.U32(kMax32);
        } else {
            r.U32(current_.compressed);
            r.U32(e.size);
        }
        r.U16(e.name.size());
        r.U16(current_.zip64Local ? 20 : 0);
        r.Text(e.name);
        if (current_.zip64Local) {
            r.U16(zip::kExtraZip64);
            r.U16(16);
            r.U64(e.size);
            r.U64(current_.compressed);
        }
        return r.b;
    }

    void WriteLocalHeader(const PackEntry& e) {
        if (e.name.size() > kMax16) throw PackError(e.name + ": the name is too long");
        out_.Put(LocalHeader(e));
        current_.dataStart = out_.Position();
    }

    // A file written in pieces: the header gets its CRC and sizes, or, when deflating did
    // not make it smaller, the file is written again as it is.
    void Finish(const PackEntry& e) {
        if (current_.method == zip::kMethodDeflated && current_.compressed >= e.size) {
            out_.Truncate(current_.dataStart);
            CopyStored(e);
            current_.method = zip::kMethodStored;
            current_.compressed = e.size;
        }
        out_.Patch(current_.offset, LocalHeader(e));
    }

    void CopyStored(const PackEntry& e) {
        int error = 0;
        auto in = platform::FileStream::Open(
            e.source, platform::fmOpenRead | platform::fmShareDenyNone, error);
        if (!in) throw PackError(e.name + ": cannot read: " + platform::SystemErrorText(error));
        Bytes buffer(options_.chunkSize);
        std::uint64_t copied = 0;
        for (;;) {
            const std::int64_t n =
                in->Read(buffer.data(), static_cast<std::int64_t>(buffer.size()));
            if (n < 0)
                throw PackError(e.name +
                                ": cannot read: " + platform::SystemErrorText(in->LastError()));
            if (n == 0) break;
            copied += static_cast<std::uint64_t>(n);
            if (copied > e.size) break;
            out_.Put(buffer.data(), static_cast<std::size_t>(n));
        }
        if (copied != e.size)
            throw PackError(e.name + ": the file changed while the package was built");
    }

    void AddCentralRecord(const PackEntry& e) {
        const std::uint64_t size = e.size;
        // A large file gets both sizes in the Zip64 block, as in its local header.
        const bool bigSizes = size >= kMax32 || current_.compressed >= kMax32;
        Record extra;
        if (bigSizes) {
            extra.U64(size);
            extra.U64(current_.compressed);
        }
        if (current_.offset >= kMax32) extra.U64(current_.offset);
        const bool zip64 = !extra.b.empty() || current_.zip64Local;
        Record& r = central_;
        r.U32(zip::kStandardSignatures.centralHeader);
        r.U16((zip64 ? 45 : 20) | 0x0B00); // made by: NTFS, DOS attributes
        r.U16(zip64 ? 45 : current_.method == zip::kMethodDeflated ? 20 : 10);
        r.U16(Flags(e));
        r.U16(current_.method);
        r.U16(e.dosStamp & 0xFFFF);
        r.U16(e.dosStamp >> 16);
        r.U32(current_.crc);
        r.U32(bigSizes ? kMax32 : current_.compressed);
        r.U32(bigSizes ? kMax32 : size);
        r.U16(e.name.size());
        r.U16(extra.b.empty() ? 0 : extra.b.size() + 4);
        r.U16(0);
        r.U16(0);
        r.U16(0);
        r.U32(e.attributes);
        r.U32(std::min(current_.offset, kMax32));
        r.Text(e.name);
        if (!extra.b.empty()) {
            r.U16(zip::kExtraZip64);
            r.U16(extra.b.size());
            r.b.insert(r.b.end(), extra.b.begin(), extra.b.end());
        }
        ++count_;
    }

    Output& out_;
    const WriterOptions& options_;
    Item current_;
    Record central_;
    std::uint64_t count_ = 0;
};

// Reads the entries' files in order and hands them to the pool in pieces.
class Reader {
  public:
    Reader(const WriterOptions& options) : options_(options) {}

    template <typename Emit> void Read(const PackEntry& e, Emit&& emit) {
        if (e.folder || e.size == 0) {
            auto p = std::make_shared<Piece>();
            p->entry = &e;
            p->stored = true;
            emit(std::move(p), false);
            return;
        }
        int error = 0;
        auto in = platform::FileStream::Open(
            e.source, platform::fmOpenRead | platform::fmShareDenyNone, error);
        if (!in) throw PackError(e.name + ": cannot read: " + platform::SystemErrorText(error));
        std::uint64_t done = 0;
        Bytes previousTail;
        while (done < e.size) {
            auto p = std::make_shared<Piece>();
            p->entry = &e;
            p->first = done == 0;
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(options_.chunkSize, e.size - done));
            p->input.resize(want);
            std::size_t have = 0;
            while (have < want) {
                const std::int64_t n =
                    in->Read(p->input.data() + have, static_cast<std::int64_t>(want - have));
                if (n < 0)
                    throw PackError(e.name +
                                    ": cannot read: " + platform::SystemErrorText(in->LastError()));
                if (n == 0)
                    throw PackError(e.name + ": the file changed while the package was built");
                have += static_cast<std::size_t>(n);
            }
            done += want;
            p->last = done == e.size;
            p->dictionary = std::move(previousTail);
            if (!p->last) {
                const std::size_t tail = std::min(kDictionarySize, want);
                previousTail.assign(p->input.end() - static_cast<std::ptrdiff_t>(tail),
                                    p->input.end());
            }
            emit(std::move(p), true);
        }
        std::uint8_t probe;
        if (in->Read(&probe, 1) != 0)
            throw PackError(e.name + ": the file changed while the package was built");
    }

  private:
    const WriterOptions& options_;
};

} // namespace

void WritePackage(platform::FileStream& file, std::span<const std::uint8_t> prefix,
                  const std::vector<PackEntry>& entries, const WriterOptions& options) {
    Output out(file);
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
            while (!pending.empty() && (pending.size() >= kMaxPendingPieces ||
                                        pendingBytes + 2 * p->input.size() > kMaxPendingBytes))
                writeOldest();
            if (!deflate) p->done = true;
            p->cost = 2 * p->input.size() + p->dictionary.size() + 1024;
            pendingBytes += p->cost;
            pending.push_back(p);
            if (deflate) pool.Submit(std::move(p));
        });
    }
    while (!pending.empty())
        writeOldest();
    writer.WriteEnd();
}

} // namespace klv::klvpack
