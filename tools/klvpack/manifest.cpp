#include "manifest.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "build_caption.h"
#include "build_tree.h"
#include "help.h"
#include "open_failure.h"
#include "package_rules.h"
#include "pe_image.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "version_resource.h"
#include "zip/archiver.h"
#include "zip_writer.h"

namespace klv::klvpack {

namespace {

namespace fs = std::filesystem;
constexpr int kManifestUsage = 2;
constexpr int kManifestCannotOpen = 3;
constexpr std::int64_t kMaxStubSize = 256 << 20;

struct ManifestArguments {
    std::u16string package, folder;
    std::string url, publisher; // UTF-8
};

ManifestArguments ParseManifest(const std::vector<std::u16string>& args) {
    ManifestArguments out;
    auto value = [&](std::size_t& i) {
        if (++i >= args.size())
            throw PackError(platform::Utf16ToUtf8(args[i - 1]) + " needs a value");
        return args[i];
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--url")
            out.url = platform::Utf16ToUtf8(value(i));
        else if (a == u"--publisher")
            out.publisher = platform::Utf16ToUtf8(value(i));
        else if (a == u"-o" || a == u"--output")
            out.folder = value(i);
        else if (a.starts_with(u"-") || !out.package.empty())
            throw PackError("unexpected argument " + platform::Utf16ToUtf8(a));
        else
            out.package = a;
    }
    if (out.package.empty() || out.folder.empty()) throw PackError("manifest needs PACKAGE and -o");
    if (!out.url.empty() && !out.url.starts_with("https://") && !out.url.starts_with("http://"))
        throw PackError("--url must begin with https:// (winget downloads the package from it)");
    return out;
}

// How winget is to read each of the installer's exit codes (ReturnResponse names), one per
// code of the installer's app/exit_codes.h, which klvpack's layers do not reach; the manifest
// test holds the two together.
struct ReturnCode {
    int code;
    std::string_view response;
};
constexpr ReturnCode kReturnCodes[] = {
    {1, "cancelledByUser"},   {2, "missingDependency"}, // no Kelvaro 3 installation to update
    {3, "downgrade"},         {4, "contactSupport"},    // a damaged package
    {5, "packageInUse"},      {6, "diskFull"},
    {7, "installInProgress"}, {8, "contactSupport"}, // an earlier update not undone
    {9, "blockedByPolicy"},                          // the folder's rights forbid writing
    {10, "invalidParameter"}, {11, "contactSupport"},
};

// A YAML scalar in single quotes: no character of it has a meaning there but the quote.
std::string Quoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// One part of a winget identifier: no blanks, dots or characters that paths refuse.
std::string IdentifierPart(std::string_view text) {
    std::string out;
    for (unsigned char c : text)
        if (c > 0x20 &&
            std::string_view(".\\/:*?\"<>|").find(static_cast<char>(c)) == std::string_view::npos)
            out += static_cast<char>(c);
    if (out.size() > 32) {
        out.resize(32); // then back to a whole UTF-8 character
        while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
            out.pop_back();
        if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
    }
    return out.empty() ? "Kelvaro" : out;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string FileSha256(const std::u16string& path) {
    int error = 0;
    auto file =
        platform::FileStream::Open(path, platform::fmOpenRead | platform::fmShareDenyWrite, error);
    gcry_md_hd_t raw = nullptr;
    if (!file || gcry_md_open(&raw, GCRY_MD_SHA256, 0) != 0)
        throw PackError("cannot read " + platform::Utf16ToUtf8(path));
    std::unique_ptr<gcry_md_handle, void (*)(gcry_md_hd_t)> md(raw, gcry_md_close);
    std::vector<std::uint8_t> buffer(1 << 20);
    for (std::int64_t n; (n = file->Read(buffer.data(), std::ssize(buffer))) != 0;) {
        if (n < 0) throw PackError("cannot read " + platform::Utf16ToUtf8(path));
        gcry_md_write(md.get(), buffer.data(), static_cast<std::size_t>(n));
    }
    const unsigned char* digest = gcry_md_read(md.get(), GCRY_MD_SHA256);
    std::string hex;
    char two[3];
    for (int i = 0; i < 32; ++i) {
        std::snprintf(two, sizeof two, "%02X", digest[i]);
        hex += two;
    }
    return hex;
}

// The stub's part of the package: everything before the archive's first record.
std::vector<std::uint8_t> StubBytes(const std::u16string& path, zip::TZipArchive& archive) {
    std::int64_t end = archive.ArchiveStart();
    const zip::TZADirArray& dir = archive.DirManager()->Directory;
    if (end == 0 && dir.Count() > 0) {
        end = dir.Item(0).LocalHeaderOffset();
        for (std::int32_t i = 1; i < dir.Count(); ++i)
            end = std::min(end, dir.Item(i).LocalHeaderOffset());
    }
    end = std::min(end, kMaxStubSize);
    int error = 0;
    auto file =
        platform::FileStream::Open(path, platform::fmOpenRead | platform::fmShareDenyWrite, error);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(end, 0)));
    if (!file || file->Read(bytes.data(), std::ssize(bytes)) != std::ssize(bytes))
        throw PackError("cannot read " + platform::Utf16ToUtf8(path));
    return bytes;
}

struct Facts {
    std::string id, version, publisher, name, architecture, sha256, url, fileName;
};

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) throw PackError("cannot write " + platform::Utf16ToUtf8(path.u16string()));
}

std::string Header(std::string_view type, const Facts& f) {
    return "# Made by klvpack manifest from " + f.fileName +
           "\n# yaml-language-server: $schema=https://aka.ms/winget-manifest." + std::string(type) +
           ".1.6.0.schema.json\n\nPackageIdentifier: " + f.id +
           "\nPackageVersion: " + Quoted(f.version) + "\n";
}

