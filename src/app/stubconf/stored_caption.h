// Where the installer keeps its stored window caption, so that the package maker can replace
// it in a copy of the stub without the resource API: a block in the executable's data that
// begins with a fixed marker, followed by the caption as 8-bit ANSI text, NUL-terminated and
// padded with NULs to a fixed capacity. The stub reads the text behind the marker; klvpack
// finds the marker (exactly once) in the stub file and writes a new text into the block.
#pragma once

#include <cstddef>
#include <string_view>

namespace klv::stubconf {

// 16 bytes that occur nowhere else in the stub.
inline constexpr std::string_view CaptionMarker{"KLV-CAPTION-v1:\x01", 16};
// Bytes for the text behind the marker, the terminating NUL included.
inline constexpr std::size_t CaptionCapacity = 256;
// The caption as the stub is built.
inline constexpr std::string_view StoredCaption =
    "Kwartierblad met plaats en datum                          ";

} // namespace klv::stubconf
