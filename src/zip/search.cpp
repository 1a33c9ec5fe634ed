// Finding items by mask and attributes, and the wildcard matcher.
#include <algorithm>

#include "platform/path_names.h"
#include "platform/text.h"
#include "zip/archiver.h"

namespace klv::zip {

namespace {

constexpr std::uint32_t kFilteredAttributes =
    kAttrHidden | kAttrSystem | kAttrVolumeLabel | kAttrDirectory;

void RemoveTrailingSeparator(std::u16string& s) {
    if (!s.empty() && (s.back() == u'\\' || s.back() == u'/')) s.pop_back();
}

// The part after the last '\' or ':', and the part up to and including it.
std::u16string_view AfterLastSeparator(std::u16string_view s) {
    return platform::PathTail(s, u"\\:");
}
std::u16string_view UpToLastSeparator(std::u16string_view s) {
    return platform::PathHead(s, u"\\:");
}

// The drive part of a path: "X:" or "\\server\share".
std::size_t DriveLength(std::u16string_view s) {
    if (platform::StartsWithDrive(s)) return 2;
    if (s.size() >= 2 && (s[0] == u'\\' || s[0] == u'/') && (s[1] == u'\\' || s[1] == u'/')) {
        std::size_t server = s.find_first_of(u"\\/", 2);
        if (server == std::u16string_view::npos) return s.size();
        std::size_t share = s.find_first_of(u"\\/", server + 1);
        return share == std::u16string_view::npos ? s.size() : share;
    }
    return 0;
}

bool SameUnit(char16_t a, char16_t b) {
    return platform::SameInLocale(platform::UpperUnit(a), platform::UpperUnit(b));
}

bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
    for (;;) {
        if (pattern == u"*") return true;
        if (name.empty()) return pattern.empty();
        char16_t p = pattern.empty() ? u'\0' : pattern.front();
        if (p == u'*') {
            std::u16string_view rest = pattern.substr(1);
            for (std::size_t i = 0; i < name.size(); ++i)
                if (WildcardMatch(name.substr(i), rest)) return true;
            return false;
        }
        if (p != u'?' && !SameUnit(p, name.front())) return false;
        name.remove_prefix(1);
        if (!pattern.empty()) pattern.remove_prefix(1);
    }
}

} // namespace

bool MatchesMask(std::u16string_view name, std::u16string_view mask) {
    if (mask.empty()) return false;
    std::u16string m(mask);
    if (std::size_t p = m.find(u"*.*"); p != std::u16string::npos)
        m = m.substr(0, p) + u'*' + m.substr(p + 3);
    const bool trailingDot = mask.back() == u'.';
    if (trailingDot && !m.empty()) m.pop_back();
    std::u16string n(name);
    if (!n.empty() && n.back() == u'.') n.pop_back();
    // A pattern of exactly "*.*" matches any name.
    if (m != u"*.*" && !WildcardMatch(n, m)) return false;
    if (trailingDot) {
        std::u16string_view file = AfterLastSeparator(n);
        std::size_t dot = file.rfind(u'.');
        std::u16string_view ext =
            dot == std::u16string_view::npos ? std::u16string_view{} : file.substr(dot);
        return ext.empty() || ext == u".";
    }
    return true;
}

namespace {

// The search over an open directory, shared by FindFirstItem and FindNextItem.
class ItemSearch {
  public:
    ItemSearch(const TZABaseArchiver& a, const TZADirArray& dir) : a_(a), dir_(dir) {}

    bool Scan(TInternalSearchRec& rec) const {
        const std::u16string_view mask(rec.Mask.data());
        if (rec.HasWildcards || a_.Options.Recurse) {
            for (std::int32_t i = std::max(rec.Index, 0); i < dir_.Count(); ++i) {
                const TDirItem& e = dir_.Item(i);
                if (!a_.Options.Recurse && !SameFolder(e.FileName, mask)) continue;
                if (!NameMatches(e.FileName, mask, rec)) continue;
                if (e.Header.ExternalAttributes() & kFilteredAttributes & ~rec.Attributes) continue;
                rec.Index = i;
                return true;
            }
            return false;
        }
        std::int32_t hit = dir_.IndexOfName(platform::LowerCase(mask));
        if (hit < 0 || hit < rec.Index) return false;
        rec.Index = hit;
        return true;
    }

