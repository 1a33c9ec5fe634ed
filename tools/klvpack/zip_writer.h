// Writes a package: the stub's bytes, then a ZIP archive of a list of entries, deflated by
// libdeflate in parallel and written in the list's order, so the same input always gives the same bytes.
// The records are the engine's (zip/records.h); this is the one writer of ordinary archives,
// used by `klvpack build` and by the tests that need an archive as a package maker makes it.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_stream.h"

namespace klv::klvpack {

// A failure that stops a build; its text is the message for the maker.
struct PackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PackEntry {
    std::string name;       // UTF-8, '/' between components, a folder's name ends in '/'
    std::u16string source;  // the file to read; empty for a folder or an entry held in `content`
    std::string content;    // the entry's bytes when it has no `source`
    std::uint64_t size = 0; // of `source`; an entry held in `content` has that size
    std::uint32_t attributes = 0; // DOS attribute bits
    std::uint32_t dosStamp = 0;   // date << 16 | time
    bool folder = false;
    bool store = false; // kept as it is whatever the level (data known not to shrink)
};

// Deflate levels are libdeflate's: 1 the fastest to 12 the smallest; 0 stores everything.
constexpr int kMaxLevel = 12;
constexpr int kDefaultLevel = 7;

struct WriterOptions {
    int level = kDefaultLevel;
    unsigned threads = 0;            // deflating threads; 0: one per core
    std::size_t chunkSize = 1 << 20; // large files are deflated in pieces of this size
};

// Where a package's bytes go: appended in order, with an occasional look back.
class PackageSink {
  public:
    virtual ~PackageSink() = default;
    virtual void Append(const std::uint8_t* data, std::size_t count) = 0;
    // Writes over bytes appended before; the end stays where it is.
    virtual void Overwrite(std::uint64_t at, const std::uint8_t* data, std::size_t count) = 0;
    // Cuts the package back to `size` bytes; appending goes on from there.
    virtual void Truncate(std::uint64_t size) = 0;
};

// Writes `prefix` and the archive to `out` (empty). Offsets in the archive count from the
// start of `out`; the total length comes out a multiple of 8, so that a certificate table
// appended by signing follows the end record without padding.
void WritePackage(PackageSink& out, std::span<const std::uint8_t> prefix,
                  const std::vector<PackEntry>& entries, const WriterOptions& options);
// The same into a file (positioned at 0, empty).
void WritePackage(platform::FileStream& out, std::span<const std::uint8_t> prefix,
                  const std::vector<PackEntry>& entries, const WriterOptions& options);
// The same in memory.
std::string PackageBytes(std::span<const std::uint8_t> prefix,
                         const std::vector<PackEntry>& entries, const WriterOptions& options);

} // namespace klv::klvpack
