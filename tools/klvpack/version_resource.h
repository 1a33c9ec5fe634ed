// The package's version resource: read from a Windows executable's bytes on any host, and the
// update's version written into the stub's copy in place, before the payload is appended.
// The resource keeps its size: the stub's string values carry trailing room (spaces), and a
// value written shorter than its slot is padded with NULs, which every reader stops at.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/stubconf/stub_ini.h"

namespace klv::klvpack {

struct VersionInfo {
    std::uint64_t fileVersion = 0;    // dwFileVersionMS << 32 | dwFileVersionLS
    std::uint64_t productVersion = 0; // dwProductVersionMS << 32 | dwProductVersionLS
    // Each string of every string table (UTF-8), as a reader sees it: up to its first NUL.
    std::vector<std::pair<std::string, std::string>> strings;
    std::string String(std::string_view key) const;
};

// The image's version resource; nothing when there is none or it cannot be read.
std::optional<VersionInfo> ReadVersionInfo(std::span<const std::uint8_t> image);

// "3.2.0.1" for the numbers 3, 2, 0, 1.
std::string VersionText(std::uint64_t packed);

// The update's version written into the image's version resource: the fixed file and product
// version, FileVersion and ProductVersion ("3.2.0.1"), FileDescription and ProductName
// ("Kelvaro Update 3.2.0.1"); the other strings keep their text, their trailing room turned
// into NULs. Without a version the strings are only tidied so. A PE checksum the image has is
// cleared (it would no longer fit). Empty on success, else why nothing was written.
std::string StampVersion(std::vector<std::uint8_t>& image,
                         const std::optional<stubconf::VersionNumbers>& version);

// The version a stub's stored caption gives its package: nothing when the caption carries
// none, and also for a version whose parts do not fit the resource's 16-bit fields.
std::optional<stubconf::VersionNumbers> ResourceVersionOfCaption(std::string_view caption);

} // namespace klv::klvpack

namespace klv::klvpack {

// klvpack build's step: the version of the stub's stored caption written into its version
// resource. What it did, for build to print ("version resource: 3.2.0.1"); a warning where the
// resource could not take it (build goes on: the package installs all the same).
struct StampOutcome {
    std::string line, warning;
};
StampOutcome StampCaptionVersion(std::vector<std::uint8_t>& stub);

} // namespace klv::klvpack
