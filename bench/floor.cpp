// The floor for extraction: what getting every item's bytes out of an archive costs with
// the engine's own reading and the same zlib calls, without files, events or checks beyond
// the CRC-32. The archive is opened and walked by the engine; each item's data is read from
// its local header on (1 MiB input chunks), raw-inflated into a 1 MiB buffer that is reused,
// and its CRC-32 compared with the directory's. Nothing is written to disk.
//
//     extract_floor ARCHIVE      exit 0 when every item is intact, 1 otherwise
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "platform/text.h"
#include "zip/archiver.h"

namespace {

using klv::zip::TDirItem;
using klv::zip::TZAStream;

constexpr std::int64_t kChunk = 1 << 20;
constexpr std::size_t kOutput = 1 << 20;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Reads and unpacks one item; false when it is not intact or not a plain stored/deflated one.
bool Unpack(TZAStream& in, const TDirItem& item, std::vector<std::uint8_t>& input,
            std::vector<std::uint8_t>& output) {
    if (item.Encrypted()) return false;
    std::uint8_t local[klv::zip::kLocalHeaderSize];
    in.Seek(item.LocalHeaderOffset());
    if (in.Read(local, sizeof local) != static_cast<std::int64_t>(sizeof local)) return false;
    in.Seek(in.Position() + U16(local + 26) + U16(local + 28));

    const std::uint16_t method = item.Header.Method();
    const std::int64_t packed = item.CompressedSize();
    const std::int64_t unpacked = item.UncompressedSize();
    uLong crc = crc32(0, nullptr, 0);
    std::int64_t produced = 0;
    z_stream z{};
    if (method == klv::zip::kMethodDeflated && inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    bool ok = method == klv::zip::kMethodStored || method == klv::zip::kMethodDeflated;
    bool ended = false;
    for (std::int64_t read = 0; ok && read < packed && !ended;) {
        const std::int64_t n = std::min(kChunk, packed - read);
        if (in.Read(input.data(), n) != n) {
            ok = false;
            break;
        }
        read += n;
        if (method == klv::zip::kMethodStored) {
            crc = crc32(crc, input.data(), static_cast<uInt>(n));
            produced += n;
            continue;
        }
        z.next_in = input.data();
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = output.data();
            z.avail_out = static_cast<uInt>(output.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc < 0 && rc != Z_BUF_ERROR) {
                ok = false;
                break;
            }
            const std::size_t have = output.size() - z.avail_out;
            crc = crc32(crc, output.data(), static_cast<uInt>(have));
            produced += static_cast<std::int64_t>(have);
            if (rc == Z_STREAM_END) ended = true;
            if (rc == Z_BUF_ERROR || (have == 0 && z.avail_in == 0)) break;
        } while (!ended && (z.avail_in > 0 || z.avail_out == 0));
    }
    if (method == klv::zip::kMethodDeflated) inflateEnd(&z);
    return ok && produced == unpacked && static_cast<std::uint32_t>(crc) == item.Header.Crc32();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: extract_floor ARCHIVE\n", stderr);
        return 2;
    }
    try {
        klv::zip::TZipArchive archive;
        archive.FileName = klv::platform::Utf8ToUtf16(argv[1]);
        archive.Open(klv::zip::kOpenModeShareRead);
        const klv::zip::TZADirArray& dir = archive.DirManager()->Directory;
        TZAStream& in = *archive.ArchiveStream();
        std::vector<std::uint8_t> input(kChunk), output(kOutput);
        int bad = 0;
        std::int64_t total = 0;
        for (std::int32_t i = 0; i < dir.Count(); ++i) {
            const TDirItem& item = dir.Item(i);
            if (!Unpack(in, item, input, output)) {
                std::fprintf(stderr, "not intact: %s\n", klv::platform::Utf16ToUtf8(item.FileName).c_str());
                ++bad;
            }
            total += item.UncompressedSize();
        }
        std::fprintf(stderr, "%d items, %lld bytes, %d not intact\n", dir.Count(),
                     static_cast<long long>(total), bad);
        return bad ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 3;
    }
}
