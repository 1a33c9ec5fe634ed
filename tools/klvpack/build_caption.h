// The stub's stored caption block: found by its marker in the stub's bytes, read and
// replaced there (the installer reads its caption from the same block at run time).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace klv::klvpack {

// The offset of the caption text (behind the marker) when the marker occurs exactly once
// and the whole block lies inside `stub`; nothing for a stub that is not the installer.
std::optional<std::size_t> FindCaptionBlock(std::span<const std::uint8_t> stub);
// The stored caption (ANSI) of the block at `at`: the text up to its first NUL.
std::string ReadCaption(std::span<const std::uint8_t> stub, std::size_t at);
// Writes `caption` (ANSI) into the block at `at`, NUL-padded; false when it does not fit
// (the capacity includes the terminating NUL) or contains a NUL.
bool WriteCaption(std::vector<std::uint8_t>& stub, std::size_t at, const std::string& caption);
// The bytes the block holds for text, the terminating NUL included.
std::size_t CaptionCapacity();

} // namespace klv::klvpack
