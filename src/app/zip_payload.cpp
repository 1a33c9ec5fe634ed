// The payload read with the archive engine: the running executable opened as a ZIP archive.
#include "app/payload.h"
#include "app/staged_install.h"
#include "util/filez.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "zip/archiver.h"

namespace klv::app {

namespace {

constexpr std::uint32_t kAllItems = zip::kDefaultSearchAttr;

// Open from construction to destruction, so the archive is closed on every way out.
class OpenArchive {
  public:
    OpenArchive(zip::TZipArchive& archive, bool shareRead) : archive_(archive) {
        if (shareRead)
            archive_.Open(zip::kOpenModeShareRead);
        else
            archive_.Open();
    }
    ~OpenArchive() {
        try {
            archive_.Close();
        } catch (...) {
            // Closing a read-only archive has nothing to lose.
        }
    }
    OpenArchive(const OpenArchive&) = delete;
    OpenArchive& operator=(const OpenArchive&) = delete;

  private:
    zip::TZipArchive& archive_;
};

class ZipPayload final : public Payload {
  public:
    explicit ZipPayload(const std::string& executablePath)
        : executable_(platform::AnsiToUtf16(executablePath)) {}

    bool ExtractConfiguration(const std::string& folder) override {
        Prepare(folder);
        OpenArchive open(archive_, false);
        zip::TZAArchiveItem item;
        if (!archive_.FindFirstItem(u"*stub.ini", item, {}, kAllItems)) return false;
        archive_.ExtractMatching(u"*Stub.*", kAllItems, {});
        return true;
    }

    std::string ReadConfiguration(const std::string& path) override {
        int error = 0;
        auto file = platform::FileStream::Open(
            platform::AnsiToUtf16(path), platform::fmOpenRead | platform::fmShareDenyNone, error);
        if (!file) return {};
        std::string bytes;
        char buffer[4096];
        for (std::int64_t n; (n = file->Read(buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, static_cast<std::size_t>(n));
        return bytes;
    }

    bool Verify(const std::string& folder) override {
        Prepare(folder);
        try {
            OpenArchive open(archive_, true);
            const zip::TZADirManager* dir = archive_.DirManager();
            return dir && !dir->Rebuilt;
        } catch (const zip::EZAError&) {
            return false;
        }
    }

    InstallOutcome Install(const std::string& folder, const std::string& programFile) override {
        Prepare(folder);
        return InstallPayload(archive_, executable_,
                              platform::AnsiToUtf16(util::WithTrailingBackslash(folder)),
                              platform::AnsiToUtf16(programFile));
    }

  private:
    void Prepare(const std::string& folder) {
        archive_.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
        archive_.FileName = executable_;
        archive_.BaseDir = platform::AnsiToUtf16(folder);
    }

    std::u16string executable_;
    zip::TZipArchive archive_;
};

} // namespace

std::unique_ptr<Payload> NewZipPayload(const std::string& executablePath) {
    return std::make_unique<ZipPayload>(executablePath);
}

} // namespace klv::app
