#include "platform/path_names.h"

#include <algorithm>

namespace klv::platform {

std::u16string WithSeparators(std::u16string name, char16_t from, char16_t to) {
    std::replace(name.begin(), name.end(), from, to);
    return name;
}

std::u16string_view PathTail(std::u16string_view path, std::u16string_view separators) {
    const std::size_t p = path.find_last_of(separators);
    return p == std::u16string_view::npos ? path : path.substr(p + 1);
}

std::u16string_view PathHead(std::u16string_view path, std::u16string_view separators) {
    const std::size_t p = path.find_last_of(separators);
    return p == std::u16string_view::npos ? std::u16string_view{} : path.substr(0, p + 1);
}

bool MaskMatches(std::u16string_view mask, std::u16string_view name) {
    if (mask == u"*.*") mask = u"*";
    const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    // '*' is tried against the shortest run first; `star` is where the last one may grow.
    std::size_t m = 0, n = 0, star = std::u16string_view::npos, grown = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == u'*') {
            star = m++;
            grown = n;
        } else if (m < mask.size() && (mask[m] == u'?' || upper(mask[m]) == upper(name[n]))) {
            ++m;
            ++n;
        } else if (star != std::u16string_view::npos) {
            m = star + 1;
            n = ++grown;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == u'*')
        ++m;
    return m == mask.size();
}

} // namespace klv::platform
