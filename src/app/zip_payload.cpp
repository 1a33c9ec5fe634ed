// The payload read with the archive engine: the running executable opened as a ZIP archive.
#include <algorithm>
#include <memory>
#include <optional>

#include "app/payload.h"
#include "app/staged_install.h"
#include "app/stubconf/config_files.h"
#include "app/unattended.h"
#include "platform/disk.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "util/filez.h"
#include "zip/archiver.h"
#include "zip/errors.h"

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

    ~ZipPayload() override {
        Settle();
        // The configuration files served the window; nothing of the run stays in the
        // temporary folder.
        for (auto it = extracted_.rbegin(); it != extracted_.rend(); ++it) {
            if (it->back() == u'\\')
                disk_.RemoveFolder(*it);
            else
                disk_.RemoveFile(*it);
        }
    }

    bool Claim() override { return ClaimRun(); }

    bool ExtractConfiguration(const std::string& folder) override {
        Prepare(folder);
        OpenArchive open(archive_, false);
        zip::TZAArchiveItem item;
        if (!archive_.FindFirstItem(u"*stub.ini", item, {}, kAllItems)) return false;
        // Remembered before they are written, so that a failure part-way leaves none behind.
        const std::u16string base = platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
        bool encrypted = false, tooLarge = false;
        for (bool found = archive_.FindFirstItem(u"*Stub.*", item, {}, kAllItems); found;
             found = archive_.FindNextItem(item)) {
            encrypted = encrypted || item.Encrypted;
            // Bounded before a byte is written: the engine never writes more than declared.
            tooLarge = tooLarge || item.UnpackedSize < 0 ||
                       static_cast<std::uint64_t>(item.UnpackedSize) >
                           stubconf::ConfigFileLimit(item.FileName);
            std::u16string path = platform::WithSeparators(item.FolderPath);
            if (!path.empty() && path.back() != u'\\') path += u'\\';
            for (std::size_t at = path.find(u'\\'); at != std::u16string::npos;
                 at = path.find(u'\\', at + 1))
                if (!disk_.IsFolder(base + path.substr(0, at + 1)))
                    extracted_.push_back(base + path.substr(0, at + 1));
            extracted_.push_back(base + path + item.FileName);
        }
        // No question of the engine's own (a password, retry or ignore) reaches the user: a
        // configuration that does not read is a damaged package.
        if (encrypted) throw zip::EZAException(zip::neInvalidPassword, nullptr);
        if (tooLarge) throw zip::EZAException(zip::neNotIntact, nullptr);
        int failure = 0;
        archive_.OnProcessFileFailure = [&](zip::TZABaseArchiver&, const std::u16string&,
                                            zip::TZAProcessOperation, int nativeError, int,
                                            const std::u16string&, zip::TZAAction& action) {
            if (failure == 0) failure = nativeError ? nativeError : zip::neNotIntact;
            action = zip::TZAAction::fxaAbort;
        };
        struct Unhook {
            zip::TZipArchive& a;
            ~Unhook() { a.OnProcessFileFailure = nullptr; }
        } unhook{archive_};
        archive_.ExtractMatching(u"*Stub.*", kAllItems, {});
        if (failure != 0) throw zip::EZAException(failure, nullptr);
        return true;
    }

    std::string ReadConfiguration(const std::string& path) override {
        std::string bytes;
        disk_.Read(platform::AnsiToUtf16(path), bytes);
        return bytes;
    }

    InstallOutcome Check(const std::string& folder) override {
        Prepare(folder);
        opened_.reset();
        opened_ = std::make_unique<OpenedPayload>(archive_, executable_);
        InstallOutcome check = opened_->Check();
        if (check.kind != InstallOutcome::Ok) opened_.reset();
        return check;
    }

    std::vector<std::string> Files() override {
        std::vector<std::string> files;
        if (opened_)
            for (const PayloadItem& item : opened_->Items())
                if (!item.folder) files.push_back(platform::Utf16ToAnsi(item.name));
        return files;
    }

    InstallOutcome Install(const std::string& folder, const std::string& programFile,
                           const RecoveryTrust& trust) override {
        if (!opened_) {
            // Install without a sound Check: the payload is checked here.
            if (InstallOutcome check = Check(folder); check.kind != InstallOutcome::Ok)
                return check;
        }
        installed_ = std::move(opened_);
        // While the run may change the folder, the temporary folder remembers where it is, so
        // that the next run of any package can undo a run that was cut off. An elevated run
        // leaves the note alone (it lies where a standard user may write): its folder is
        // recovered by the next run into it.
        const std::u16string target = platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
        if (!trust.elevated) {
            RecordPendingRun(target);
            noted_ = target;
        }
        // The old files' removal goes on beside the shortcuts and the last question; the
        // folder leaves the note once it is done (at the latest when this payload goes).
        InstallOutcome outcome =
            installed_->Install(target, platform::AnsiToUtf16(programFile), platform::SystemDisk(),
                                trust, OpenedPayload::Finishing::Aside);
        if (outcome.kind != InstallOutcome::Ok) Settle();
        return outcome;
    }

    void Settle() override {
        installed_.reset(); // waits for the removal; closes the archive
        if (noted_) SettlePendingRun(*noted_);
        noted_.reset();
    }

    std::vector<EarlierRun> RecoverInterruptedRuns(const std::string& folder,
                                                   const RecoveryTrust& trust) override {
        const std::u16string own = folder.empty()
                                       ? std::u16string()
                                       : platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
        std::vector<EarlierRun> found;
        for (const RecoveredFolder& earlier : RecoverEarlierRuns(own, true, trust))
            found.push_back({platform::Utf16ToAnsi(earlier.folder), earlier.result});
        return found;
    }

  private:
    void Prepare(const std::string& folder) {
        archive_.Options.OverwriteMode = zip::TZAOverwriteMode::omAlways;
        archive_.FileName = executable_;
        archive_.BaseDir = platform::AnsiToUtf16(folder);
        // A signed package carries its certificate table behind the archive: the archive is
        // read from the part of the file the signature covers.
        archive_.SignedView = true;
    }

    platform::Disk& disk_ = platform::SystemDisk(); // the temporary folder's, outside the run
    std::u16string executable_;
    zip::TZipArchive archive_;
    std::unique_ptr<OpenedPayload> opened_;    // from Check to Install
    std::unique_ptr<OpenedPayload> installed_; // from Install to Settle
    std::optional<std::u16string> noted_;      // the folder on the note of pending runs
    std::vector<std::u16string> extracted_;    // files, and folders (with a trailing '\\')
};

} // namespace

std::unique_ptr<Payload> NewZipPayload(const std::string& executablePath) {
    return std::make_unique<ZipPayload>(executablePath);
}

} // namespace klv::app
