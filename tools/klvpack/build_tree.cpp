#include "build_tree.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/stubconf/reserved_names.h"
#include "platform/files.h"
#include "platform/text.h"
#include "zip/records.h"

namespace klv::klvpack {

namespace {

namespace fs = std::filesystem;

fs::path ToPath(const std::u16string& s) {
#ifdef _WIN32
    return fs::path(std::wstring(s.begin(), s.end()));
#else
    return fs::path(platform::Utf16ToUtf8(s));
#endif
}

std::u16string FromPath(const fs::path& p) {
#ifdef _WIN32
    const std::wstring w = p.wstring();
    return std::u16string(w.begin(), w.end());
#else
    return platform::Utf8ToUtf16(p.string());
#endif
}

// A file name's UTF-8 form; nothing when the system's name is not valid text.
std::optional<std::string> NameUtf8(const fs::path& name) {
#ifdef _WIN32
    return platform::Utf16ToUtf8(FromPath(name));
#else
    const std::string raw = name.string();
    if (platform::Utf16ToUtf8(platform::Utf8ToUtf16(raw)) != raw) return std::nullopt;
    return raw;
#endif
}

// Why a name of the payload cannot be an item of the package.
std::optional<std::string> ComponentProblem(const std::string& c) {
    if (c == "." || c == "..") return "is a \"..\" component";
    if (c.find(':') != std::string::npos)
        return "contains ':' (a drive or stream to the installer)";
    if (c.find('\\') != std::string::npos)
        return "contains '\\' (a folder separator to the installer)";
    for (unsigned char ch : c)
        if (ch < 0x20 ||
            std::string_view("<>\"|?*").find(static_cast<char>(ch)) != std::string_view::npos)
            return "contains a character that Windows does not allow in names";
    if (c.back() == '.' || c.back() == ' ') return "ends in '.' or a blank, which Windows drops";
    return std::nullopt;
}

class Collector {
  public:
    explicit Collector(std::vector<PackEntry>& out) : out_(out) {}

    void Folder(const fs::path& folder, const std::string& prefix) {
        std::vector<std::pair<std::string, fs::directory_entry>> children;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path name = it->path().filename();
            const auto utf8 = NameUtf8(name);
            if (!utf8) throw PackError(Shown(it->path()) + ": the name is not valid UTF-8");
            children.emplace_back(*utf8, *it);
        }
        if (ec) throw PackError(Shown(folder) + ": " + ec.message());
        std::sort(children.begin(), children.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        // Windows keeps one of two names that differ only in case: the other would be lost.
        std::vector<std::pair<std::u16string, std::string>> folded;
        for (const auto& child : children)
            folded.emplace_back(platform::LowerCase(platform::Utf8ToUtf16(child.first)),
                                child.first);
        std::sort(folded.begin(), folded.end());
        for (std::size_t i = 1; i < folded.size(); ++i)
            if (folded[i].first == folded[i - 1].first)
                throw PackError(Shown(folder) + "/" + folded[i].second + " and \"" +
                                folded[i - 1].second +
                                "\" differ only in case; Windows keeps one of them");
        for (const auto& [name, entry] : children) {
            const fs::path path = entry.path();
            const std::string stored = prefix + name;
            if (auto problem = ComponentProblem(name))
                throw PackError(Shown(path) + ": the name " + *problem);
            if (prefix.empty() && stubconf::IsReservedName(platform::Utf8ToUtf16(name)))
                throw PackError(Shown(path) + ": the name is one the installer keeps for itself");
            const fs::file_status status = fs::symlink_status(path, ec);
            if (ec) throw PackError(Shown(path) + ": " + ec.message());
            PackEntry e;
            e.source = FromPath(path);
            const auto attributes = platform::AttributesOf(e.source);
            const auto stamp = platform::DosStampOf(e.source);
            if (!attributes || !stamp)
                throw PackError(Shown(path) + ": cannot read its attributes");
            e.dosStamp = *stamp;
            if (fs::is_symlink(status))
                throw PackError(Shown(path) +
                                " is a symbolic link; the package takes files and folders only");
            if (fs::is_directory(status)) {
                e.name = stored + "/";
                e.folder = true;
                e.source.clear();
                e.attributes = zip::kAttrDirectory;
                Check(e.name);
                out_.push_back(std::move(e));
                Folder(path, stored + "/");
            } else if (fs::is_regular_file(status)) {
                e.name = stored;
                e.size = fs::file_size(path, ec);
                if (ec) throw PackError(Shown(path) + ": " + ec.message());
                e.attributes = zip::kAttrArchive | (*attributes & zip::kAttrReadOnly);
                Check(e.name);
                out_.push_back(std::move(e));
            } else {
                throw PackError(Shown(path) + " is neither a file nor a folder");
            }
        }
    }

  private:
    static std::string Shown(const fs::path& p) { return platform::Utf16ToUtf8(FromPath(p)); }
    static void Check(const std::string& name) {
        if (name.size() > 0xFFFF)
            throw PackError(name.substr(0, 200) + "...: the name is too long");
    }
    std::vector<PackEntry>& out_;
};

} // namespace

std::optional<std::string> StubRefusesName(std::u16string_view storedName) {
    std::u16string name(storedName);
    std::replace(name.begin(), name.end(), u'/', u'\\');
    if (name.empty()) return std::nullopt;
    if (name[0] == u'\\') return "an absolute path";
    if (name.find(u':') != std::u16string::npos) return "a drive or ':'";
    if (name.find(u"\\\\") != std::u16string::npos) return "a doubled separator";
    if (name.find(u'\0') != std::u16string::npos) return "a NUL character";
    if (stubconf::IsReservedName(name)) return "a name the installer keeps for itself";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find(u'\\', start);
        const std::u16string_view part = std::u16string_view(name).substr(
            start, end == std::u16string::npos ? end : end - start);
        if (part == u"..") return "a \"..\" component";
        if (end == std::u16string::npos) return std::nullopt;
        start = end + 1;
    }
}

std::vector<PackEntry> CollectPayload(const std::u16string& folder, const std::u16string& output) {
    const fs::path root = ToPath(folder);
    std::error_code ec;
    if (!fs::is_directory(root, ec))
        throw PackError("the payload " + platform::Utf16ToUtf8(folder) + " is not a folder");
    const fs::path base = fs::weakly_canonical(root, ec);
    const fs::path out = fs::weakly_canonical(ToPath(output), ec);
    const fs::path relative = out.lexically_relative(base);
    if (!relative.empty() && *relative.begin() != "..")
        throw PackError("the output " + platform::Utf16ToUtf8(output) +
                        " lies inside the payload folder");
    std::vector<PackEntry> entries;
    Collector(entries).Folder(root, "");
    return entries;
}

} // namespace klv::klvpack
