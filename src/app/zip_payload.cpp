// The payload read with the archive engine: the running executable opened as a ZIP archive.
#include "app/payload.h"
#include "app/staged_install.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/tree_files.h"
#include "util/filez.h"
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
        // While the run may change the folder, the temporary folder remembers where it is, so
        // that the next run of any package can undo a run that was cut off.
        const std::u16string target = platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
        WritePending(target);
        const InstallOutcome outcome =
            InstallPayload(archive_, executable_, target, platform::AnsiToUtf16(programFile));
        if (outcome.kind != InstallOutcome::NotRestored) platform::RemoveFile(PendingFile());
        return outcome;
    }

    RecoveryResult RecoverInterruptedRuns(const std::string& folder) override {
        std::vector<std::u16string> folders;
        const std::string pending = ReadConfiguration(platform::Utf16ToAnsi(PendingFile()));
        for (std::size_t start = 0; start < pending.size();) {
            std::size_t end = pending.find('\n', start);
            if (end == std::string::npos) end = pending.size();
            if (end > start)
                folders.push_back(platform::Utf8ToUtf16(pending.substr(start, end - start)));
            start = end + 1;
        }
        if (!folder.empty())
            folders.push_back(platform::AnsiToUtf16(util::WithTrailingBackslash(folder)));
        RecoveryResult result = RecoveryResult::Nothing;
        for (const std::u16string& f : folders) {
            const RecoveryResult r = RecoverInterruptedRun(f);
            if (r == RecoveryResult::Incomplete || result == RecoveryResult::Nothing) result = r;
        }
        if (result != RecoveryResult::Incomplete) platform::RemoveFile(PendingFile());
        return result;
    }

  private:
    static std::u16string PendingFile() {
        return platform::TempDirectory() + u"klvupgrade.pending";
    }

    static void WritePending(const std::u16string& folder) {
        int error = 0;
        auto file = platform::FileStream::Open(PendingFile(), platform::fmCreate, error);
        if (!file) return;
        const std::string line = platform::Utf16ToUtf8(folder) + "\n";
        file->Write(line.data(), static_cast<std::int64_t>(line.size()));
        file->Flush();
    }

    void Prepare(const std::string& folder) {
        archive_.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
        archive_.FileName = executable_;
        archive_.BaseDir = platform::AnsiToUtf16(folder);
        // A signed package carries its certificate table behind the archive: the archive is
        // read from the part of the file the signature covers.
        archive_.SignedView = true;
    }

    std::u16string executable_;
    zip::TZipArchive archive_;
};

} // namespace

std::unique_ptr<Payload> NewZipPayload(const std::string& executablePath) {
    return std::make_unique<ZipPayload>(executablePath);
}

} // namespace klv::app
