#include "build_tree.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/stubconf/item_names.h"
#include "platform/disk.h"
#include "platform/text.h"
#include "zip/records.h"

namespace klv::klvpack {

namespace {

namespace fs = std::filesystem;

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

// What a folder's listing can hold that no stored name can show: a '\' inside a name is a
// folder separator to the installer.
std::optional<std::string> ComponentProblem(const std::string& c) {
    if (c.find('\\') != std::string::npos)
        return "contains '\\' (a folder separator to the installer)";
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
        for (const auto& [name, entry] : children) {
            const fs::path path = entry.path();
            const std::string stored = prefix + name;
            if (auto problem = ComponentProblem(name))
                throw PackError(Shown(path) + ": the name " + *problem);
            const fs::file_status status = fs::symlink_status(path, ec);
            if (ec) throw PackError(Shown(path) + ": " + ec.message());
            PackEntry e;
            e.source = FromPath(path);
            const auto attributes = platform::SystemDisk().Attributes(e.source);
            const auto stamp = platform::SystemDisk().DosStamp(e.source);
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

fs::path ToPath(const std::u16string& s) {
#ifdef _WIN32
    return fs::path(std::wstring(s.begin(), s.end()));
#else
    return fs::path(platform::Utf16ToUtf8(s));
#endif
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
                        " lies inside the payload folder or is that folder");
    std::vector<PackEntry> entries;
    Collector(entries).Folder(root, "");
    // The installer's rules over the whole payload: what it would refuse is not built.
    std::vector<stubconf::PayloadName> names;
    names.reserve(entries.size());
    for (const PackEntry& e : entries)
        names.push_back({platform::Utf8ToUtf16(e.name), e.folder});
    const stubconf::PayloadPaths paths =
        stubconf::CanonicalPayloadPaths(names, platform::UpperUnit);
    if (!paths.refusals.empty()) {
        const stubconf::NameRefusal& first = paths.refusals.front();
        throw PackError("\"" + entries[first.index].name + "\" " +
                        platform::Utf16ToUtf8(first.reason) + ": the installer would refuse it");
    }
    return entries;
}

} // namespace klv::klvpack
