// Signed executables: signing appends a certificate table to the file and records its
// position in the PE header (data directory 4, "security"). A package is read through the
// view that ends where that table begins, the part the signature covers.
#pragma once

#include <cstdint>
#include <optional>

namespace klv::zip {

class TZAStream;

struct CertificateTable {
    std::int64_t offset = 0; // file offset of the table: the length of the signed view
    std::int64_t size = 0;
};

// The certificate table of the PE image in `stream`, when the file is one and its recorded
// table lies wholly inside the file behind the headers; nothing otherwise (also for every
// file that is not an executable). Leaves the stream's position undefined.
std::optional<CertificateTable> FindCertificateTable(TZAStream& stream);

// Where the PE image at the start of `stream` ends: behind its headers and the raw data of its
// sections, where whatever is appended to the executable (a package's payload) begins. It may
// lie past the stream's end (a file cut off inside the image). Nothing when the stream does
// not start with a PE image. Leaves the stream's position undefined.
std::optional<std::int64_t> ExecutableImageEnd(TZAStream& stream);

} // namespace klv::zip
