#include <algorithm>
#include <cinttypes>
#include <map>
#include <optional>

#include "app/stubconf/stub_ini.h"
#include "build.h"
#include "build_caption.h"
#include "build_tree.h"
#include "check_signature.h"
#include "pe_image.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/text.h"
#include "zip/archiver.h"
#include "zip/signed_view.h"

namespace klv::klvpack {

namespace {

constexpr int kCheckFine = 0;
constexpr int kCheckWarnings = 1;
constexpr int kCheckUsage = 2;
constexpr int kCheckCannotOpen = 3;
constexpr std::int64_t kMaxReadIntoMemory = 512 << 20;

std::string Utf8(std::u16string_view s) {
    return platform::Utf16ToUtf8(s);
}
// An item's name as stored, with '/' between its parts.
std::string ItemName(std::u16string name) {
    std::replace(name.begin(), name.end(), u'\\', u'/');
    return Utf8(name);
}
std::string AnsiShown(std::string_view ansi) {
    return Utf8(platform::AnsiToUtf16(ansi));
}
std::string Quoted(std::string_view ansi) {
    return "\"" + AnsiShown(ansi) + "\"";
}

std::string VersionText(std::uint64_t v) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(v >> 48 & 0xFFFF),
                  static_cast<unsigned>(v >> 32 & 0xFFFF), static_cast<unsigned>(v >> 16 & 0xFFFF),
                  static_cast<unsigned>(v & 0xFFFF));
    return text;
}

// True when a line of `ini` has `key` before its first "=" (compared without case).
bool HasKey(std::string_view ini, std::string_view key) {
    std::size_t start = 0;
    while (start <= ini.size()) {
        std::size_t end = ini.find('\n', start);
        if (end == std::string_view::npos) end = ini.size();
        std::string_view line = ini.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string_view::npos && eq == key.size() &&
            std::equal(key.begin(), key.end(), line.begin(), [](char a, char b) {
                return platform::LowerCase(platform::AnsiToUtf16(std::string(1, a))) ==
                       platform::LowerCase(platform::AnsiToUtf16(std::string(1, b)));
            }))
            return true;
        start = end + 1;
    }
    return false;
}

class Report {
  public:
    // A line with an empty label continues the one before.
    void Line(const std::string& label, const std::string& text) {
        std::printf("%-16s %s\n", label.empty() ? "" : (label + ":").c_str(), text.c_str());
    }
    void Warn(const std::string& text) {
        std::printf("warning:         %s\n", text.c_str());
        ++warnings_;
    }
    int Warnings() const { return warnings_; }

  private:
    int warnings_ = 0;
};

class PackageCheck {
  public:
    PackageCheck(const std::u16string& path, Report& report) : path_(path), r_(report) {}

    int Run() {
        try {
            archive_.FileName = path_;
            archive_.SignedView = true;
            if (!platform::FileExists(path_))
                throw zip::EZAException(zip::neFileNotFound, &archive_, {path_});
            archive_.Open(zip::kOpenModeShareRead);
        } catch (const zip::EZAError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return kCheckCannotOpen;
        }
        ReadPackageFacts();
        Signature();
        StubCaption();
        Configuration();
        RunMode();
        ProgramFile();
        Picture();
        Items();
        if (r_.Warnings() == 0) {
            r_.Line("verdict", "the stub will install this package as made");
            return kCheckFine;
        }
        r_.Line("verdict",
                std::to_string(r_.Warnings()) + (r_.Warnings() == 1 ? " warning" : " warnings"));
        return kCheckWarnings;
    }

  private:
    const zip::TZADirArray& Dir() const { return archive_.DirManager()->Directory; }

    std::vector<std::uint8_t> ReadFile(std::int64_t offset, std::int64_t count) {
        int error = 0;
        auto file = platform::FileStream::Open(
            path_, platform::fmOpenRead | platform::fmShareDenyNone, error);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
        if (!file) return {};
        file->Seek(offset);
        const std::int64_t n = file->Read(bytes.data(), count);
        bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
        return bytes;
    }

