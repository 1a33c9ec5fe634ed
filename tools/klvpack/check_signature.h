// Whether the part of a signed package that its signature covers is still as signed: the
// Authenticode digest of the file, computed here, against the digest the signature holds.
// The certificates themselves are not judged (osslsigncode verify does that).
#pragma once

#include <cstdint>
#include <string>

namespace klv::zip {
class TZAStream;
struct CertificateTable;
} // namespace klv::zip

namespace klv::klvpack {

enum class DigestVerdict { Matches, Differs, Unknown };

struct SignatureDigest {
    DigestVerdict verdict = DigestVerdict::Unknown;
    std::string algorithm; // "SHA-256", "SHA-1"
};

// Hashes the image in `file` as signing does (everything before the certificate table but
// the header's checksum and certificate-table entry) with the algorithm the signature names,
// and compares it with the signature's digest.
SignatureDigest CheckSignatureDigest(zip::TZAStream& file, const zip::CertificateTable& table);

} // namespace klv::klvpack
