// Picture files as Image1 reads them (bitmap, JPEG through libjpeg, icon), drawn at the top
// left, and the stored caption the stub starts with. Fixtures in data/: a 100x70 JPEG (and a
// 20x14 bitmap) in four coloured quarters, red, green / blue, white, made with ImageMagick.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/stubconf/stored_caption.h"
#include "app/win32/picture.h"
#include "app/win32/stored_caption.h"

using namespace klv::app::win32;

namespace {

std::string SourcePath(const std::string& relative) {
    const char* root = std::getenv("KLV_SOURCE_DIR");
    std::string path = std::string("Z:") + (root ? root : "") + "/" + relative;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string Data(const std::string& name) {
    return SourcePath("tests/app_win32/data/" + name);
}

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    return SIZE{info.bmWidth, std::abs(info.bmHeight)};
}

// A white 120 x 80 canvas that a picture is drawn on, as in its control.
class Canvas {
  public:
    Canvas() : dc_(CreateCompatibleDC(nullptr)) {
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
        bmi.bmiHeader.biWidth = 120;
        bmi.bmiHeader.biHeight = -80;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        RECT all{0, 0, 120, 80};
        FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC Dc() const { return dc_; }
    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }

  private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

// Within JPEG's loss of the expected colour.
::testing::AssertionResult Near(COLORREF actual, COLORREF expected) {
    for (int shift : {0, 8, 16}) {
        const int a = (actual >> shift) & 0xFF, e = (expected >> shift) & 0xFF;
        if (std::abs(a - e) > 40)
            return ::testing::AssertionFailure()
                   << std::hex << "colour 0x" << actual << ", expected near 0x" << expected;
    }
    return ::testing::AssertionSuccess();
}

constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
                   kWhite = RGB(255, 255, 255);

} // namespace

TEST(PictureFiles, JpegsDecodeWithTheirColoursAtTheTopLeft) {
    for (const char* name : {"quad.jpg", "quad-progressive.jpg"}) {
        SCOPED_TRACE(name);
        const auto picture = Picture::FromFile(Data(name));
        ASSERT_TRUE(picture);
        Canvas canvas;
        picture->Draw(canvas.Dc(), kBaseDpi);
        EXPECT_TRUE(Near(canvas.At(10, 10), kRed));
        EXPECT_TRUE(Near(canvas.At(90, 10), kGreen));
        EXPECT_TRUE(Near(canvas.At(10, 60), kBlue));
        EXPECT_TRUE(Near(canvas.At(90, 60), kWhite));
        EXPECT_EQ(canvas.At(110, 75), kWhite); // outside the picture: the canvas untouched
    }
    const auto gray = Picture::FromFile(Data("quad-gray.jpg"));
    ASSERT_TRUE(gray);
    Canvas canvas;
    gray->Draw(canvas.Dc(), kBaseDpi);
    const COLORREF red = canvas.At(10, 10);
    EXPECT_EQ(GetRValue(red), GetGValue(red));
    EXPECT_TRUE(Near(red, RGB(76, 76, 76)));
}

TEST(PictureFiles, OnlyTheShownPartOfAJpegIsKept) {
    GdiObject<HBITMAP> whole = LoadJpegBitmap(Data("quad.jpg"), 2048, 2048);
    ASSERT_TRUE(whole);
    EXPECT_EQ(BitmapSize(whole.get()).cx, 100);
    EXPECT_EQ(BitmapSize(whole.get()).cy, 70);
    GdiObject<HBITMAP> part = LoadJpegBitmap(Data("quad.jpg"), 84, 55);
    ASSERT_TRUE(part);
    EXPECT_EQ(BitmapSize(part.get()).cx, 84);
    EXPECT_EQ(BitmapSize(part.get()).cy, 55);
}

TEST(PictureFiles, DamagedAndForeignFilesNeverBreakTheLoader) {
    // Not JPEG data, a missing file: no picture.
    EXPECT_FALSE(LoadJpegBitmap(Data("quad.bmp"), 84, 55));
    EXPECT_FALSE(LoadJpegBitmap(Data("no-such.jpg"), 84, 55));
    // CMYK cannot be shown as BGR: refused, not drawn wrongly.
    EXPECT_FALSE(LoadJpegBitmap(Data("quad-cmyk.jpg"), 84, 55));
    // A download cut short: libjpeg fills what is missing; the top rows are there.
    const auto cut = Picture::FromFile(Data("quad-cut.jpg"));
    ASSERT_TRUE(cut);
    Canvas canvas;
    cut->Draw(canvas.Dc(), kBaseDpi);
    EXPECT_TRUE(Near(canvas.At(10, 2), kRed));
}

std::string ReadData(const std::string& name) {
    std::string bytes;
    HANDLE file = CreateFileA(Data(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    return bytes;
}

// Writes `bytes` to a file of that name in the temporary folder; returns its path.
std::string TempFile(const std::string& name, const std::string& bytes) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

TEST(PictureFiles, HeadersThatLieAreRefusedBeforeTheyAreDecoded) {
    // The progressive picture declaring 12000 x 12000: decoded, it would take 864 MiB first.
    std::string jpeg = ReadData("quad-progressive.jpg");
    const std::size_t sof = jpeg.find("\xFF\xC2");
    ASSERT_NE(sof, std::string::npos);
    jpeg.replace(sof + 5, 4, "\x2E\xE0\x2E\xE0"); // height, width: 12000
    const std::string large = TempFile("klv-large.jpg", jpeg);
    EXPECT_FALSE(LoadJpegBitmap(large, 84, 55));
    DeleteFileA(large.c_str());

    // The bitmap claiming 20 x 1400 pixels in the file of 20 x 14: rows past its end.
    std::string bitmap = ReadData("quad.bmp");
    ASSERT_GT(bitmap.size(), 26u);
    bitmap.replace(22, 4, std::string("\x78\x05\x00\x00", 4));
    const std::string lying = TempFile("klv-lying.bmp", bitmap);
    EXPECT_FALSE(Picture::FromFile(lying));
    DeleteFileA(lying.c_str());
}

TEST(PictureFiles, TheExtensionChoosesTheReaderInAnyCase) {
    const auto bitmap = Picture::FromFile(Data("quad.BMP"));
    ASSERT_TRUE(bitmap);
    Canvas canvas;
    bitmap->Draw(canvas.Dc(), kBaseDpi);
    EXPECT_EQ(canvas.At(2, 2), kRed);
    EXPECT_EQ(canvas.At(18, 12), kWhite);
    EXPECT_EQ(canvas.At(30, 30), kWhite);

    const auto icon = Picture::FromFile(SourcePath("src/app/win32/klvupgradeStub.ico"));
    ASSERT_TRUE(icon);
    Canvas iconCanvas;
    icon->Draw(iconCanvas.Dc(), kBaseDpi);
    EXPECT_NE(iconCanvas.At(16, 16), kWhite); // drawn ...
    EXPECT_EQ(iconCanvas.At(40, 40), kWhite); // ... at its own 32 x 32

    EXPECT_FALSE(Picture::FromFile(Data("quad.png")));          // not a kind read here
    EXPECT_FALSE(Picture::FromFile(Data("quad.bmp") + ".jpg")); // missing
}

TEST(PictureFiles, AtAHigherDpiThePictureIsDrawnLargerByAsMuch) {
    // At 144 DPI the 20 x 14 bitmap takes 30 x 21: its red quarter 15 x 10 or 11.
    const auto bitmap = Picture::FromFile(Data("quad.bmp"));
    ASSERT_TRUE(bitmap);
    Canvas canvas;
    bitmap->Draw(canvas.Dc(), 144);
    EXPECT_TRUE(Near(canvas.At(12, 3), kRed)); // green at 96 DPI
    EXPECT_TRUE(Near(canvas.At(3, 9), kRed));  // blue at 96 DPI
    EXPECT_TRUE(Near(canvas.At(27, 3), kGreen));
    EXPECT_TRUE(Near(canvas.At(3, 19), kBlue));
    EXPECT_EQ(canvas.At(32, 3), kWhite); // past its 30 pixels: the canvas untouched
    EXPECT_EQ(canvas.At(3, 23), kWhite);

    const auto icon = Picture::FromFile(SourcePath("src/app/win32/klvupgradeStub.ico"));
    ASSERT_TRUE(icon);
    Canvas iconCanvas;
    icon->Draw(iconCanvas.Dc(), 144);
    EXPECT_NE(iconCanvas.At(24, 24), kWhite); // drawn ...
    EXPECT_EQ(iconCanvas.At(52, 52), kWhite); // ... at 48 x 48
}

TEST(StoredCaption, TheStubStartsWithTheStoredCaptionFromItsBlock) {
    EXPECT_EQ(StoredCaptionText(), klv::stubconf::StoredCaption);
}
