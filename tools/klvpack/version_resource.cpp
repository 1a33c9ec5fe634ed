#include "version_resource.h"

#include <algorithm>
#include <cstdio>

#include "build_caption.h"
#include "pe_image.h"
#include "platform/text.h"
#include "zip/byte_reader.h"

namespace klv::klvpack {

namespace {

using zip::ByteReader;

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint16_t kTextValue = 1;

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~std::size_t{3};
}

// One node of the version resource's tree: its length, its value's length (characters for
// text, else bytes), its type, its key, its value, then its children, each on a 4-byte boundary.
struct Node {
    std::size_t end = 0;
    std::u16string key;
    std::uint16_t type = 0;
    std::size_t valueAt = 0, valueEnd = 0, childrenAt = 0;
};

std::optional<Node> ParseNode(std::span<const std::uint8_t> res, std::size_t at,
                              std::size_t limit) {
    ByteReader r(res, at);
    const std::uint16_t length = r.U16();
    const std::uint16_t valueLength = r.U16();
    Node n;
    n.type = r.U16();
    if (!r.Ok() || length < 6 || at + length > limit) return std::nullopt;
    n.end = at + length;
    while (true) {
        const std::uint16_t c = r.U16();
        if (!r.Ok() || r.Position() > n.end) return std::nullopt;
        if (c == 0) break;
        n.key.push_back(static_cast<char16_t>(c));
    }
    const std::size_t bytes = n.type == kTextValue ? std::size_t{valueLength} * 2 : valueLength;
    n.valueAt = std::min(Align4(r.Position()), n.end);
    n.valueEnd = std::min(n.valueAt + bytes, n.end);
    n.childrenAt = Align4(n.valueAt + bytes);
    return n;
}

std::vector<Node> Children(std::span<const std::uint8_t> res, const Node& parent) {
    std::vector<Node> out;
    for (std::size_t at = parent.childrenAt; at + 6 <= parent.end;) {
        const auto child = ParseNode(res, at, parent.end);
        if (!child) break;
        out.push_back(*child);
        at = Align4(child->end);
    }
    return out;
}

// The text of a string node: its characters up to the first NUL.
std::u16string TextOf(std::span<const std::uint8_t> res, const Node& n) {
    std::u16string out;
    for (std::size_t at = n.valueAt; at + 2 <= n.valueEnd; at += 2) {
        const auto c = static_cast<char16_t>(res[at] | res[at + 1] << 8);
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

struct Tree {
    Node root;
    std::vector<Node> strings;
};

std::optional<Tree> ParseTree(std::span<const std::uint8_t> res) {
    const auto root = ParseNode(res, 0, res.size());
    if (!root || root->key != u"VS_VERSION_INFO" || root->valueEnd - root->valueAt < kFixedInfoSize)
        return std::nullopt;
    ByteReader fixed(res, root->valueAt);
    if (fixed.U32() != kFixedInfoSignature) return std::nullopt;
    Tree tree{*root, {}};
    for (const Node& block : Children(res, *root)) {
        if (block.key != u"StringFileInfo") continue;
        for (const Node& table : Children(res, block))
            for (const Node& s : Children(res, table))
                if (s.type == kTextValue) tree.strings.push_back(s);
    }
    return tree;
}

void PutU32(std::span<std::uint8_t> at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::u16string TrimmedRight(std::u16string text) {
    while (!text.empty() && text.back() == u' ')
        text.pop_back();
    return text;
}

} // namespace

std::string VersionInfo::String(std::string_view key) const {
    for (const auto& [k, v] : strings)
        if (k == key) return v;
    return {};
}

std::string VersionText(std::uint64_t v) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(v >> 48 & 0xFFFF),
                  static_cast<unsigned>(v >> 32 & 0xFFFF), static_cast<unsigned>(v >> 16 & 0xFFFF),
                  static_cast<unsigned>(v & 0xFFFF));
    return text;
}

std::optional<VersionInfo> ReadVersionInfo(std::span<const std::uint8_t> image) {
    const auto range = VersionResourceRange(image);
    if (!range) return std::nullopt;
    const auto res = image.subspan(range->offset, range->size);
    const auto tree = ParseTree(res);
    if (!tree) return std::nullopt;
    ByteReader fixed(res, tree->root.valueAt + 8);
    VersionInfo info;
    info.fileVersion = std::uint64_t{fixed.U32()} << 32;
    info.fileVersion |= fixed.U32();
    info.productVersion = std::uint64_t{fixed.U32()} << 32;
    info.productVersion |= fixed.U32();
    for (const Node& s : tree->strings)
        info.strings.emplace_back(platform::Utf16ToUtf8(s.key),
                                  platform::Utf16ToUtf8(TextOf(res, s)));
    return info;
}

std::optional<stubconf::VersionNumbers> ResourceVersionOfCaption(std::string_view caption) {
    const auto numbers = stubconf::ParseVersion(stubconf::PackageVersionFromCaption(caption));
    if (!numbers) return std::nullopt;
    for (const std::uint32_t part : *numbers)
        if (part > 0xFFFF) return std::nullopt;
    return numbers;
}

std::string StampVersion(std::vector<std::uint8_t>& image,
                         const std::optional<stubconf::VersionNumbers>& version) {
    const auto range = VersionResourceRange(image);
    if (!range) return "the stub has no version resource";
    const std::span<std::uint8_t> res = std::span(image).subspan(range->offset, range->size);
    const auto tree = ParseTree(res);
    if (!tree) return "the stub's version resource cannot be read";
    std::u16string text;
    if (version) {
        const auto& v = *version;
        text = platform::Utf8ToUtf16(
            VersionText(std::uint64_t{v[0]} << 48 | std::uint64_t{v[1]} << 32 | v[2] << 16 | v[3]));
    }
    // Every new value first: nothing is written unless all of them fit.
    std::vector<std::pair<const Node*, std::u16string>> writes;
    for (const Node& s : tree->strings) {
        std::u16string value = TrimmedRight(TextOf(res, s));
        if (version && (s.key == u"FileVersion" || s.key == u"ProductVersion"))
            value = text;
        else if (version && (s.key == u"FileDescription" || s.key == u"ProductName"))
            value = u"Kelvaro Update " + text;
        const std::size_t room = (s.valueEnd - s.valueAt) / 2;
        if (value.size() + 1 > room)
            return "the stub's version resource has no room for " + platform::Utf16ToUtf8(s.key) +
                   " \"" + platform::Utf16ToUtf8(value) + "\" (" + std::to_string(room - 1) +
                   " characters)";
        writes.emplace_back(&s, std::move(value));
    }
    if (version) {
        const auto& v = *version;
        const std::size_t at = tree->root.valueAt;
        for (const std::size_t field : {at + 8, at + 16}) { // file version, product version
            PutU32(res.subspan(field), v[0] << 16 | v[1]);
            PutU32(res.subspan(field + 4), v[2] << 16 | v[3]);
        }
    }
    for (const auto& [node, value] : writes) {
        std::size_t at = node->valueAt;
        for (const char16_t c : value) {
            res[at++] = static_cast<std::uint8_t>(c);
            res[at++] = static_cast<std::uint8_t>(c >> 8);
        }
        std::fill(res.begin() + static_cast<std::ptrdiff_t>(at),
                  res.begin() + static_cast<std::ptrdiff_t>(node->valueEnd), std::uint8_t{0});
    }
    // A checksum the stub carries no longer fits its bytes, and would not fit the package
    // (it covers the whole file, payload and signature too): 0 says "none", as for every
    // program the linker made; a signing tool writes the package's own.
    if (const auto checksum = ChecksumOffset(image)) PutU32(std::span(image).subspan(*checksum), 0);
    return {};
}

} // namespace klv::klvpack

namespace klv::klvpack {

StampOutcome StampCaptionVersion(std::vector<std::uint8_t>& stub) {
    const auto block = FindCaptionBlock(stub);
    const auto version = block ? ResourceVersionOfCaption(ReadCaption(stub, *block)) : std::nullopt;
    if (!VersionResourceRange(stub)) return {"none in the stub", {}};
    const std::string error = StampVersion(stub, version);
    const auto info = ReadVersionInfo(stub);
    const std::string now = info ? VersionText(info->fileVersion) : "unreadable";
    if (!error.empty())
        return {now + " (the stub's)", error + ": the package's file properties keep " + now};
    if (version) return {now + " (from the caption)", {}};
    const std::string given =
        block ? stubconf::PackageVersionFromCaption(ReadCaption(stub, *block)) : std::string();
    if (stubconf::ParseVersion(given))
        return {now + " (the stub's: the caption's " +
                    platform::Utf16ToUtf8(platform::AnsiToUtf16(given)) + " does not fit)",
                {}};
    return {now + " (the stub's: the caption carries no version)", {}};
}

} // namespace klv::klvpack
