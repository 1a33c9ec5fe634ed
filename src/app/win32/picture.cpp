#include "app/win32/picture.h"
#include "app/stubconf/config_files.h"
#include "app/win32/gui.h"
#include "util/ascii_text.h"

#include <cstdlib>
#include <string>

namespace klv::app::win32 {

namespace {

// Far more than the picture control can show, and a bound on what a hostile file costs.
constexpr int kMaxShownPixels = 2048;

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
            picture->Draw(dc);
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
        if (icon) return Picture(std::move(icon));
    }
    return std::nullopt;
}

std::optional<Picture> Picture::FromIconResource(HINSTANCE instance, int id, int size) {
    OwnedIcon icon(
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0)));
    if (!icon) return std::nullopt;
    return Picture(std::move(icon));
}

void Picture::Draw(HDC dc) const {
    if (icon_) {
        DrawIconEx(dc, 0, 0, icon_.get(), 0, 0, 0, nullptr, DI_NORMAL);
        return;
    }
    if (!bitmap_) return;
    BITMAP info{};
    GetObjectA(bitmap_.get(), sizeof info, &info);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, bitmap_.get());
    BitBlt(dc, 0, 0, info.bmWidth, std::abs(info.bmHeight), source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

void RegisterPictureClass(HINSTANCE instance) {
    RegisterWindowClass(instance, PictureClassName, PictureProcedure, nullptr, 0);
}

void SetPicture(HWND control, const Picture* picture) {
    SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
    InvalidateRect(control, nullptr, TRUE);
}

} // namespace klv::app::win32
