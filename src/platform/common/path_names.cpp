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

} // namespace klv::platform
