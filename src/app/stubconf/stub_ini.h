// Stub.ini as the stub reads it, and the package version a caption carries. Shared by the
// installer and klvpack's check; the standard library and platform/ascii.h only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::stubconf {

// Lines of "name=value" in the ANSI code page, ended by CR LF or LF.
class StubIni {
  public:
    explicit StubIni(std::string_view text);
    // The text after the first "=" of the first line whose part before that "=" equals
    // `key` without regard to case; untrimmed. Empty when no line has the key.
    std::string Value(std::string_view key) const;
    // True when a line has `key` before its first "=", whatever its value.
    bool Has(std::string_view key) const;

  private:
    // The first line with `key`, `equals` where its "=" stands; null when none has it.
    const std::string* Line(std::string_view key, std::size_t& equals) const;
    std::vector<std::string> lines_;
};

// The keys the stub reads.
inline constexpr std::string_view KeyCaption = "Caption";
inline constexpr std::string_view KeyHeader = "Header";
inline constexpr std::string_view KeyExplanation = "uitleg";
inline constexpr std::string_view KeyFolderChoice = "folderkeuze";

// True only for the exact value "false" of "folderkeuze": the folder choice is hidden.
bool HidesFolderChoice(std::string_view folderChoice);
// True when `caption`, trimmed and lower-cased, contains "help": a help package.
bool IsHelpCaption(std::string_view caption);

// What a package is to the installer, from whether its payload holds an item matching
// "*stub.ini" (`configured`) and the caption the window shows: the one place the installer and
// klvpack check decide it.
enum class PackageKind {
    ProgramUpgrade, // neither: the version check, the program file and the shortcuts
    Help,           // the caption contains "help": no version check, the program file stays
    Configured,     // no folder validation, no version check, no shortcuts
    ConfiguredHelp, // a configured package whose caption contains "help" as well
};
PackageKind KindOfPackage(bool configured, std::string_view caption);

// The text between the first "Update " (case-sensitive) of `caption` and the next "]"
// (the caption's end counts as one); empty when there is no "Update ".
std::string PackageVersionFromCaption(std::string_view caption);

// A version as four numbers: major, minor, release, build.
using VersionNumbers = std::array<std::uint32_t, 4>;
// One to four decimal numbers joined by dots, blanks around the whole allowed; missing
// parts are 0. Nothing for any other text (empty, letters, empty parts, above 2^32 - 1).
std::optional<VersionNumbers> ParseVersion(std::string_view text);
// -1, 0 or 1 as `a` is older than, equal to or newer than `b`, part by part as numbers;
// nothing when either is not a version.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

} // namespace klv::stubconf
