// The names of a payload's items as the installer takes them: each stored name becomes the
// path it installs as, or is refused with the reason. The installer, `klvpack build` and
// `klvpack check` share these rules, so what the tool accepts is what the installer writes.
//
// A stored name is split into parts on '\' and '/'; "." parts are dropped and the parts are
// joined with '\'. Refused: an empty name; a leading separator (absolute, "\\server"); ':'
// anywhere (a drive or a stream); a control character or one of < > " | ? *; an empty part
// (a doubled separator); a ".." part; a last part "."; a part ending in '.' or a blank (Windows
// drops them, so "a." and "a" would be one file); a Windows device name as a part, with or
// without an extension, in any case ("nul.txt", "Con.tar.gz"); a part beginning with
// ReservedPrefix. Over the whole payload, compared without case as Windows compares names:
// two items with one path, and an item whose path runs through another item that is a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/stubconf/reserved_names.h"

namespace klv::stubconf {

// The system's case mapping of one UTF-16 unit. These rules include nothing of the platform,
// so the installer and klvpack pass the platform's UpperUnit: the same mapping the installer's
// file system uses to tell names apart.
using CaseFold = char16_t (*)(char16_t);

// True when Windows opens a device, not a file, for the path part `part`: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM1-COM9 and LPT1-LPT9 (also with a superscript 1, 2 or 3), in any case,
// whatever extension follows and with blanks before it ("NUL .txt", "com1.log").
bool IsDeviceName(std::u16string_view part);

// Why the installer refuses an item stored under `stored` on its own (not counting the other
// items); nothing when it takes it, and then `path` holds the path it installs as ('\'
// between parts; a folder entry's trailing separator removed).
std::optional<std::u16string> ItemNameProblem(std::u16string_view stored, std::u16string& path);

struct PayloadName {
    std::u16string stored; // as the directory holds it
    bool folder = false;   // a folder entry (by its attribute or a trailing separator)
};

struct NameRefusal {
    std::size_t index = 0; // of the refused item
    std::u16string reason;
};

struct PayloadPaths {
    std::vector<std::u16string> paths; // per item, empty for a refused one
    std::vector<NameRefusal> refusals; // in item order; none when the installer takes all
};

// Every item's installed path, and every item the installer refuses with the reason.
PayloadPaths CanonicalPayloadPaths(const std::vector<PayloadName>& items, CaseFold fold);

} // namespace klv::stubconf
