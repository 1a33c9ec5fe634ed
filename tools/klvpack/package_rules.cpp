#include "package_rules.h"

#include "app/stubconf/stub_ini.h"
#include "platform/text.h"
#include "version_resource.h"

namespace klv::klvpack {

std::string AnsiShown(std::string_view ansi) {
    return platform::Utf16ToUtf8(platform::AnsiToUtf16(ansi));
}

std::string ComparableCaptionVersion(std::string_view caption) {
    const std::string version = stubconf::PackageVersionFromCaption(caption);
    return stubconf::ParseVersion(version) ? version : std::string();
}

std::optional<std::string> NoCaptionWarning(std::string_view caption) {
    if (caption.find_first_not_of(" \t") != std::string_view::npos) return std::nullopt;
    return "the caption is empty: the installer's window has no title (give one with --caption, "
           "or with \"Caption=\" in Stub.ini)";
}

std::optional<std::string> CaptionVersionWarning(std::string_view caption) {
    if (!ComparableCaptionVersion(caption).empty()) return std::nullopt;
    return "the caption carries no version (give one with --caption \"Kelvaro Update "
           "3.2.0.1]\"): the stub will ask the version question on every installation";
}

std::optional<std::string> ResourceFitWarning(std::string_view caption,
                                              std::string_view fileVersion) {
    const std::string version = ComparableCaptionVersion(caption);
    if (version.empty() || ResourceVersionOfCaption(caption)) return std::nullopt;
    return "the caption's version " + AnsiShown(version) +
           " does not fit a version resource (each part at most 65535): the package's file "
           "properties show " +
           (fileVersion.empty() ? std::string("no version") : std::string(fileVersion));
}

std::optional<std::string> EmptyPayloadWarning(std::int64_t files) {
    if (files > 0) return std::nullopt;
    return "the payload holds no file: the package installs nothing";
}

std::optional<std::string> ProgramFileWarning(const ProgramFileFacts& program,
                                              std::string_view captionVersion) {
    if (!program.present)
        return "a program upgrade without kelvaro.exe at the top of the payload: the installer "
               "keeps the installed program file, installs the other files and ends with "
               "\"Upgrade (...\\kelvaro.exe) niet ge\xC3\xAFnstalleerd\" and exit code 4 "
               "(add kelvaro.exe, or make a help or configured package)";
    if (!program.version)
        return std::string("kelvaro.exe has no version resource: installed, it reads as 0.0.0.0");
    const std::string text = VersionText(*program.version);
    if (captionVersion.empty() || stubconf::CompareVersions(text, captionVersion) == 0)
        return std::nullopt;
    return "kelvaro.exe is version " + text + " but the caption says " + AnsiShown(captionVersion);
}

} // namespace klv::klvpack
