#include "util/FastStrings.h"

#include <cstddef>

#include "platform/ansi_text.h"
#include "util/assertion.h"

namespace klv::util {

namespace {

std::array<unsigned char, 256> BuildUpperCaseMap() {
    std::array<char, 256> bytes{};
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    platform::UpperAnsiInPlace(bytes.data() + 1, bytes.size() - 1);
    std::array<unsigned char, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[i] = static_cast<unsigned char>(bytes[i]);
    return map;
}

bool MatchesAt(std::string_view searchText, std::string_view source, std::ptrdiff_t at,
               bool caseSensitive) {
    std::string_view part = source.substr(static_cast<std::size_t>(at), searchText.size());
    if (caseSensitive) return part == searchText;
    for (std::size_t i = 0; i < part.size(); ++i)
        if (UpperCaseMap[static_cast<unsigned char>(part[i])] !=
            UpperCaseMap[static_cast<unsigned char>(searchText[i])])
            return false;
    return true;
}

} // namespace

unsigned char UpperCaseTable::operator[](std::size_t byte) const {
    static const std::array<unsigned char, 256> map = BuildUpperCaseMap();
    return map[byte];
}

int SmartFind(std::string_view searchText, std::string_view source, bool caseSensitive,
              int startPos, bool forward) {
    if (forward) KLV_ASSERT("FastStrings", startPos >= 1);
    const auto sourceLength = static_cast<std::ptrdiff_t>(source.size());
    const auto length = static_cast<std::ptrdiff_t>(searchText.size());
    if (length == 0) return 0;
    const std::ptrdiff_t lastStart = sourceLength - length + 1; // 1-based
    if (forward) {
        for (std::ptrdiff_t p = startPos; p <= lastStart; ++p)
            if (MatchesAt(searchText, source, p - 1, caseSensitive)) return static_cast<int>(p);
        return 0;
    }
    std::ptrdiff_t from = startPos;
    if (from == 0 || from + length >= sourceLength) from = lastStart;
    for (std::ptrdiff_t p = from; p >= 1; --p)
        if (MatchesAt(searchText, source, p - 1, caseSensitive)) return static_cast<int>(p);
    return 0;
}

} // namespace klv::util
