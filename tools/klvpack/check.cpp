#include <algorithm>
#include <array>
#include <cinttypes>
#include <map>
#include <new>
#include <optional>
#include <set>

#include "app/stubconf/config_files.h"
#include "app/stubconf/item_names.h"
#include "app/stubconf/stub_ini.h"
#include "build.h"
#include "build_caption.h"
#include "build_tree.h"
#include "check_picture.h"
#include "check_signature.h"
#include "help.h"
#include "open_failure.h"
#include "package_rules.h"
#include "pe_image.h"
#include "platform/disk.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "progress.h"
#include "version_resource.h"
#include "zip/archiver.h"
#include "zip/folder_item.h"
#include "zip/records.h"
#include "zip/signed_view.h"

namespace klv::klvpack {

namespace {

constexpr int kCheckFine = 0;
constexpr int kCheckWarnings = 1;
constexpr int kCheckUsage = 2;
constexpr int kCheckCannotOpen = 3;
// A package the installer will refuse is no success either; its verdict line says which.
// Scripts keep the codes they know: 0 fine, 1 not fine as made, 3 cannot be opened.
constexpr int kCheckRefused = 1;
constexpr std::int64_t kMaxReadIntoMemory = 512 << 20;

// An item's name as stored, with '/' between its parts.
std::string ItemName(std::u16string name) {
    std::replace(name.begin(), name.end(), u'\\', u'/');
    return platform::Utf16ToUtf8(name);
}
std::string Quoted(std::string_view ansi) {
    return "\"" + AnsiShown(ansi) + "\"";
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
    // Something for which the installer refuses the whole package (as damaged).
    void Refuse(const std::string& text) {
        std::printf("refused:         %s\n", text.c_str());
        ++refusals_;
    }
    int Warnings() const { return warnings_; }
    int Refusals() const { return refusals_; }

  private:
    int warnings_ = 0;
    int refusals_ = 0;
};

class PackageCheck {
  public:
    PackageCheck(const std::u16string& path, Report& report) : path_(path), r_(report) {}

