#include "check_picture.h"

#include <algorithm>
#include <csetjmp>
#include <vector>

#include "app/jpeg/decoder.h"
#include "app/stubconf/config_files.h"

namespace klv::klvpack {

namespace {

// As many rows and columns as the stub keeps of a picture.
constexpr JDIMENSION kMaxShownPixels = 2048;

// Decodes as the stub does: the header checked before decoding, BGRX rows, as many as it
// keeps. Only C frames of libjpeg lie between setjmp and longjmp; `problem` and `row` belong
// to the caller.
void DecodeJpeg(std::span<const std::uint8_t> bytes, std::string& problem,
                std::vector<unsigned char>& row) {
    jpeg::JpegDecoder decoder;
    if (setjmp(decoder.jump)) {
        problem = std::string("libjpeg cannot decode it: ") + decoder.message;
        return;
    }
    if (!decoder.Start(bytes, problem)) return;
    row.resize(std::size_t{decoder.info.output_width} * 4);
    const JDIMENSION rows = std::min(decoder.info.output_height, kMaxShownPixels);
    while (decoder.info.output_scanline < rows) {
        if (!decoder.ReadRow(row.data())) {
            problem = "its rows end early";
            break;
        }
    }
}

} // namespace

std::string PictureProblem(std::string_view lowerName, std::span<const std::uint8_t> bytes) {
    if (lowerName == "stub.bmp") return stubconf::BitmapRefusal(bytes);
    if (lowerName == "stub.ico") return stubconf::IconRefusal(bytes);
    if (bytes.empty()) return "the file is empty";
    if (bytes.size() > stubconf::kMaxConfigFileBytes) return "the file is larger than 64 MiB";
    if (bytes.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF)
        return "it is not a JPEG file";
    std::string problem;
    std::vector<unsigned char> row;
    DecodeJpeg(bytes, problem, row);
    return problem;
}

} // namespace klv::klvpack