constexpr std::string_view kLocale = "nl-NL";
constexpr std::string_view kFooter = "ManifestVersion: 1.6.0\n";

std::string VersionManifest(const Facts& f) {
    return Header("version", f) + "DefaultLocale: " + std::string(kLocale) +
           "\nManifestType: version\n" + std::string(kFooter);
}

std::string InstallerManifest(const Facts& f) {
    std::string text = Header("installer", f) +
                       "InstallerType: exe\n"
                       "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n"
                       "InstallerSwitches:\n"
                       "  Silent: '/VERYSILENT'\n"
                       "  SilentWithProgress: '/SILENT'\n"
                       "  InstallLocation: '/DIR=\"<INSTALLPATH>\"'\n"
                       "  Log: '/LOG=\"<LOGPATH>\"'\n"
                       "UpgradeBehavior: install\n"
                       "ExpectedReturnCodes:\n";
    for (const ReturnCode& r : kReturnCodes)
        text += "- InstallerReturnCode: " + std::to_string(r.code) +
                "\n  ReturnResponse: " + std::string(r.response) + "\n";
    return text + "Installers:\n- Architecture: " + f.architecture +
           "\n  InstallerUrl: " + Quoted(f.url) + "\n  InstallerSha256: " + f.sha256 +
           "\nManifestType: installer\n" + std::string(kFooter);
}

std::string LocaleManifest(const Facts& f) {
    return Header("defaultLocale", f) + "PackageLocale: " + std::string(kLocale) +
           "\nPublisher: " + Quoted(f.publisher) + "\nPackageName: " + Quoted(f.name) +
           "\nLicense: 'Proprietary'\nShortDescription: " +
           Quoted(f.name + " " + f.version + " voor een Kelvaro 3-installatie") +
           "\nManifestType: defaultLocale\n" + std::string(kFooter);
}

Facts ReadFacts(const ManifestArguments& a, zip::TZipArchive& archive) {
    const std::vector<std::uint8_t> stub = StubBytes(a.package, archive);
    const std::string name = platform::Utf16ToUtf8(a.package);
    const auto kind = PeKindOf(stub);
    const auto block = FindCaptionBlock(stub);
    if (!kind || !block) throw PackError(name + " is not a Kelvaro update package");
    const std::string caption = ReadCaption(stub, *block);
    Facts f;
    f.version = Trimmed(AnsiShown(ComparableCaptionVersion(caption)));
    if (f.version.empty())
        throw PackError("the caption " + AnsiShown(caption) +
                        " carries no version, and winget needs one: build the package with "
                        "--caption \"Kelvaro Update 3.2.0.1]\"");
    const auto info = ReadVersionInfo(stub);
    f.publisher = !a.publisher.empty()                           ? a.publisher
                  : info && !info->String("CompanyName").empty() ? info->String("CompanyName")
                                                                 : std::string("Kelvaro");
    f.name = Trimmed(AnsiShown(caption.substr(0, caption.find("Update ") + 6)));
    f.id = IdentifierPart(f.publisher) + "." + IdentifierPart(f.name);
    f.architecture = *kind == PeKind::Pe32 ? "x86" : "x64";
    f.fileName = platform::Utf16ToUtf8(ToPath(a.package).filename().u16string());
    f.sha256 = FileSha256(a.package);
    std::string escaped;
    for (char c : f.fileName)
        escaped += c == ' ' ? std::string("%20") : std::string(1, c);
    f.url = a.url.empty() ? "https://example.invalid/" + escaped : a.url;
    return f;
}

} // namespace

int Manifest(const std::vector<std::u16string>& args) {
    ManifestArguments a;
    try {
        a = ParseManifest(args);
    } catch (const PackError& e) {
        std::fprintf(stderr, "klvpack manifest: %s\n", e.what());
        PrintCommandUsage("manifest", stderr);
        return kManifestUsage;
    }
    zip::TZipArchive archive;
    try {
        archive.FileName = a.package;
        archive.SignedView = true;
        archive.Open(zip::kOpenModeShareRead);
    } catch (const zip::EZAError& e) {
        std::fprintf(stderr, "klvpack manifest: %s\n", CannotOpenText(a.package, e).c_str());
        return kManifestCannotOpen;
    }
    try {
        const Facts f = ReadFacts(a, archive);
        const fs::path folder = ToPath(a.folder);
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder))
            throw PackError("cannot make the folder " + platform::Utf16ToUtf8(a.folder));
        const std::pair<std::string, std::string> files[] = {
            {f.id + ".yaml", VersionManifest(f)},
            {f.id + ".installer.yaml", InstallerManifest(f)},
            {f.id + ".locale." + std::string(kLocale) + ".yaml", LocaleManifest(f)}};
        for (const auto& [file, text] : files) {
            const fs::path path = folder / platform::Utf8ToUtf16(file);
            WriteFile(path, text);
            std::printf("%s\n", platform::Utf16ToUtf8(path.u16string()).c_str());
        }
        std::printf("%s %s, %s, SHA-256 %s\n", f.id.c_str(), f.version.c_str(),
                    f.architecture.c_str(), f.sha256.c_str());
        if (a.url.empty())
            std::fprintf(stderr,
                         "klvpack manifest: warning: no --url: InstallerUrl is the placeholder %s; "
                         "put the package's download address there\n",
                         f.url.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "klvpack manifest: %s\n", e.what());
        return kManifestUsage;
    }
}

} // namespace klv::klvpack
