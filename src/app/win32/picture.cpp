#include "app/win32/picture.h"
#include "app/stubconf/config_files.h"
#include "app/win32/dpi.h"
#include "app/win32/gui.h"
#include "util/ascii_text.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace klv::app::win32 {

namespace {

// Far more than the picture control can show, and a bound on what a hostile file costs.
constexpr int kMaxShownPixels = 2048;
// The picture control's window extra: the DPI its picture is drawn at.
constexpr int kDpiSlot = 0;

std::string LowerExtension(std::string_view path) {
    const auto dot = path.find_last_of(".\\/");
    if (dot == std::string_view::npos || path[dot] != '.') return {};
    return util::LowerAscii(path.substr(dot));
}

LRESULT CALLBACK PictureProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (auto* picture =
                reinterpret_cast<const Picture*>(GetWindowLongPtrA(window, GWLP_USERDATA)))
            picture->Draw(dc, static_cast<int>(GetWindowLongPtrA(window, kDpiSlot)));
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

std::optional<Picture> Picture::FromFile(std::string_view path) {
    const std::string ext = LowerExtension(path);
    const std::string file(path);
    // A bitmap's or an icon's header is checked against its file before the system reads it.
    auto refused = [&](stubconf::PictureRefusal (*check)(std::span<const std::uint8_t>)) {
        const std::vector<unsigned char> bytes = ReadPictureFile(path);
        return !check(bytes).empty();
    };
    if (ext == ".bmp") {
        if (refused(stubconf::BitmapRefusal)) return std::nullopt;
        GdiObject<HBITMAP> bitmap(static_cast<HBITMAP>(LoadImageA(
            nullptr, file.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
        if (bitmap) return Picture(std::move(bitmap));
    } else if (ext == ".jpg" || ext == ".jpeg") {
        if (auto bitmap = LoadJpegBitmap(path, kMaxShownPixels, kMaxShownPixels))
            return Picture(std::move(bitmap));
    } else if (ext == ".ico") {
        if (refused(stubconf::IconRefusal)) return std::nullopt;
        // Width and height 0: the icon's own size, as stored.
        OwnedIcon icon(static_cast<HICON>(
            LoadImageA(nullptr, file.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE)));
        if (icon) return Picture(std::move(icon), kBaseDpi);
    }
    return std::nullopt;
}

std::optional<Picture> Picture::FromIconResource(HINSTANCE instance, int id, int size, int dpi) {
    const int pixels = Scaled(size, dpi);
    OwnedIcon icon(static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, pixels, pixels, 0)));
    if (!icon) return std::nullopt;
    return Picture(std::move(icon), dpi);
}

Picture::Picture(OwnedIcon icon, int dpi) : icon_(std::move(icon)), madeForDpi_(dpi) {
    ICONINFO info{};
    if (!GetIconInfo(icon_.get(), &info)) return;
    BITMAP mask{};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    // Without a colour bitmap the mask holds the AND and the XOR halves one above the other.
    iconSize_ = SIZE{mask.bmWidth, info.hbmColor ? mask.bmHeight : mask.bmHeight / 2};
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
}

void Picture::Draw(HDC dc, int dpi) const {
    if (icon_) {
        // At its own size (0 x 0), or scaled by the system's icon drawing.
        const bool own = dpi == madeForDpi_;
        DrawIconEx(dc, 0, 0, icon_.get(), own ? 0 : MulDiv(iconSize_.cx, dpi, madeForDpi_),
                   own ? 0 : MulDiv(iconSize_.cy, dpi, madeForDpi_), 0, nullptr, DI_NORMAL);
        return;
    }
    if (bitmap_) DrawBitmap(dc, dpi);
}

void Picture::DrawBitmap(HDC dc, int dpi) const {
    BITMAP info{};
    GetObjectA(bitmap_.get(), sizeof info, &info);
    int width = info.bmWidth;
    int height = std::abs(info.bmHeight);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, bitmap_.get());
    if (dpi == madeForDpi_) {
        BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
    } else {
        // Only the part the control shows (and a pixel more for the filter's edge).
        RECT clip{};
        if (GetClipBox(dc, &clip) != ERROR) {
            width = std::min(width, MulDiv(clip.right, madeForDpi_, dpi) + 1);
            height = std::min(height, MulDiv(clip.bottom, madeForDpi_, dpi) + 1);
        }
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, 0, 0, MulDiv(width, dpi, madeForDpi_), MulDiv(height, dpi, madeForDpi_),
                   source, 0, 0, width, height, SRCCOPY);
    }
    SelectObject(source, old);
    DeleteDC(source);
}

void RegisterPictureClass(HINSTANCE instance) {
    RegisterWindowClass(instance, PictureClassName, PictureProcedure, nullptr, sizeof(LONG_PTR));
}

void SetPicture(HWND control, const Picture* picture, int dpi) {
    SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
    SetWindowLongPtrA(control, kDpiSlot, dpi);
    InvalidateRect(control, nullptr, TRUE);
}

} // namespace klv::app::win32
