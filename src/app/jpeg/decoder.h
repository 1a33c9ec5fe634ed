// libjpeg's decompressor as the stub uses it, shared by the stub's picture loader and klvpack
// check (which must decode as the stub does): warnings are not printed, the header's facts
// decide before a byte is decoded (stubconf::JpegRefusal), rows come out as BGRX.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio> // jpeglib.h uses FILE
#include <span>
#include <string>

#include <jpeglib.h>

namespace klv::jpeg {

// A fatal libjpeg error jumps back to `jump` with its text in `message`: the function that
// decodes calls setjmp(jump) before it starts, and keeps no object with a destructor alive from
// there into libjpeg's calls (the decoder itself is made before the setjmp).
class JpegDecoder {
  public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // Reads the header of `bytes` and, when the stub shows such a picture, starts decoding it
    // into BGRX rows (4 bytes a pixel, `info.output_width` wide). False, with the stub's reason
    // in `refusal`, when it does not.
    bool Start(std::span<const std::uint8_t> bytes, std::string& refusal);
    // Decodes the next row into `row`; false when the rows end early.
    bool ReadRow(unsigned char* row);

    jpeg_decompress_struct info;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};

  private:
    jpeg_error_mgr errors_;
};

} // namespace klv::jpeg
