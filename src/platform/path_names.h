// Path and stored-name text that every layer shares: separators and the parts of a path.
// Pure text, the same on every system.
#pragma once

#include <string>
#include <string_view>

namespace klv::platform {

// The name with every `from` unit replaced by `to` (a stored name's '/' as '\', a mask's '\'
// as '/').
std::u16string WithSeparators(std::u16string name, char16_t from = u'/', char16_t to = u'\\');

// True when `path` begins with a drive ("X:"), as Windows reads a path: ':' as its second unit.
constexpr bool StartsWithDrive(std::string_view path) {
    return path.size() >= 2 && path[1] == ':';
}
constexpr bool StartsWithDrive(std::u16string_view path) {
    return path.size() >= 2 && path[1] == u':';
}

// True when `path` is absolute: a drive letter, ':' and a separator ("X:\..."), a network path
// ("\\server\..."), or a path from the root as Linux writes it ("/...").
constexpr bool IsAbsolutePath(std::u16string_view path) {
    const bool drive = path.size() >= 3 && (path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z' &&
                       path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    const bool share = path.size() > 2 && path[0] == u'\\' && path[1] == u'\\';
    return drive || share || path.starts_with(u'/');
}

// The part of a path after its last separator (any unit of `separators`): the file name.
std::u16string_view PathTail(std::u16string_view path, std::u16string_view separators = u"\\/:");
// The part up to and including the last separator; empty when there is none.
std::u16string_view PathHead(std::u16string_view path, std::u16string_view separators = u"\\/:");

// Whether `name` matches a folder search's `mask` as the system reads one: '*' any run, '?'
// one unit, "*.*" everything; letters without case.
bool MaskMatches(std::u16string_view mask, std::u16string_view name);

} // namespace klv::platform
