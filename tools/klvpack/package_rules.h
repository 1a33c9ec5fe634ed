// The mistakes klvpack names in a package, one rule each, shared by build (before it writes a
// package) and check (on a package made by any tool). Each gives the warning's text, or
// nothing where the package is as it should be. Captions and versions are ANSI, as stored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace klv::klvpack {

// The caption the window will show is empty (a Stub.ini without "Caption" empties it).
std::optional<std::string> NoCaptionWarning(std::string_view caption);
// A program upgrade whose caption carries no version the installer can compare.
std::optional<std::string> CaptionVersionWarning(std::string_view caption);
// A caption version that the installer compares but whose parts do not fit the package's
// version resource (each at most 65535); `fileVersion` is what the file properties show.
std::optional<std::string> ResourceFitWarning(std::string_view caption,
                                              std::string_view fileVersion);
// A payload without a single file.
std::optional<std::string> EmptyPayloadWarning(std::int64_t files);

// A program upgrade's kelvaro.exe at the top of the payload: missing, without a version
// resource (`version` empty), or of another version than the caption's (`captionVersion`,
// empty when the caption carries none).
struct ProgramFileFacts {
    bool present = false;
    std::optional<std::uint64_t> version;
};
std::optional<std::string> ProgramFileWarning(const ProgramFileFacts& program,
                                              std::string_view captionVersion);

// The caption's version when the installer can compare it, else empty.
std::string ComparableCaptionVersion(std::string_view caption);
// Text in the ANSI code page as UTF-8, for messages.
std::string AnsiShown(std::string_view ansi);

} // namespace klv::klvpack
