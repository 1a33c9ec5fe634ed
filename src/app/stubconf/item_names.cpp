#include "app/stubconf/item_names.h"

#include <algorithm>
#include <unordered_map>

#include "platform/ascii.h"

namespace klv::stubconf {

using platform::SameAsciiNoCase;

namespace {

constexpr std::u16string_view kForbidden = u"<>\"|?*";

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool IsReserved(std::u16string_view part) {
    return part.size() >= ReservedPrefix.size() &&
           SameAsciiNoCase(part.substr(0, ReservedPrefix.size()), ReservedPrefix);
}

std::u16string Quoted(std::u16string_view s) {
    return u"\"" + std::u16string(s) + u"\"";
}

} // namespace

bool IsDeviceName(std::u16string_view part) {
    std::u16string_view base = part.substr(0, part.find(u'.'));
    while (!base.empty() && base.back() == u' ')
        base.remove_suffix(1);
    for (std::u16string_view device : {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"})
        if (SameAsciiNoCase(base, device)) return true;
    if (base.size() != 4) return false;
    const std::u16string_view stem = base.substr(0, 3);
    const char16_t digit = base[3];
    return (SameAsciiNoCase(stem, u"com") || SameAsciiNoCase(stem, u"lpt")) &&
           ((digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
            digit == u'\u00B3');
}

std::optional<std::u16string> ItemNameProblem(std::u16string_view stored, std::u16string& path) {
    path.clear();
    if (stored.empty()) return u"is empty";
    if (IsSeparator(stored.front())) return u"is an absolute path (it begins with a separator)";
    if (stored.find(u':') != std::u16string_view::npos)
        return u"contains ':' (a drive or a stream to Windows)";
    for (const char16_t c : stored) {
        if (c < 0x20) return u"contains a control character";
        if (kForbidden.find(c) != std::u16string_view::npos)
            return u"contains '" + std::u16string(1, c) +
                   u"', which Windows does not allow in names";
    }
    while (!stored.empty() && IsSeparator(stored.back()))
        stored.remove_suffix(1);
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < stored.size() && !IsSeparator(stored[end]))
            ++end;
        const std::u16string_view part = stored.substr(start, end - start);
        const bool last = end >= stored.size();
        if (part.empty()) return u"has an empty part (a doubled separator)";
        if (part == u"..") return u"has a \"..\" part";
        if (part == u".") {
            if (last && !path.empty()) return u"ends in a \".\" part";
        } else {
            if (part.back() == u'.' || part.back() == u' ')
                return u"has a part that ends in '.' or a blank (" + Quoted(part) +
                       u"), which Windows drops";
            if (IsDeviceName(part))
                return u"has a part that is a Windows device name (" + Quoted(part) + u")";
            if (IsReserved(part))
                return u"has a part beginning with " + Quoted(ReservedPrefix) +
                       u", a name the installer keeps for itself";
            if (!path.empty()) path += u'\\';
            path += part;
        }
        if (last) break;
        start = end + 1;
    }
    if (path.empty()) return u"names no file or folder (only \".\" parts)";
    return std::nullopt;
}

PayloadPaths CanonicalPayloadPaths(const std::vector<PayloadName>& items, CaseFold fold) {
    PayloadPaths out;
    out.paths.resize(items.size());
    std::vector<std::u16string> keys(items.size());
    std::vector<bool> refused(items.size());
    std::unordered_map<std::u16string, std::size_t> byKey;
    std::unordered_map<std::u16string, std::size_t> files;
    auto refuse = [&](std::size_t i, std::u16string reason) {
        refused[i] = true;
        out.paths[i].clear();
        out.refusals.push_back({i, std::move(reason)});
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::u16string path;
        if (auto why = ItemNameProblem(items[i].stored, path)) {
            refuse(i, std::move(*why));
            continue;
        }
        std::u16string key = path;
        for (char16_t& c : key)
            c = fold(c);
        const auto [at, fresh] = byKey.emplace(key, i);
        if (!fresh) {
            refuse(i, u"is the same path to Windows as " + Quoted(items[at->second].stored) +
                          u" (the names differ only in case, \".\" parts or separators)");
            continue;
        }
        if (!items[i].folder) files.emplace(key, i);
        out.paths[i] = std::move(path);
        keys[i] = std::move(key);
    }
    // A path that runs through a file of the payload ("a" a file, "a\b" an item).
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (refused[i]) continue;
        const std::u16string& key = keys[i];
        for (std::size_t p = key.find(u'\\'); p != std::u16string::npos; p = key.find(u'\\', p + 1))
            if (const auto file = files.find(key.substr(0, p)); file != files.end()) {
                refuse(i, u"runs through " + Quoted(items[file->second].stored) +
                              u", which is a file of the payload");
                break;
            }
    }
    std::stable_sort(out.refusals.begin(), out.refusals.end(),
                     [](const NameRefusal& a, const NameRefusal& b) { return a.index < b.index; });
    return out;
}

} // namespace klv::stubconf
