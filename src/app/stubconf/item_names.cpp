#include "app/stubconf/item_names.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <unordered_map>

#include "platform/ascii.h"

namespace klv::stubconf {

using platform::SameAsciiNoCase;

namespace {

constexpr std::u16string_view kForbidden = u"<>\"|?*";

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// A hash of a string's beginnings: two polynomial hashes modulo primes below 2^31, with bases
// drawn for each run, so that every beginning of a path costs one step and no stored name can
// be made to collide. 64-bit arithmetic only (the stub is also a 32-bit program).
class PrefixHash {
  public:
    PrefixHash() {
        std::mt19937_64 random{std::random_device{}()};
        for (int i = 0; i < 2; ++i)
            base_[i] = std::uniform_int_distribution<std::uint64_t>(1 << 16, kPrime[i] - 1)(random);
    }
    std::uint64_t Step(std::uint64_t hash, char16_t c) const {
        std::uint64_t out = 0;
        for (int i = 0; i < 2; ++i) {
            const std::uint64_t part = (hash >> (32 * i)) & 0xFFFFFFFFu;
            out |= ((part * base_[i] + c + 1) % kPrime[i]) << (32 * i);
        }
        return out;
    }
    std::uint64_t Of(std::u16string_view s) const {
        std::uint64_t hash = 0;
        for (const char16_t c : s)
            hash = Step(hash, c);
        return hash;
    }

  private:
    static constexpr std::uint64_t kPrime[2] = {2147483647, 2147483629};
    std::uint64_t base_[2] = {};
};

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
    // The payload's files by the hash of their keys (a path's beginnings are looked up here).
    const PrefixHash hash;
    std::unordered_multimap<std::uint64_t, std::size_t> files;
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
        if (!items[i].folder) files.emplace(hash.Of(key), i);
        out.paths[i] = std::move(path);
        keys[i] = std::move(key);
    }
    // A path that runs through a file of the payload ("a" a file, "a\b" an item): each of its
    // beginnings up to a '\' is looked up by its hash, in one pass over the path.
    auto fileAt = [&](std::u16string_view prefix, std::uint64_t h) -> std::optional<std::size_t> {
        const auto [from, to] = files.equal_range(h);
        for (auto it = from; it != to; ++it)
            if (keys[it->second] == prefix) return it->second;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (refused[i]) continue;
        const std::u16string_view key = keys[i];
        std::uint64_t h = 0;
        for (std::size_t p = 0; p < key.size(); h = hash.Step(h, key[p++])) {
            if (key[p] != u'\\') continue;
            if (const auto file = fileAt(key.substr(0, p), h)) {
                refuse(i, u"runs through " + Quoted(items[*file].stored) +
                              u", which is a file of the payload");
                break;
            }
        }
    }
    std::stable_sort(out.refusals.begin(), out.refusals.end(),
                     [](const NameRefusal& a, const NameRefusal& b) { return a.index < b.index; });
    return out;
}

} // namespace klv::stubconf