  private:
    bool NameMatches(const std::u16string& stored, std::u16string_view mask,
                     const TInternalSearchRec& rec) const {
        if (rec.UseMaskLists) {
            const std::u16string name = platform::WithSeparators(stored);
            bool result = false;
            for (const auto& m : a_.FileMasks) {
                if (!MatchesMask(name, m)) continue;
                result = true;
                for (const auto& x : a_.ExclusionMasks)
                    if (MatchesMask(name, x)) return false;
            }
            return result;
        }
        std::u16string name = stored;
        RemoveTrailingSeparator(name);
        bool match = MatchesMask(name, mask);
        if (!match) {
            const std::u16string back = platform::WithSeparators(name);
            match = MatchesMask(AfterLastSeparator(back), mask);
        }
        if (match && !rec.Exclusion.empty() && MatchesMask(name, rec.Exclusion)) match = false;
        return match;
    }

    static bool SameFolder(const std::u16string& stored, std::u16string_view mask) {
        std::u16string name = stored;
        if (!name.empty() && name.back() == u'/') name.pop_back();
        name = platform::WithSeparators(name);
        const std::u16string m = platform::WithSeparators(std::u16string(mask));
        return platform::LowerCase(UpToLastSeparator(name)) ==
               platform::LowerCase(UpToLastSeparator(m));
    }

    const TZABaseArchiver& a_;
    const TZADirArray& dir_;
};

void FillItem(const TDirItem& e, TZAArchiveItem& item) {
    std::u16string name = platform::WithSeparators(e.FileName);
    if (!name.empty() && name.back() == u'\\') name.pop_back();
    item.FileName = std::u16string(AfterLastSeparator(name));
    item.FolderPath = std::u16string(UpToLastSeparator(name));
    item.PackedSize = e.CompressedSize();
    item.UnpackedSize = e.UncompressedSize();
    if (item.UnpackedSize > 0) {
        item.Ratio =
            (1.0 - static_cast<double>(item.PackedSize) / static_cast<double>(item.UnpackedSize)) *
            100.0;
        if (item.Ratio < 0) item.Ratio = 0;
    } else {
        item.Ratio = 100;
    }
    item.Encrypted = e.Header.Flags() & kFlagEncrypted;
    item.DosDate = e.Header.DosDate();
    item.DosTime = e.Header.DosTime();
    item.Crc32 = e.Header.Crc32();
    item.Attributes = e.Header.ExternalAttributes();
    item.Comment = e.Comment;
}

} // namespace

bool TZABaseArchiver::FindFirstItem(const std::u16string& fileMask, TZAArchiveItem& item,
                                    const std::u16string& exclusionMask, std::uint32_t searchAttr) {
    RequireOpen();
    std::u16string mask = fileMask;
    if (std::size_t drive = DriveLength(mask);
        drive > 0 && Options.StorePath != TZAStorePathMode::spFullPathWithDrive)
        mask.erase(0, drive);
    mask = platform::WithSeparators(std::move(mask), u'\\', u'/');
    // The prepared mask holds at most 259 units; a longer one is cut there.
    if (mask.size() >= kMaskCapacity) mask.resize(kMaskCapacity - 1);
    TInternalSearchRec& rec = item.Search;
    rec.Mask.fill(u'\0');
    std::copy(mask.begin(), mask.end(), rec.Mask.begin());
    rec.Exclusion = exclusionMask;
    rec.UseMaskLists = false;
    rec.HasWildcards = mask.find_first_of(u"*?") != std::u16string::npos;
    rec.Attributes = searchAttr;
    rec.Index = 0;
    ItemSearch search(*this, dirManager_->Directory);
    if (!search.Scan(rec)) return false;
    FillItem(dirManager_->Directory.Item(rec.Index), item);
    return true;
}

bool TZABaseArchiver::FindNextItem(TZAArchiveItem& item) {
    RequireOpen();
    TInternalSearchRec& rec = item.Search;
    ++rec.Index;
    ItemSearch search(*this, dirManager_->Directory);
    if (!search.Scan(rec)) return false;
    FillItem(dirManager_->Directory.Item(rec.Index), item);
    return true;
}

} // namespace klv::zip