    std::optional<std::string> ItemBytes(std::int32_t index) {
        if (Dir().Item(index).UncompressedSize() > kMaxReadIntoMemory) return std::nullopt;
        zip::TZAMemoryStream out;
        bool failed = false;
        archive_.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string&,
                                            zip::TZAProcessOperation, int, int,
                                            const std::u16string&, zip::TZAAction& action) {
            failed = true;
            action = zip::TZAAction::fxaIgnore;
        };
        archive_.OnPassword = [&](zip::TZABaseArchiver&, const std::u16string&, std::string&,
                                  bool& skip) {
            skip = true;
            failed = true;
        };
        try {
            archive_.ExtractItemToStream(index, out);
        } catch (const zip::EZAError&) {
            failed = true;
        }
        archive_.OnProcessFileFailure = nullptr;
        archive_.OnPassword = nullptr;
        if (failed) return std::nullopt;
        return std::string(out.Data().begin(), out.Data().end());
    }

    void ReadPackageFacts() {
        int error = 0;
        auto file = platform::FileStream::Open(
            path_, platform::fmOpenRead | platform::fmShareDenyNone, error);
        fileSize_ = file ? file->Size() : 0;
        stubEnd_ = archive_.ArchiveStart();
        if (stubEnd_ == 0 && Dir().Count() > 0) {
            stubEnd_ = Dir().Item(0).LocalHeaderOffset();
            for (std::int32_t i = 1; i < Dir().Count(); ++i)
                stubEnd_ = std::min(stubEnd_, Dir().Item(i).LocalHeaderOffset());
        }
        r_.Line("package", Utf8(path_) + ", " + std::to_string(fileSize_) + " bytes, " +
                               std::to_string(Dir().Count()) + " items behind a stub of " +
                               std::to_string(stubEnd_) + " bytes");
    }

    void Signature() {
        zip::TZAFileStream file(path_, platform::fmOpenRead | platform::fmShareDenyNone);
        const auto table = zip::FindCertificateTable(file);
        if (!table) {
            r_.Line("signature", "none");
            if (fileSize_ % 8 != 0)
                r_.Line("", "note: " + std::to_string(fileSize_) +
                                " bytes, not a multiple of 8: signing would pad the package and so "
                                "hide the archive's end record (klvpack build makes packages that "
                                "sign cleanly)");
            return;
        }
        r_.Line("signature", "a certificate table of " + std::to_string(table->size) +
                                 " bytes at " + std::to_string(table->offset) +
                                 "; the archive is read up to it");
        const SignatureDigest digest = CheckSignatureDigest(file, *table);
        if (digest.verdict == DigestVerdict::Matches)
            r_.Line("", "the " + digest.algorithm +
                            " digest of the package matches the signature's"
                            " (the certificates are for osslsigncode verify to judge)");
        else if (digest.verdict == DigestVerdict::Differs)
            r_.Warn("the package was changed after signing: its " + digest.algorithm +
                    " digest differs from the signature's, and Windows will reject the signature");
        else
            r_.Warn("the signature's digest cannot be read: check it with osslsigncode verify");
    }

    void StubCaption() {
        const auto stub = ReadFile(0, std::min(stubEnd_, kMaxReadIntoMemory));
        const auto block = FindCaptionBlock(stub);
        if (!block) {
            r_.Warn("the stub has no stored caption block: it is not the Kelvaro installer stub");
            return;
        }
        storedCaption_ = ReadCaption(stub, *block);
        r_.Line("stored caption", Quoted(storedCaption_));
    }

    // The configuration as the stub takes it: an item matching "*stub.ini" makes a configured
    // package; the items matching "*Stub.*" are written into the temporary folder, where the
    // stub looks for Stub.ini and the pictures by these names.
    void Configuration() {
        zip::TZAArchiveItem item;
        if (archive_.FindFirstItem(u"*stub.ini", item)) {
            configured_ = true;
            configItem_ = ItemName(Dir().Item(item.Search.Index).FileName);
        }
        if (archive_.FindFirstItem(u"*Stub.*", item)) {
            do {
                const zip::TDirItem& e = Dir().Item(item.Search.Index);
                std::u16string name = e.FileName;
                std::replace(name.begin(), name.end(), u'\\', u'/');
                if (name.find(u'/') != std::u16string::npos) continue;
                configFiles_[Utf8(platform::LowerCase(name))] = item.Search.Index;
            } while (archive_.FindNextItem(item));
        }
        if (!configured_) {
            r_.Line("Stub.ini", "none (no item matches \"*stub.ini\")");
            return;
        }
        const auto ini = configFiles_.find("stub.ini");
        if (ini == configFiles_.end()) {
            r_.Line("Stub.ini", "none at the top of the payload");
            r_.Warn(
                "\"" + configItem_ +
                "\" matches \"*stub.ini\", so the package installs as a "
                "configured package, but there is no Stub.ini at the top of the payload for the "
                "stub to read: caption, heading and explanation stay as stored");
            return;
        }
        const auto bytes = ItemBytes(ini->second);
        if (!bytes) {
            r_.Warn("Stub.ini cannot be read from the payload");
            return;
        }
        iniText_ = *bytes;
        haveIni_ = true;
        const stubconf::StubIni ini2(iniText_);
        r_.Line("Stub.ini", "\"" + Utf8(Dir().Item(ini->second).FileName) + "\", " +
                                std::to_string(iniText_.size()) + " bytes");
        for (std::string_view key : {stubconf::KeyCaption, stubconf::KeyHeader,
                                     stubconf::KeyExplanation, stubconf::KeyFolderChoice}) {
            const std::string label = "  " + std::string(key);
            if (HasKey(iniText_, key))
                r_.Line(label, Quoted(ini2.Value(key)));
            else
                r_.Line(label, "(absent: empty)");
        }
        const std::string choice = ini2.Value(stubconf::KeyFolderChoice);
        hidesFolder_ = stubconf::HidesFolderChoice(choice);
        r_.Line("folder choice", hidesFolder_ ? "hidden" : "shown");
        if (HasKey(iniText_, stubconf::KeyFolderChoice) && !hidesFolder_)
            r_.Warn("\"folderkeuze\" is " + Quoted(choice) +
                    ": only the exact value \"false\" hides the folder choice");
        iniCaption_ = ini2.Value(stubconf::KeyCaption);
    }

    void RunMode() {
        caption_ = haveIni_ ? iniCaption_ : storedCaption_;
        help_ = stubconf::IsHelpCaption(caption_);
        const std::string source = haveIni_ ? "from Stub.ini" : "stored in the stub";
        r_.Line("caption", Quoted(caption_) + " (" + source + ")");
        if (configured_ && help_) {
            r_.Line("run mode", "configured package and help package (\"" + configItem_ +
                                    "\" matches \"*stub.ini\"; the caption contains \"help\")");
            r_.Warn("the Stub.ini caption " + Quoted(caption_) +
                    " contains \"help\": the package is also a help package");
        } else if (configured_) {
            r_.Line("run mode", "configured package (\"" + configItem_ +
                                    "\" matches \"*stub.ini\"): no folder validation, no version "
                                    "check, no shortcuts");
        } else if (help_) {
            r_.Line("run mode", "help package (the caption contains \"help\"): no version check, "
                                "the program file stays");
        } else {
            r_.Line("run mode", "program upgrade (no item matches \"*stub.ini\"; the caption does "
                                "not contain \"help\")");
        }
        if (configured_ || help_) {
            r_.Line("package version", "not used in this mode");
            return;
        }
        version_ = stubconf::PackageVersionFromCaption(caption_);
        if (!stubconf::ParseVersion(version_)) {
            r_.Line("package version",
                    version_.empty() ? "none" : Quoted(version_) + ", not a version");
            r_.Warn("the caption carries no version (give one with --caption \"Kelvaro Update "
                    "3.2.0.1]\"): the stub will ask the version question on every installation");
            version_.clear();
        } else {
            r_.Line("package version", AnsiShown(version_));
        }
    }

    void ProgramFile() {
        std::int32_t index = -1;
        for (std::int32_t i = 0; i < Dir().Count(); ++i)
            if (platform::LowerCase(Dir().Item(i).FileName) == u"kelvaro.exe") index = i;
        const bool upgrade = !configured_ && !help_;
        if (index < 0) {
            r_.Line("kelvaro.exe", "not in the payload");
            if (upgrade)
                r_.Warn("a program upgrade without kelvaro.exe at the top of the payload: the stub "
                        "deletes the installed program file and puts none back");
            return;
        }
        const auto bytes = ItemBytes(index);
        const auto version =
            bytes ? FileVersionOf(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                            bytes->size()))
                  : std::nullopt;
        if (!bytes) {
            r_.Line("kelvaro.exe", "cannot be read (see the items below)");
            return;
        }
        if (!version) {
            r_.Line("kelvaro.exe", "no version resource");
            if (upgrade)
                r_.Warn("kelvaro.exe has no version resource: installed, it reads as 0.0.0.0");
            return;
        }
        const std::string text = VersionText(*version);
        if (!upgrade || version_.empty()) {
            r_.Line("kelvaro.exe", "version " + text);
            return;
        }
        if (stubconf::CompareVersions(text, version_) == 0) {
            r_.Line("kelvaro.exe", "version " + text + ", as the caption says");
        } else {
            r_.Line("kelvaro.exe", "version " + text);
            r_.Warn("kelvaro.exe is version " + text + " but the caption says " +
                    AnsiShown(version_));
        }
    }

    void Picture() {
        // The names in the stub's order, with the bytes each kind of file begins with.
        const std::pair<const char*, std::string_view> kinds[] = {
            {"stub.bmp", "BM"}, {"stub.jpg", "\xFF\xD8\xFF"}, {"stub.ico", {"\0\0\1\0", 4}}};
        std::string shown;
        for (const auto& [n, magic] : kinds) {
            const auto it = configFiles_.find(n);
            if (it == configFiles_.end()) continue;
            const std::string name = "\"" + ItemName(Dir().Item(it->second).FileName) + "\"";
            if (!configured_) {
                r_.Warn(name + " is not shown: the stub takes its picture from the payload only "
                               "when an item matches \"*stub.ini\"");
                continue;
            }
            if (!shown.empty()) continue;
            shown = name;
            const auto bytes = ItemBytes(it->second);
            if (bytes && !bytes->starts_with(magic))
                r_.Warn(name + " is not a " +
                        (magic == "BM"       ? "bitmap"
                         : magic.size() == 3 ? "JPEG"
                                             : "icon") +
                        " file: the stub cannot show it");
        }
        r_.Line("picture", shown.empty() ? "the stub's own" : shown);
    }

    void Items() {
        if (archive_.DirManager()->Rebuilt)
            r_.Warn("the archive's directory is missing or damaged (read back from the local "
                    "headers): the installer refuses the package as damaged or incomplete");
        std::int32_t unsafe = 0;
        for (std::int32_t i = 0; i < Dir().Count(); ++i)
            if (const auto why = StubRefusesName(Dir().Item(i).FileName)) {
                r_.Warn("\"" + ItemName(Dir().Item(i).FileName) + "\" has " + *why +
                        ": the installer refuses to write it");
                ++unsafe;
            }
        std::int32_t failed = 0;
        archive_.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string& name,
                                            zip::TZAProcessOperation, int, int,
                                            const std::u16string& message, zip::TZAAction& action) {
            r_.Warn("\"" + ItemName(name) + "\" is damaged: " + Utf8(message));
            ++failed;
            action = zip::TZAAction::fxaIgnore;
        };
        archive_.OnPassword = [&](zip::TZABaseArchiver&, const std::u16string& name, std::string&,
                                  bool& skip) {
            r_.Warn("\"" + ItemName(name) +
                    "\" is encrypted: the installer would ask for a password");
            ++failed;
            skip = true;
        };
        try {
            archive_.TestMatching(u"*.*", 0xFFFF);
        } catch (const zip::EZAError& e) {
            r_.Warn(std::string("testing the items stopped: ") + e.what());
            ++failed;
        }
        const std::int32_t count = Dir().Count();
        if (failed == 0 && unsafe == 0)
            r_.Line("items", std::to_string(count) + " tested, all intact");
        else
            r_.Line("items", std::to_string(count) + " tested, " + std::to_string(failed) +
                                 " failed, " + std::to_string(unsafe) + " with unsafe names");
    }

    std::u16string path_;
    Report& r_;
    zip::TZipArchive archive_;
    std::int64_t fileSize_ = 0;
    std::int64_t stubEnd_ = 0;
    std::string storedCaption_, iniCaption_, caption_, iniText_, version_, configItem_;
    std::map<std::string, std::int32_t> configFiles_; // lower-cased top-level name -> index
    bool configured_ = false, haveIni_ = false, help_ = false, hidesFolder_ = false;
};

} // namespace

int Check(const std::vector<std::u16string>& args) {
    if (args.size() != 1 || args[0].starts_with(u"--")) {
        std::fputs("usage:\n", stderr);
        PrintPackUsage(stderr);
        return kCheckUsage;
    }
    Report report;
    const int rc = PackageCheck(args[0], report).Run();
    std::fflush(stdout);
    return rc;
}

} // namespace klv::klvpack
