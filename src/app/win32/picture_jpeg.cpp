// JPEG pictures through libjpeg: the file is read into memory, decoded row by row into BGRX
// pixels, and the visible part copied into a DIB section.
#include <windows.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "app/jpeg/decoder.h"
#include "app/stubconf/config_files.h"
#include "app/win32/picture.h"

namespace klv::app::win32 {

namespace {

struct Decoded {
    std::vector<unsigned char> row;    // one full output row
    std::vector<unsigned char> pixels; // width x height, 4 bytes each, top-down
    int width = 0;
    int height = 0;
};

// Only C frames of libjpeg lie between setjmp and longjmp here; the decoder and `refusal` are
// made before it and `out` belongs to the caller, so no destructor is skipped.
bool Decode(const unsigned char* data, std::size_t size, int maxWidth, int maxHeight,
            Decoded& out) {
    jpeg::JpegDecoder decoder;
    std::string refusal;
    if (setjmp(decoder.jump)) return false;
    if (!decoder.Start({data, size}, refusal)) return false;
    const jpeg_decompress_struct& info = decoder.info;
    out.width = static_cast<int>(std::min<JDIMENSION>(info.output_width, maxWidth));
    out.height = static_cast<int>(std::min<JDIMENSION>(info.output_height, maxHeight));
    out.row.resize(std::size_t{info.output_width} * 4);
    out.pixels.resize(std::size_t(out.width) * std::size_t(out.height) * 4);
    while (info.output_scanline < JDIMENSION(out.height)) {
        const std::size_t y = info.output_scanline;
        if (!decoder.ReadRow(out.row.data())) break;
        std::memcpy(out.pixels.data() + y * std::size_t(out.width) * 4, out.row.data(),
                    std::size_t(out.width) * 4);
    }
    if (info.output_scanline == info.output_height) jpeg_finish_decompress(&decoder.info);
    return out.width > 0 && out.height > 0;
}

} // namespace

std::vector<unsigned char> ReadPictureFile(std::string_view name) {
    const std::string path(name);
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
        static_cast<std::uint64_t>(size.QuadPart) <= stubconf::kMaxConfigFileBytes) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
            read != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

GdiObject<HBITMAP> LoadJpegBitmap(std::string_view path, int maxWidth, int maxHeight) {
    const std::vector<unsigned char> bytes = ReadPictureFile(path);
    Decoded decoded;
    if (bytes.empty() || !Decode(bytes.data(), bytes.size(), maxWidth, maxHeight, decoded))
        return nullptr;

    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = decoded.width;
    bmi.bmiHeader.biHeight = -decoded.height; // top-down, as decoded
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject<HBITMAP> bitmap(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return nullptr;
    std::memcpy(bits, decoded.pixels.data(), decoded.pixels.size());
    return bitmap;
}

} // namespace klv::app::win32
