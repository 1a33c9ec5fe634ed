// The bounds within which the stub reads its configuration files (Stub.ini and the picture),
// and the checks a picture's header must pass before the system or the decoder sees it.
// Shared by the installer and klvpack's check; standard library only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace klv::stubconf {

// Stub.ini larger than this is refused before it is written or read.
inline constexpr std::uint64_t kMaxStubIniBytes = 1u << 20; // 1 MiB
// Any other configuration file (the picture) larger than this likewise.
inline constexpr std::uint64_t kMaxConfigFileBytes = 64u << 20; // 64 MiB
// A picture declaring more pixels than this (width x height) is not decoded: 4096 x 4096, far
// more than the picture control shows (it keeps at most 2048 x 2048).
inline constexpr std::uint64_t kMaxPicturePixels = 1u << 24;

// The largest size a configuration item (a name matching "*Stub.*") may declare: Stub.ini's
// bound for a name ending in "stub.ini" (any case), the files' bound for the others.
std::uint64_t ConfigFileLimit(std::u16string_view name);

// Why a picture cannot be shown, in English (for klvpack check); empty when it can.
using PictureRefusal = std::string;

// A bitmap file (.bmp) as the system would load it: header, offsets and sizes against the
// file's bytes.
PictureRefusal BitmapRefusal(std::span<const std::uint8_t> file);
// An icon file (.ico): its directory and each image's place inside the file.
PictureRefusal IconRefusal(std::span<const std::uint8_t> file);

// What a JPEG header declares, as libjpeg reads it.
enum class JpegColours { Grey, YCbCr, Rgb, Cmyk, Ycck, Other };
struct JpegFacts {
    std::uint32_t width = 0, height = 0;
    int precision = 8; // bits per sample
    JpegColours colours = JpegColours::YCbCr;
};
// Checked after the header is read, before anything is decoded.
PictureRefusal JpegRefusal(const JpegFacts& facts);

} // namespace klv::stubconf