    int Run() {
        try {
            archive_.FileName = path_;
            archive_.SignedView = true;
            if (!platform::SystemDisk().IsFile(path_))
                throw zip::EZAException(zip::neFileNotFound, &archive_, {path_});
            archive_.Open(zip::kOpenModeShareRead);
        } catch (const zip::EZAError& e) {
            const std::string bare = BareStub();
            if (bare.empty())
                std::fprintf(stderr, "klvpack check: %s\n", CannotOpenText(path_, e).c_str());
            else
                std::fprintf(stderr, "%s\n", bare.c_str());
            return kCheckCannotOpen;
        }
        ReadPackageFacts();
        Signature();
        StubCaption();
        PackageVersionResource();
        Configuration();
        RunMode();
        ProgramFile();
        Picture();
        Items();
        if (r_.Refusals() > 0) {
            r_.Line("verdict", "the installer will refuse this package as damaged (" +
                                   std::to_string(r_.Refusals()) +
                                   (r_.Refusals() == 1 ? " refusal" : " refusals") + ", " +
                                   std::to_string(r_.Warnings()) +
                                   (r_.Warnings() == 1 ? " warning)" : " warnings)"));
            return kCheckRefused;
        }
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

    // What to say of a Windows executable with nothing behind its image: the stub itself (it
    // has the stored caption block), or a download cut off inside it. Empty for anything else,
    // such as a stub followed by a damaged payload.
    std::string BareStub() try {
        zip::TZAFileStream file(path_, platform::fmOpenRead | platform::fmShareDenyNone);
        // A signed stub: the certificate table and the padding before it are no payload.
        const auto table = zip::FindCertificateTable(file);
        const std::int64_t size = table ? table->offset : file.Size();
        const std::optional<std::int64_t> end = zip::ExecutableImageEnd(file);
        const std::string name = platform::Utf16ToUtf8(path_);
        if (!end || size >= *end + (table ? 8 : 1)) return {};
        if (size < *end && !table)
            return name + " is the installer stub without a payload, cut off after " +
                   std::to_string(size) + " of its " + std::to_string(*end) +
                   " bytes (an incomplete download): download the package again";
        if (!FindCaptionBlock(ReadFile(0, std::min(size, kMaxReadIntoMemory)))) return {};
        return name + " is the installer stub without a payload: there is nothing to install "
                      "(make a package of it with klvpack build)";
    } catch (const zip::EZAError&) {
        return {}; // unreadable: the engine's message says why
    }

    // Each item's name as its local header stores it (nothing where that header cannot be
    // read): the bytes before the engine decodes them.
    std::vector<std::optional<std::string>> RawNames() {
        std::vector<std::optional<std::string>> names(static_cast<std::size_t>(Dir().Count()));
        int error = 0;
        auto file = platform::FileStream::Open(
            path_, platform::fmOpenRead | platform::fmShareDenyNone, error);
        if (!file) return names;
        for (std::int32_t i = 0; i < Dir().Count(); ++i) {
            std::array<std::uint8_t, zip::kLocalHeaderSize> head{};
            file->Seek(Dir().Item(i).LocalHeaderOffset());
            if (file->Read(head.data(), head.size()) != static_cast<std::int64_t>(head.size()))
                continue;
            const zip::LocalHeader local = zip::LocalHeader::Parse(head);
            if (local.signature != zip::kStandardSignatures.localHeader) continue;
            std::string name(local.nameLength, '\0');
            if (file->Read(name.data(), local.nameLength) == local.nameLength)
                names[static_cast<std::size_t>(i)] = std::move(name);
        }
        return names;
    }

    std::vector<std::uint8_t> ReadFile(std::int64_t offset, std::int64_t count) {
        int error = 0;
        auto file = platform::FileStream::Open(
            path_, platform::fmOpenRead | platform::fmShareDenyNone, error);
        if (!file) return {};
        // Never more than the file holds, whatever was asked.
        count =
            std::clamp<std::int64_t>(count, 0, std::max<std::int64_t>(file->Size() - offset, 0));
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
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
        r_.Line("package", platform::Utf16ToUtf8(path_) + ", " + std::to_string(fileSize_) +
                               " bytes, " + std::to_string(Dir().Count()) +
                               " items behind a stub of " + std::to_string(stubEnd_) + " bytes");
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
        if (const auto kind = PeKindOf(stub)) {
            r_.Line("stub", PeKindText(*kind));
            if (*kind != PeKind::Pe32)
                r_.Warn("the stub is an x86-64 program: the package does not run on 32-bit "
                        "Windows; build it with the shipped 32-bit stub");
        }
        const auto block = FindCaptionBlock(stub);
        if (!block) {
            r_.Warn("the stub has no stored caption block: it is not the Kelvaro installer stub");
            return;
        }
        storedCaption_ = ReadCaption(stub, *block);
        r_.Line("stored caption", Quoted(storedCaption_));
    }

    // The version Explorer and inventory tools show for the package, beside the one its
    // stored caption gives (which klvpack build writes into the resource).
    void PackageVersionResource() {
        const auto stub = ReadFile(0, std::min(stubEnd_, kMaxReadIntoMemory));
        const auto info = ReadVersionInfo(stub);
        const auto wanted = ResourceVersionOfCaption(storedCaption_);
        const std::string caption = wanted ? VersionText(std::uint64_t{(*wanted)[0]} << 48 |
                                                         std::uint64_t{(*wanted)[1]} << 32 |
                                                         (*wanted)[2] << 16 | (*wanted)[3])
                                           : std::string();
        if (!info) {
            r_.Line("file properties", "none");
            return;
        }
        const std::string file = VersionText(info->fileVersion);
        const std::string product = VersionText(info->productVersion);
        std::string line = file;
        if (product != file) line += ", product version " + product;
        line += ", \"" + info->String("FileDescription") + "\"";
        const std::string given = stubconf::PackageVersionFromCaption(storedCaption_);
        const bool tooWide = !wanted && stubconf::ParseVersion(given);
        line += caption.empty()
                    ? (tooWide ? ", the caption's " + AnsiShown(given) + " does not fit"
                               : ", the caption carries none")
                    : (caption == file ? ", as the caption says" : ", the caption says " + caption);
        r_.Line("file properties", line);
        if (const auto warning = ResourceFitWarning(storedCaption_, file)) r_.Warn(*warning);
        if (caption.empty()) return;
        for (const auto& [what, shown] : {std::pair<std::string, std::string>{"file version", file},
                                          {"product version", product},
                                          {"FileVersion", info->String("FileVersion")},
                                          {"ProductVersion", info->String("ProductVersion")}})
            if (shown != caption) {
                r_.Warn("the version resource's " + what + " is " + shown +
                        " but the caption says " + caption +
                        ": the package's file properties show the wrong version (build it with "
                        "this klvpack)");
                return;
            }
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
                if (configured_) LimitConfigFile(item.Search.Index);
                std::u16string name = e.FileName;
                std::replace(name.begin(), name.end(), u'\\', u'/');
                if (name.find(u'/') != std::u16string::npos) continue;
                configFiles_[platform::Utf16ToUtf8(platform::LowerCase(name))] = item.Search.Index;
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
        if (tooLarge_.count(ini->second)) return;
        const auto bytes = ItemBytes(ini->second);
        if (!bytes) {
            r_.Warn("Stub.ini cannot be read from the payload");
            return;
        }
        iniText_ = *bytes;
        haveIni_ = true;
        const stubconf::StubIni ini2(iniText_);
        r_.Line("Stub.ini", "\"" + platform::Utf16ToUtf8(Dir().Item(ini->second).FileName) +
                                "\", " + std::to_string(iniText_.size()) + " bytes");
        for (std::string_view key : {stubconf::KeyCaption, stubconf::KeyHeader,
                                     stubconf::KeyExplanation, stubconf::KeyFolderChoice}) {
            const std::string label = "  " + std::string(key);
            if (ini2.Has(key))
                r_.Line(label, Quoted(ini2.Value(key)));
            else
                r_.Line(label, "(absent: empty)");
        }
        const std::string choice = ini2.Value(stubconf::KeyFolderChoice);
        hidesFolder_ = stubconf::HidesFolderChoice(choice);
        r_.Line("folder choice", hidesFolder_ ? "hidden" : "shown");
        if (ini2.Has(stubconf::KeyFolderChoice) && !hidesFolder_)
            r_.Warn("\"folderkeuze\" is " + Quoted(choice) +
                    ": only the exact value \"false\" hides the folder choice");
        iniCaption_ = ini2.Value(stubconf::KeyCaption);
    }

    // The stub refuses a configuration file past its bound before writing it.
    void LimitConfigFile(std::int32_t index) {
        const zip::TDirItem& e = Dir().Item(index);
        const std::uint64_t limit = stubconf::ConfigFileLimit(e.FileName);
        if (e.UncompressedSize() >= 0 && static_cast<std::uint64_t>(e.UncompressedSize()) <= limit)
            return;
        tooLarge_.insert(index);
        r_.Refuse("\"" + ItemName(e.FileName) + "\" will be refused: " +
                  std::to_string(e.UncompressedSize()) + " bytes, more than the " +
                  std::to_string(limit >> 20) + " MiB the installer reads of a configuration " +
                  "file; it refuses the package as damaged");
    }

    void RunMode() {
        caption_ = haveIni_ ? iniCaption_ : storedCaption_;
        kind_ = stubconf::KindOfPackage(configured_, caption_);
        const std::string source = haveIni_ ? "from Stub.ini" : "stored in the stub";
        r_.Line("caption", Quoted(caption_) + " (" + source + ")");
        if (const auto warning = NoCaptionWarning(caption_)) r_.Warn(*warning);
        using stubconf::PackageKind;
        switch (kind_) {
        case PackageKind::ConfiguredHelp:
            r_.Line("run mode", "configured package and help package (\"" + configItem_ +
                                    "\" matches \"*stub.ini\"; the caption contains \"help\")");
            r_.Warn("the Stub.ini caption " + Quoted(caption_) +
                    " contains \"help\": the package is also a help package");
            break;
        case PackageKind::Configured:
            r_.Line("run mode", "configured package (\"" + configItem_ +
                                    "\" matches \"*stub.ini\"): no folder validation, no version "
                                    "check, no shortcuts");
            break;
        case PackageKind::Help:
            r_.Line("run mode", "help package (the caption contains \"help\"): no version check, "
                                "the program file stays");
            break;
        case PackageKind::ProgramUpgrade:
            r_.Line("run mode", "program upgrade (no item matches \"*stub.ini\"; the caption does "
                                "not contain \"help\")");
            break;
        }
        if (kind_ != PackageKind::ProgramUpgrade) {
            r_.Line("package version", "not used in this mode");
            return;
        }
        version_ = stubconf::PackageVersionFromCaption(caption_);
        if (!stubconf::ParseVersion(version_)) {
            r_.Line("package version",
                    version_.empty() ? "none" : Quoted(version_) + ", not a version");
            r_.Warn(*CaptionVersionWarning(caption_));
            version_.clear();
        } else {
            r_.Line("package version", AnsiShown(version_));
        }
    }

    void ProgramFile() {
        std::int32_t index = -1;
        for (std::int32_t i = 0; i < Dir().Count(); ++i)
            if (platform::LowerCase(Dir().Item(i).FileName) == u"kelvaro.exe") index = i;
        const bool upgrade = kind_ == stubconf::PackageKind::ProgramUpgrade;
        ProgramFileFacts program;
        program.present = index >= 0;
        if (!program.present) {
            r_.Line("kelvaro.exe", "not in the payload");
        } else if (const auto bytes = ItemBytes(index)) {
            program.version = FileVersionOf(
                std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
            const bool same =
                program.version && !version_.empty() &&
                stubconf::CompareVersions(VersionText(*program.version), version_) == 0;
            r_.Line("kelvaro.exe", !program.version
                                       ? "no version resource"
                                       : "version " + VersionText(*program.version) +
                                             (upgrade && same ? ", as the caption says" : ""));
        } else {
            r_.Line("kelvaro.exe", "cannot be read (see the items below)");
            return;
        }
        if (!upgrade) return;
        if (const auto warning = ProgramFileWarning(program, version_)) r_.Warn(*warning);
    }

    void Picture() {
        // The names in the stub's order, with the bytes each kind of file begins with.
        const std::pair<const char*, std::string_view> kinds[] = {
            {"stub.bmp", "BM"}, {"stub.jpg", "\xFF\xD8\xFF"}, {"stub.ico", {"\0\0\1\0", 4}}};
        std::string shown;
        bool unshown = false;
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
            if (tooLarge_.count(it->second)) continue;
            const auto bytes = ItemBytes(it->second);
            if (bytes && !bytes->starts_with(magic)) {
                r_.Warn(name + " is not a " +
                        (magic == "BM"       ? "bitmap"
                         : magic.size() == 3 ? "JPEG"
                                             : "icon") +
                        " file: the stub cannot show it");
                unshown = true;
            } else if (bytes) {
                const std::string problem = PictureProblem(
                    n,
                    std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
                if (!problem.empty()) {
                    r_.Warn(name + " cannot be shown: " + problem +
                            "; the stub shows its own picture instead");
                    unshown = true;
                }
            }
        }
        r_.Line("picture", shown.empty() ? "the stub's own"
                           : unshown     ? "the stub's own (" + shown + " cannot be shown)"
                                         : shown);
    }

    // Every item the installer refuses (its name, encryption, damage) makes it refuse the
    // whole package; a name stored in UTF-8 without the flag is shown as the installer reads it.
    void Items() {
        if (archive_.DirManager()->Rebuilt)
            r_.Refuse("the archive's directory is missing or damaged (read back from the local "
                      "headers): the installer refuses the package as damaged or incomplete");
        const std::int32_t count = Dir().Count();
        std::vector<stubconf::PayloadName> names;
        for (std::int32_t i = 0; i < count; ++i) {
            const zip::TDirItem& e = Dir().Item(i);
            names.push_back({e.FileName, zip::IsFolderItem(e)});
        }
        const stubconf::PayloadPaths paths =
            stubconf::CanonicalPayloadPaths(names, platform::UpperUnit);
        std::map<std::size_t, std::u16string> why;
        for (const stubconf::NameRefusal& r : paths.refusals)
            why.emplace(r.index, r.reason);
        const auto raw = RawNames();
        std::vector<std::string> shown(names.size());
        std::map<std::u16string, std::size_t> refused; // by the engine's name
        for (std::size_t i = 0; i < names.size(); ++i) {
            const zip::TDirItem& e = Dir().Item(static_cast<std::int32_t>(i));
            const std::string read = ItemName(e.FileName);
            shown[i] = "\"" + read + "\"";
            // Info-ZIP zip on Linux, among others, stores UTF-8 bytes without saying so.
            std::string unflagged;
            if (!(e.Header.Flags() & zip::kFlagUtf8) && raw[i] && IsNonAsciiUtf8(*raw[i])) {
                shown[i] = "\"" + *raw[i] + "\"";
                unflagged = "stored in UTF-8 without the UTF-8 flag (bit 11), its name is read "
                            "by the installer in the OEM code page (850 on a Dutch Windows) as "
                            "\"" +
                            read + "\"";
            }
            const std::string fix = "; build the package with klvpack build, or with a tool "
                                    "that flags UTF-8 names";
            if (const auto it = why.find(i); it != why.end()) {
                const std::string reason = platform::Utf16ToUtf8(it->second);
                r_.Refuse(shown[i] + " will be refused: " +
                          (unflagged.empty() ? reason : unflagged + ", which " + reason + fix));
                refused.emplace(e.FileName, i);
            } else if (e.Encrypted()) {
                r_.Refuse(shown[i] + " will be refused: it is encrypted, and the installer, "
                                     "which has no password, refuses the package as damaged");
                refused.emplace(e.FileName, i);
            } else if (!unflagged.empty()) {
                r_.Warn(shown[i] + ": " + unflagged + ", and creates the file under that name" +
                        fix);
            }
        }
        const std::size_t refusedNames = refused.size();
        std::int32_t damaged = 0;
        std::int64_t bytes = 0, files = 0;
        for (std::int32_t i = 0; i < count; ++i) {
            bytes += Dir().Item(i).UncompressedSize();
            files += zip::IsFolderItem(Dir().Item(i)) ? 0 : 1;
        }
        ProgressLine progress("testing", bytes, count);
        progress.Follow(archive_);
        archive_.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string& name,
                                            zip::TZAProcessOperation, int, int,
                                            const std::u16string& message, zip::TZAAction& action) {
            action = zip::TZAAction::fxaIgnore;
            if (refused.count(name)) return;
            progress.Interrupt();
            r_.Refuse("\"" + ItemName(name) +
                      "\" will be refused: it is damaged: " + platform::Utf16ToUtf8(message));
            ++damaged;
        };
        archive_.OnPassword = [&](zip::TZABaseArchiver&, const std::u16string&, std::string&,
                                  bool& skip) { skip = true; };
        archive_.OnFileProgress = [&](zip::TZABaseArchiver&, const std::u16string&, double,
                                      zip::TZAProcessOperation, zip::TZAProgressPhase phase,
                                      bool&) {
            if (phase == zip::TZAProgressPhase::ppEnd) progress.ItemDone();
        };
        try {
            archive_.TestMatching(u"*.*", 0xFFFF);
        } catch (const zip::EZAError& e) {
            r_.Refuse(std::string("testing the items stopped: ") + e.what());
            ++damaged;
        }
        archive_.OnProcessFileFailure = nullptr;
        archive_.OnPassword = nullptr;
        archive_.OnFileProgress = nullptr;
        archive_.OnOverallProgress = nullptr;
        progress.Finish();
        if (const auto warning = EmptyPayloadWarning(files)) r_.Warn(*warning);
        if (damaged == 0 && refusedNames == 0)
            r_.Line("items", std::to_string(count) + " tested, all intact");
        else
            r_.Line("items", std::to_string(count) + " tested, " + std::to_string(damaged) +
                                 " damaged, " + std::to_string(refusedNames) +
                                 " refused by name or encryption");
    }

    // True when the bytes are well-formed UTF-8 and not all ASCII.
    static bool IsNonAsciiUtf8(const std::string& bytes) {
        return std::any_of(bytes.begin(), bytes.end(),
                           [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) &&
               platform::Utf16ToUtf8(platform::Utf8ToUtf16(bytes)) == bytes;
    }

    std::u16string path_;
    Report& r_;
    zip::TZipArchive archive_;
    std::int64_t fileSize_ = 0;
    std::int64_t stubEnd_ = 0;
    std::string storedCaption_, iniCaption_, caption_, iniText_, version_, configItem_;
    std::map<std::string, std::int32_t> configFiles_; // lower-cased top-level name -> index
    std::set<std::int32_t> tooLarge_;                 // configuration files past their bound
    bool configured_ = false, haveIni_ = false, hidesFolder_ = false;
    stubconf::PackageKind kind_ = stubconf::PackageKind::ProgramUpgrade;
};

} // namespace

int Check(const std::vector<std::u16string>& args) {
    if (args.size() != 1 || args[0].starts_with(u"--")) {
        PrintCommandUsage("check", stderr);
        return kCheckUsage;
    }
    Report report;
    int rc = kCheckCannotOpen;
    try {
        rc = PackageCheck(args[0], report).Run();
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "klvpack: not enough memory to check the package\n");
    }
    std::fflush(stdout);
    return rc;
}

} // namespace klv::klvpack
