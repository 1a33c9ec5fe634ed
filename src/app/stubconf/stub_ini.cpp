#include "app/stubconf/stub_ini.h"

#include <algorithm>

#include "platform/ascii.h"

namespace klv::stubconf {

using platform::LowerAscii;
using platform::SameAsciiNoCase;
using platform::TrimmedView;

StubIni::StubIni(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

const std::string* StubIni::Line(std::string_view key, std::size_t& equals) const {
    for (const std::string& line : lines_) {
        equals = line.find('=');
        if (equals != std::string::npos &&
            SameAsciiNoCase(std::string_view(line).substr(0, equals), key))
            return &line;
    }
    return nullptr;
}

std::string StubIni::Value(std::string_view key) const {
    std::size_t equals = 0;
    const std::string* line = Line(key, equals);
    return line ? line->substr(equals + 1) : std::string();
}

bool StubIni::Has(std::string_view key) const {
    std::size_t equals = 0;
    return Line(key, equals) != nullptr;
}

bool HidesFolderChoice(std::string_view folderChoice) {
    return folderChoice == "false";
}

bool IsHelpCaption(std::string_view caption) {
    std::string lower(TrimmedView(caption));
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii<char>);
    return lower.find("help") != std::string::npos;
}

PackageKind KindOfPackage(bool configured, std::string_view caption) {
    const bool help = IsHelpCaption(caption);
    if (configured) return help ? PackageKind::ConfiguredHelp : PackageKind::Configured;
    return help ? PackageKind::Help : PackageKind::ProgramUpgrade;
}

std::string PackageVersionFromCaption(std::string_view caption) {
    const std::string text = std::string(caption) + "]";
    constexpr std::string_view prefix = "Update ";
    const std::size_t start = text.find(prefix);
    if (start == std::string::npos) return {};
    const std::size_t from = start + prefix.size();
    return text.substr(from, text.find(']', from) - from);
}

std::optional<VersionNumbers> ParseVersion(std::string_view text) {
    text = TrimmedView(text);
    VersionNumbers numbers{};
    std::size_t part = 0;
    while (true) {
        if (part == numbers.size()) return std::nullopt;
        std::size_t digits = 0;
        std::uint64_t value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
            if (value > 0xFFFFFFFFu) return std::nullopt;
            ++digits;
        }
        if (digits == 0) return std::nullopt;
        numbers[part++] = static_cast<std::uint32_t>(value);
        text.remove_prefix(digits);
        if (text.empty()) return numbers;
        if (text.front() != '.') return std::nullopt;
        text.remove_prefix(1);
    }
}

std::optional<int> CompareVersions(std::string_view a, std::string_view b) {
    const auto x = ParseVersion(a);
    const auto y = ParseVersion(b);
    if (!x || !y) return std::nullopt;
    if (*x < *y) return -1;
    if (*y < *x) return 1;
    return 0;
}

} // namespace klv::stubconf
