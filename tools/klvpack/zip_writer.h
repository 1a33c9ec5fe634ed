// Writes a package: the stub's bytes, then a ZIP archive of a list of entries, deflated in
// parallel and written in the list's order, so the same input always gives the same bytes.
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
    std::string name;      // UTF-8, '/' between components, a folder's name ends in '/'
    std::u16string source; // the file to read; empty for a folder
    std::uint64_t size = 0;
    std::uint32_t attributes = 0; // DOS attribute bits
    std::uint32_t dosStamp = 0;   // date << 16 | time
    bool folder = false;
};

struct WriterOptions {
    int level = 6;                   // 0 stores everything
    unsigned threads = 0;            // deflating threads; 0: one per core
    std::size_t chunkSize = 1 << 20; // large files are deflated in pieces of this size
};

// Writes `prefix` and the archive to `out` (positioned at 0, empty). Offsets in the archive
// count from the start of `out`; the total length comes out a multiple of 8, so that a
// certificate table appended by signing follows the end record without padding.
void WritePackage(platform::FileStream& out, std::span<const std::uint8_t> prefix,
                  const std::vector<PackEntry>& entries, const WriterOptions& options);

} // namespace klv::klvpack
