// What the stub does with its picture: the same header checks, and a JPEG decoded with libjpeg
// as the stub decodes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace klv::klvpack {

// Why the stub cannot show the picture file `lowerName` ("stub.bmp", "stub.jpg" or "stub.ico")
// with these bytes, in English; empty when it shows it.
std::string PictureProblem(std::string_view lowerName, std::span<const std::uint8_t> bytes);

} // namespace klv::klvpack
