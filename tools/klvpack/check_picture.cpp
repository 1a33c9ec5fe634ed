#include "check_picture.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "app/stubconf/config_files.h"

namespace klv::klvpack {

namespace {

// As many rows and columns as the stub keeps of a picture.
constexpr JDIMENSION kMaxShownPixels = 2048;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void OnError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    errors->base.format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void OnMessage(j_common_ptr) {}

stubconf::JpegColours ColoursOf(J_COLOR_SPACE space) {
    switch (space) {
    case JCS_GRAYSCALE:
        return stubconf::JpegColours::Grey;
    case JCS_YCbCr:
        return stubconf::JpegColours::YCbCr;
    case JCS_RGB:
        return stubconf::JpegColours::Rgb;
    case JCS_CMYK:
        return stubconf::JpegColours::Cmyk;
    case JCS_YCCK:
        return stubconf::JpegColours::Ycck;
    default:
        return stubconf::JpegColours::Other;
    }
}

// Decodes as the stub does: the header checked before decoding, BGRX rows, as many as it
// keeps. Only C frames of libjpeg lie between setjmp and longjmp; `problem` and `row` belong
// to the caller.
void DecodeJpeg(std::span<const std::uint8_t> bytes, std::string& problem,
                std::vector<unsigned char>& row) {
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.output_message = OnMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        problem = std::string("libjpeg cannot decode it: ") + errors.message;
        return;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    const stubconf::JpegFacts facts{info.image_width, info.image_height, info.data_precision,
                                    ColoursOf(info.jpeg_color_space)};
    problem = stubconf::JpegRefusal(facts);
    if (problem.empty()) {
        info.out_color_space = JCS_EXT_BGRX;
        jpeg_start_decompress(&info);
        row.resize(std::size_t{info.output_width} * 4);
        const JDIMENSION rows = std::min(info.output_height, kMaxShownPixels);
        while (info.output_scanline < rows) {
            JSAMPROW at = row.data();
            if (jpeg_read_scanlines(&info, &at, 1) != 1) {
                problem = "its rows end early";
                break;
            }
        }
    }
    jpeg_destroy_decompress(&info);
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
