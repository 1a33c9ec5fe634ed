#include "app/stubconf/config_files.h"

#include "platform/ascii.h"

namespace klv::stubconf {

using platform::SameAsciiNoCase;

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t U16(Bytes b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t U32(Bytes b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

std::uint32_t BigU32(Bytes b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

bool ValidBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The bytes of `height` rows of `width` pixels, each row padded to 4 bytes.
std::uint64_t RowBytes(std::uint64_t width, std::uint64_t bits, std::uint64_t height) {
    return (width * bits + 31) / 32 * 4 * height;
}

std::string Count(std::uint64_t n) {
    return std::to_string(n);
}

} // namespace

std::uint64_t ConfigFileLimit(std::u16string_view name) {
    constexpr std::u16string_view ini = u"stub.ini";
    const bool isIni =
        name.size() >= ini.size() && SameAsciiNoCase(name.substr(name.size() - ini.size()), ini);
    return isIni ? kMaxStubIniBytes : kMaxConfigFileBytes;
}

PictureRefusal BitmapRefusal(Bytes file) {
    const std::uint64_t size = file.size();
    if (size < 18 || file[0] != 'B' || file[1] != 'M') return "it is not a bitmap file";
    if (size > kMaxConfigFileBytes) return "the file is larger than 64 MiB";
    const std::uint64_t pixelsAt = U32(file, 10);
    const std::uint32_t header = U32(file, 14);
    if (header != 12 && header != 40 && header != 52 && header != 56 && header != 108 &&
        header != 124)
        return "its header size " + Count(header) + " is none a bitmap has";
    if (14 + std::uint64_t{header} > size) return "its header runs past the end of the file";
    std::uint64_t width, height;
    std::uint32_t planes, bits, compression = 0, imageSize = 0, used = 0, masks = 0;
    std::uint64_t entry = 4;
    if (header == 12) {
        width = U16(file, 18);
        height = U16(file, 20);
        planes = U16(file, 22);
        bits = U16(file, 24);
        entry = 3;
    } else {
        const auto w = static_cast<std::int32_t>(U32(file, 18));
        const auto h = static_cast<std::int32_t>(U32(file, 22));
        width = w > 0 ? static_cast<std::uint64_t>(w) : 0;
        height = h < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(h))
                       : static_cast<std::uint64_t>(h);
        planes = U16(file, 26);
        bits = U16(file, 28);
        compression = U32(file, 30);
        imageSize = U32(file, 34);
        used = U32(file, 46);
        if (header == 40 && compression == 3) masks = 12;
    }
    if (width == 0 || height == 0) return "it declares no pixels (width or height 0)";
    if (planes != 1 || !ValidBitCount(bits))
        return "its header declares " + Count(planes) + " planes of " + Count(bits) + " bits";
    if (width * height > kMaxPicturePixels)
        return "it declares " + Count(width) + " x " + Count(height) +
               " pixels, more than the stub decodes (" + Count(kMaxPicturePixels) + ")";
    const bool rle = compression == 1 || compression == 2;
    if (compression > 3 || (compression == 1 && bits != 8) || (compression == 2 && bits != 4) ||
        (compression == 3 && bits != 16 && bits != 32))
        return "its compression " + Count(compression) + " is not one the stub shows with " +
               Count(bits) + "-bit pixels";
    const std::uint64_t palette = bits <= 8 ? (used ? used : 1u << bits) : used;
    if (bits <= 8 && palette > (1u << bits))
        return "its colour table claims " + Count(palette) + " colours";
    const std::uint64_t tableEnd = 14 + std::uint64_t{header} + masks + palette * entry;
    if (pixelsAt < tableEnd || pixelsAt > size)
        return "its pixels' offset " + Count(pixelsAt) +
               " lies outside the file, after its colour table and before its end (" + Count(size) +
               " bytes)";
    const std::uint64_t pixelBytes = rle ? imageSize : RowBytes(width, bits, height);
    if ((rle && imageSize == 0) || pixelBytes > size - pixelsAt)
        return "its pixels (" + Count(pixelBytes) + " bytes from offset " + Count(pixelsAt) +
               ") run past the end of the file";
    return {};
}

PictureRefusal IconRefusal(Bytes file) {
    const std::uint64_t size = file.size();
    if (size < 6 || U16(file, 0) != 0 || U16(file, 2) != 1) return "it is not an icon file";
    if (size > kMaxConfigFileBytes) return "the file is larger than 64 MiB";
    const std::uint64_t count = U16(file, 4);
    const std::uint64_t directoryEnd = 6 + 16 * count;
    if (count == 0) return "its directory holds no image";
    if (directoryEnd > size)
        return "its directory of " + Count(count) + " images runs past the end of the file";
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(6 + 16 * i);
        const std::uint64_t bytes = U32(file, at + 8);
        const std::uint64_t offset = U32(file, at + 12);
        const std::string which = "its image " + Count(i + 1);
        if (bytes < 8 || offset < directoryEnd || offset > size || bytes > size - offset)
            return which + " (" + Count(bytes) + " bytes at offset " + Count(offset) +
                   ") lies outside the file's " + Count(size) + " bytes";
        const Bytes image =
            file.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(bytes));
        if (image[0] == 0x89 && image[1] == 'P' && image[2] == 'N' && image[3] == 'G') {
            // The system decodes a PNG image whole: its declared size is bounded too.
            if (bytes < 24 || image[12] != 'I' || image[13] != 'H' || image[14] != 'D' ||
                image[15] != 'R')
                return which + " is a PNG without its header";
            const std::uint64_t w = BigU32(image, 16), h = BigU32(image, 20);
            if (w == 0 || h == 0 || w * h > kMaxPicturePixels)
                return which + " is a PNG declaring " + Count(w) + " x " + Count(h) + " pixels";
            continue;
        }
        if (bytes < 40 || U32(image, 0) != 40) return which + " is neither a bitmap nor a PNG";
        const auto w = static_cast<std::int32_t>(U32(image, 4));
        const auto h = static_cast<std::int32_t>(U32(image, 8));
        const std::uint32_t bits = U16(image, 14);
        // The height counts the colour image and its mask.
        if (w <= 0 || w > 256 || h <= 0 || h > 512 || h % 2 != 0 || U16(image, 12) != 1 ||
            !ValidBitCount(bits))
            return which + " declares " + Count(static_cast<std::uint32_t>(w)) + " x " +
                   Count(static_cast<std::uint32_t>(h)) + " pixels of " + Count(bits) + " bits";
        const std::uint64_t rows = static_cast<std::uint64_t>(h) / 2;
        const std::uint64_t used = U32(image, 32);
        const std::uint64_t palette = bits <= 8 ? (used ? used : 1u << bits) : 0;
        const std::uint64_t need = 40 + palette * 4 +
                                   RowBytes(static_cast<std::uint64_t>(w), bits, rows) +
                                   RowBytes(static_cast<std::uint64_t>(w), 1, rows);
        if ((bits <= 8 && palette > (1u << bits)) || need > bytes)
            return which + " needs " + Count(need) + " bytes but holds " + Count(bytes);
    }
    return {};
}

PictureRefusal JpegRefusal(const JpegFacts& f) {
    if (f.width == 0 || f.height == 0) return "it declares no pixels (width or height 0)";
    if (std::uint64_t{f.width} * f.height > kMaxPicturePixels)
        return "it declares " + Count(f.width) + " x " + Count(f.height) +
               " pixels, more than the stub decodes (" + Count(kMaxPicturePixels) + ")";
    if (f.precision != 8)
        return "its samples have " + Count(static_cast<std::uint64_t>(f.precision)) +
               " bits; the stub decodes 8-bit JPEG only";
    if (f.colours == JpegColours::Cmyk || f.colours == JpegColours::Ycck)
        return "it is a CMYK JPEG; the stub decodes grey, RGB and YCbCr only";
    if (f.colours == JpegColours::Other) return "its colour space is none the stub decodes";
    return {};
}

} // namespace klv::stubconf
