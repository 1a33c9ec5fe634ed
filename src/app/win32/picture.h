// The picture of Image1: a bitmap, a JPEG (decoded with libjpeg into a bitmap) or an icon,
// drawn at the top left of its control and clipped by it. A picture file's pixels are 96-DPI
// pixels: shown at a higher DPI it is drawn larger by as much, smoothly.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

#include "app/win32/dpi.h"
#include "app/win32/gui.h"

namespace klv::app::win32 {

class Picture {
  public:
    // The file at `path`, read by its extension (.bmp, .jpg or .jpeg, .ico, in any case);
    // nothing when it is none of these or cannot be read as one.
    static std::optional<Picture> FromFile(std::string_view path);
    // An icon of the program's resources at `size` x `size` 96-DPI pixels, made for `dpi`.
    static std::optional<Picture> FromIconResource(HINSTANCE instance, int id, int size, int dpi);

    // Draws the picture at the top left of `dc`, at `dpi`.
    void Draw(HDC dc, int dpi) const;

  private:
    explicit Picture(GdiObject<HBITMAP> bitmap) : bitmap_(std::move(bitmap)) {}
    Picture(OwnedIcon icon, int dpi);
    void DrawBitmap(HDC dc, int dpi) const;

    GdiObject<HBITMAP> bitmap_;
    OwnedIcon icon_;
    SIZE iconSize_{};
    int madeForDpi_ = kBaseDpi; // the DPI at which a pixel of the picture is a pixel of the screen
};

// The bytes of a picture file; empty when it cannot be read, is empty or is larger than
// stubconf::kMaxConfigFileBytes.
std::vector<unsigned char> ReadPictureFile(std::string_view path);

// A JPEG file decoded into a top-down 32-bit bitmap; null when it cannot be decoded. Only the
// top-left `maxWidth` x `maxHeight` pixels are kept: no more can ever be shown.
GdiObject<HBITMAP> LoadJpegBitmap(std::string_view path, int maxWidth, int maxHeight);

// The picture control's window class ("TImage"); its window shows the Picture given to
// SetPicture (not owned), drawn at `dpi` (its owner's, given again when that changes).
void RegisterPictureClass(HINSTANCE instance);
inline constexpr const char* PictureClassName = "TImage";
void SetPicture(HWND control, const Picture* picture, int dpi);

} // namespace klv::app::win32
