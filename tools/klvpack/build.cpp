#include "build.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "build_caption.h"
#include "build_report.h"
#include "build_tree.h"
#include "pe_image.h"
#include "platform/disk.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "stub_default.h"
#include "version_resource.h"
#include "zip/records.h"
#include "zip/signed_view.h"
#include "zip/streams.h"
#include "zip_writer.h"

namespace klv::klvpack {

namespace {

namespace fs = std::filesystem;
constexpr int kBuildRefused = 2;
constexpr std::int64_t kMaxStubSize = 256 << 20;

struct BuildArguments {
    std::u16string stub, payload, output;
    std::optional<std::u16string> caption;
    int level = kDefaultLevel;
};

BuildArguments ParseBuild(const std::vector<std::u16string>& args) {
    BuildArguments out;
    auto value = [&](std::size_t& i) -> const std::u16string& {
        if (++i >= args.size())
            throw PackError(platform::Utf16ToUtf8(args[i - 1]) + " needs a value");
        return args[i];
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--stub")
            out.stub = value(i);
        else if (a == u"--payload")
            out.payload = value(i);
        else if (a == u"--caption")
            out.caption = value(i);
        else if (a == u"-o" || a == u"--output")
            out.output = value(i);
        else if (a == u"--level") {
            const std::u16string& v = value(i);
            int level = -1;
            if (!v.empty() && v.size() <= 2 &&
                std::all_of(v.begin(), v.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
                level = v.size() == 1 ? v[0] - u'0' : (v[0] - u'0') * 10 + (v[1] - u'0');
            if (level < 0 || level > kMaxLevel)
                throw PackError("--level takes a number from 0 to 12");
            out.level = level;
        } else {
            throw PackError("unexpected argument " + platform::Utf16ToUtf8(a));
        }
    }
    if (out.payload.empty() || out.output.empty()) throw PackError("build needs --payload and -o");
    return out;
}

// The stub named by --stub, else the shipped 32-bit one where klvpack knows to look.
std::u16string StubPath(const std::u16string& given) {
    if (!given.empty()) return given;
    const std::vector<std::u16string> places = DefaultStubPlaces();
    if (const auto found = FirstExisting(places)) return *found;
    std::string looked;
    for (const std::u16string& place : places)
        looked += (looked.empty() ? "" : ", nor at ") + platform::Utf16ToUtf8(place);
    throw PackError("no --stub given, and no installer stub " +
                    (looked.empty() ? std::string("beside klvpack") : "at " + looked) +
                    ": name the stub with --stub (the shipped one is the 32-bit "
                    "klvupgradeStub.exe)");
}

std::vector<std::uint8_t> ReadStub(const std::u16string& path) {
    int error = 0;
    auto file =
        platform::FileStream::Open(path, platform::fmOpenRead | platform::fmShareDenyWrite, error);
    if (!file || !platform::SystemDisk().IsFile(path))
        throw PackError("cannot read the stub " + platform::Utf16ToUtf8(path) +
                        (file ? std::string() : ": " + platform::SystemErrorText(error)));
    const std::int64_t size = file->Size();
    if (size > kMaxStubSize)
        throw PackError(platform::Utf16ToUtf8(path) + " is too large for a stub");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (file->Read(bytes.data(), size) != size)
        throw PackError("cannot read the stub " + platform::Utf16ToUtf8(path));
    return bytes;
}

// True when the bytes end in a ZIP end record: a stub that already carries a payload.
bool EndsInArchive(const std::vector<std::uint8_t>& b) {
    const std::size_t window = std::min<std::size_t>(b.size(), zip::kEndRecordSearchWindow);
    return zip::FindEndRecordIn(std::span(b).last(window), zip::kStandardSignatures.endRecord)
        .has_value();
}

void CheckStub(const std::u16string& path, const std::vector<std::uint8_t>& stub) {
    const std::string name = platform::Utf16ToUtf8(path);
    if (stub.size() < 64 || stub[0] != 'M' || stub[1] != 'Z' || !PeKindOf(stub))
        throw PackError(name + " is not a Windows executable");
    if (!FindCaptionBlock(stub))
        throw PackError(name +
                        " is not the Kelvaro installer stub (its stored caption block is missing)");
    if (EndsInArchive(stub))
        throw PackError(name + " already carries a payload; give the bare stub");
    zip::TZAMemoryStream view;
    view.Data() = stub;
    if (zip::FindCertificateTable(view))
        throw PackError(name + " is signed; build from the unsigned stub and sign the package");
}

void SetCaption(std::vector<std::uint8_t>& stub, const std::u16string& caption) {
    const std::string ansi = platform::Utf16ToAnsi(caption);
    if (platform::AnsiToUtf16(ansi) != caption)
        throw PackError("the caption has characters outside code page 1252");
    if (!WriteCaption(stub, *FindCaptionBlock(stub), ansi))
        throw PackError("the caption is " + std::to_string(ansi.size()) +
                        " bytes; the stub holds at most " + std::to_string(CaptionCapacity() - 1));
}

// The output file while it is written: beside its final name, removed unless committed.
class PendingOutput {
  public:
    explicit PendingOutput(const std::u16string& target)
        : target_(target), temp_(target + u".klvpack-tmp") {
        platform::SystemDisk().RemoveFile(temp_);
        int error = 0;
        const fs::path folder = ToPath(target).parent_path();
        std::error_code ec;
        if (!folder.empty() && !fs::is_directory(folder, ec))
            throw PackError("the folder " + platform::Utf16ToUtf8(folder.u16string()) +
                            " for the package (-o) does not exist");
        file_ = platform::FileStream::CreateNew(temp_, error);
        if (!file_)
            throw PackError("cannot create the package " + platform::Utf16ToUtf8(target) + ": " +
                            platform::SystemErrorText(error));
    }
    ~PendingOutput() {
        file_.reset();
        if (!committed_) platform::SystemDisk().RemoveFile(temp_);
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    platform::FileStream& File() { return *file_; }
    void Commit() {
        if (!file_->Flush()) throw PackError("cannot write " + platform::Utf16ToUtf8(temp_));
        file_.reset();
        if (!platform::SystemDisk().Move(temp_, target_).ok())
            throw PackError("cannot move the package to " + platform::Utf16ToUtf8(target_));
        committed_ = true;
    }

  private:
    std::u16string target_, temp_;
    std::unique_ptr<platform::FileStream> file_;
    bool committed_ = false;
};

} // namespace

int Build(const std::vector<std::u16string>& args) {
    try {
        const BuildArguments a = ParseBuild(args);
        const std::u16string stubPath = StubPath(a.stub);
        std::error_code ec;
        if (fs::equivalent(ToPath(stubPath), ToPath(a.output), ec))
            throw PackError("the output " + platform::Utf16ToUtf8(a.output) +
                            " is the stub itself");
        std::vector<std::uint8_t> stub = ReadStub(stubPath);
        CheckStub(stubPath, stub);
        const PeKind kind = *PeKindOf(stub);
        if (a.caption) SetCaption(stub, *a.caption);
        const StampOutcome stamped = StampCaptionVersion(stub);
        const std::vector<PackEntry> entries = CollectPayload(a.payload, a.output);
        const std::vector<std::string> warnings = BuildWarnings(stub, entries);
        WriterOptions options;
        options.level = a.level;
        PendingOutput out(a.output);
        std::int64_t payloadBytes = 0;
        for (const PackEntry& e : entries)
            payloadBytes += static_cast<std::int64_t>(e.size);
        ProgressLine progress("building", payloadBytes, static_cast<std::int64_t>(entries.size()));
        ProgressSink sink(out.File(), entries, progress);
        WritePackage(sink, stub, entries, options);
        sink.Finish();
        const std::int64_t size = out.File().Size();
        out.Commit();
        const auto files =
            std::count_if(entries.begin(), entries.end(), [](auto& e) { return !e.folder; });
        std::printf("stub: %s (%s)\n", platform::Utf16ToUtf8(stubPath).c_str(),
                    PeKindText(kind).c_str());
        if (kind != PeKind::Pe32)
            std::fprintf(stderr,
                         "klvpack build: warning: the stub is an x86-64 program: the package "
                         "will not run on 32-bit Windows (the shipped stub is the 32-bit one)\n");
        std::printf("version resource: %s\n", stamped.line.c_str());
        if (!stamped.warning.empty())
            std::fprintf(stderr, "klvpack build: warning: %s\n", stamped.warning.c_str());
        std::printf("%s: %lld bytes: the stub (%zu bytes), %zu folders and %lld files\n",
                    platform::Utf16ToUtf8(a.output).c_str(), static_cast<long long>(size),
                    stub.size(), entries.size() - static_cast<std::size_t>(files),
                    static_cast<long long>(files));
        for (const std::string& warning : warnings)
            std::fprintf(stderr, "klvpack build: warning: %s\n", warning.c_str());
        return 0;
    } catch (const PackError& e) {
        std::fprintf(stderr, "klvpack build: %s\n", e.what());
        return kBuildRefused;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "klvpack build: %s\n", e.what());
        return kBuildRefused;
    }
}

} // namespace klv::klvpack
