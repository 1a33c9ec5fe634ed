#include "app/jpeg/decoder.h"

#include <cstring>

#include "app/stubconf/config_files.h"

namespace klv::jpeg {

namespace {

[[noreturn]] void OnError(j_common_ptr info) {
    auto* decoder = static_cast<JpegDecoder*>(info->client_data);
    info->err->format_message(info, decoder->message);
    std::longjmp(decoder->jump, 1);
}

void OnMessage(j_common_ptr) {} // warnings are not printed

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

} // namespace

JpegDecoder::JpegDecoder() {
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&errors_);
    errors_.error_exit = OnError;
    errors_.output_message = OnMessage;
    info.client_data = this;
}

JpegDecoder::~JpegDecoder() {
    jpeg_destroy_decompress(&info);
}

bool JpegDecoder::Start(std::span<const std::uint8_t> bytes, std::string& refusal) {
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    // What the header declares decides before a byte is decoded (a progressive picture keeps
    // all its coefficients in memory).
    refusal = stubconf::JpegRefusal({info.image_width, info.image_height, info.data_precision,
                                     ColoursOf(info.jpeg_color_space)});
    if (!refusal.empty()) return false;
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    return true;
}

bool JpegDecoder::ReadRow(unsigned char* row) {
    JSAMPROW at = row;
    return jpeg_read_scanlines(&info, &at, 1) == 1;
}

} // namespace klv::jpeg
