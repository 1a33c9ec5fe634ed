#include "build_report.h"

#include <algorithm>
#include <cstring>

#include "app/stubconf/stub_ini.h"
#include "build_caption.h"
#include "package_rules.h"
#include "pe_image.h"
#include "platform/file_stream.h"
#include "version_resource.h"

namespace klv::klvpack {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string EntryBytes(const PackEntry& e) {
    if (e.source.empty()) return e.content;
    std::string bytes;
    int error = 0;
    platform::ReadWholeFile(e.source, bytes, error);
    return bytes;
}

} // namespace

std::vector<std::string> BuildWarnings(const std::vector<std::uint8_t>& stub,
                                       const std::vector<PackEntry>& entries) {
    const auto block = FindCaptionBlock(stub);
    const std::string stored = block ? ReadCaption(stub, *block) : std::string();
    bool configured = false;
    std::string caption = stored;
    ProgramFileFacts program;
    std::int64_t files = 0;
    for (const PackEntry& e : entries) {
        if (e.folder) continue;
        ++files;
        const std::string name = Lower(e.name);
        // The installer's mask "*stub.ini" matches in any folder; it reads the top one.
        configured = configured || name.ends_with("stub.ini");
        if (name == "stub.ini")
            caption = stubconf::StubIni(EntryBytes(e)).Value(stubconf::KeyCaption);
        if (name == "kelvaro.exe") {
            program.present = true;
            const std::string bytes = EntryBytes(e);
            program.version = FileVersionOf(
                std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        }
    }
    if (!configured) caption = stored;
    const bool upgrade =
        stubconf::KindOfPackage(configured, caption) == stubconf::PackageKind::ProgramUpgrade;
    const auto info = ReadVersionInfo(stub);
    std::vector<std::string> out;
    auto add = [&](std::optional<std::string> warning) {
        if (warning) out.push_back(std::move(*warning));
    };
    add(NoCaptionWarning(caption));
    if (upgrade) add(CaptionVersionWarning(caption));
    if (info) add(ResourceFitWarning(stored, VersionText(info->fileVersion)));
    add(EmptyPayloadWarning(files));
    if (upgrade) add(ProgramFileWarning(program, ComparableCaptionVersion(caption)));
    return out;
}

ProgressSink::ProgressSink(platform::FileStream& file, const std::vector<PackEntry>& entries,
                           ProgressLine& line)
    : file_(file), entries_(entries), line_(line) {
    for (const PackEntry& e : entries)
        keep_ = std::max(keep_, 30 + e.name.size());
}

void ProgressSink::Append(const std::uint8_t* data, std::size_t count) {
    file_.Seek(static_cast<std::int64_t>(end_));
    Write(data, count);
    end_ += count;
    if (line_.On()) Follow(data, count);
}

void ProgressSink::Overwrite(std::uint64_t at, const std::uint8_t* data, std::size_t count) {
    file_.Seek(static_cast<std::int64_t>(at));
    Write(data, count);
}

void ProgressSink::Truncate(std::uint64_t size) {
    if (!file_.SetSize(static_cast<std::int64_t>(size)))
        throw PackError("cannot write the package: " +
                        platform::SystemErrorText(file_.LastError()));
    end_ = size;
}

void ProgressSink::Finish() {
    if (next_ > 0) line_.ItemDone(static_cast<std::int64_t>(entries_[next_ - 1].size));
    line_.Finish();
}

void ProgressSink::Write(const std::uint8_t* data, std::size_t count) {
    if (count > 0 &&
        file_.Write(data, static_cast<std::int64_t>(count)) != static_cast<std::int64_t>(count))
        throw PackError("cannot write the package: " +
                        platform::SystemErrorText(file_.LastError()));
}

void ProgressSink::Follow(const std::uint8_t* data, std::size_t count) {
    tail_.append(reinterpret_cast<const char*>(data), count);
    for (std::size_t at = 0; next_ < entries_.size();) {
        at = tail_.find("PK\x03\x04", at);
        const std::string& name = entries_[next_].name;
        if (at == std::string::npos || at + 30 + name.size() > tail_.size()) break;
        const auto length =
            static_cast<std::size_t>(static_cast<std::uint8_t>(tail_[at + 26]) |
                                     static_cast<std::uint8_t>(tail_[at + 27]) << 8);
        if (length == name.size() && tail_.compare(at + 30, length, name) == 0) {
            if (next_ > 0) line_.ItemDone(static_cast<std::int64_t>(entries_[next_ - 1].size));
            ++next_;
        }
        at += 4;
    }
    if (tail_.size() > keep_) tail_.erase(0, tail_.size() - keep_);
}

} // namespace klv::klvpack
