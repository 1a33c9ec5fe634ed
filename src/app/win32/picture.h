// The picture of Image1: a bitmap, a JPEG (decoded with libjpeg into a bitmap) or an icon,
// drawn at the top left of its control and clipped by it.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

#include "app/win32/gui.h"

namespace klv::app::win32 {

class Picture {
  public:
    // The file at `path`, read by its extension (.bmp, .jpg or .jpeg, .ico, in any case);
    // nothing when it is none of these or cannot be read as one.
    static std::optional<Picture> FromFile(std::string_view path);
    // An icon of the program's resources at `size` x `size` pixels.
    static std::optional<Picture> FromIconResource(HINSTANCE instance, int id, int size);

    void Draw(HDC dc) const;

  private:
    explicit Picture(GdiObject<HBITMAP> bitmap) : bitmap_(std::move(bitmap)) {}
    explicit Picture(OwnedIcon icon) : icon_(std::move(icon)) {}

    GdiObject<HBITMAP> bitmap_;
    OwnedIcon icon_;
};

// The bytes of a picture file; empty when it cannot be read, is empty or is larger than
// stubconf::kMaxConfigFileBytes.
std::vector<unsigned char> ReadPictureFile(std::string_view path);

// A JPEG file decoded into a top-down 32-bit bitmap; null when it cannot be decoded. Only the
// top-left `maxWidth` x `maxHeight` pixels are kept: no more can ever be shown.
GdiObject<HBITMAP> LoadJpegBitmap(std::string_view path, int maxWidth, int maxHeight);

// The picture control's window class ("TImage"); its window shows the Picture given to
// SetPicture (not owned).
void RegisterPictureClass(HINSTANCE instance);
inline constexpr const char* PictureClassName = "TImage";
void SetPicture(HWND control, const Picture* picture);

} // namespace klv::app::win32
