// The payload read with the archive engine: the running executable opened as a ZIP archive.
#include <algorithm>

#include "app/payload.h"
#include "app/staged_install.h"
#include "platform/disk.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/tree_files.h"
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

// The folders awaiting recovery, one a line (UTF-8), in the temporary folder: each run adds
// its own line before it may change its folder and removes it when nothing is left to finish.
class PendingList {
  public:
    static std::vector<std::u16string> Read() {
        std::vector<std::u16string> folders;
        const std::string text = ReadFile(Path());
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            if (end > start) {
                const std::u16string folder =
                    platform::Utf8ToUtf16(std::string_view(text).substr(start, end - start));
                if (IsAbsoluteFolder(folder) && !Contains(folders, folder))
                    folders.push_back(folder);
            }
            start = end + 1;
        }
        return folders;
    }
    static void Add(const std::u16string& folder) {
        std::vector<std::u16string> folders = Read();
        if (Contains(folders, folder)) return;
        folders.push_back(folder);
        Write(folders);
    }
    static void Remove(const std::u16string& folder) {
        std::vector<std::u16string> folders = Read();
        std::erase_if(folders, [&](const std::u16string& f) { return Same(f, folder); });
        Write(folders);
    }
    // Empty when the file cannot be opened.
    static std::string ReadFile(const std::u16string& path) {
        std::string bytes;
        int error = 0;
        platform::ReadWholeFile(path, bytes, error);
        return bytes;
    }

  private:
    static std::u16string Path() { return platform::TempDirectory() + u"klvupgrade.pending"; }
    static bool Same(const std::u16string& a, const std::u16string& b) {
        return platform::UpperCase(a) == platform::UpperCase(b);
    }
    static bool Contains(const std::vector<std::u16string>& folders, const std::u16string& f) {
        return std::any_of(folders.begin(), folders.end(),
                           [&](const std::u16string& g) { return Same(f, g); });
    }
    // "X:\..." or "\\server\share\..." (on Linux "/..."), ending with a separator.
    static bool IsAbsoluteFolder(const std::u16string& f) {
        if (f.empty() || (f.back() != u'\\' && f.back() != u'/')) return false;
        const bool drive = f.size() >= 3 && ((f[0] | 0x20) >= u'a' && (f[0] | 0x20) <= u'z') &&
                           f[1] == u':' && (f[2] == u'\\' || f[2] == u'/');
        const bool share = f.size() > 2 && f[0] == u'\\' && f[1] == u'\\';
        return drive || share || f[0] == u'/';
    }
    // The whole list replaced at once: written beside it, then moved over it.
    static void Write(const std::vector<std::u16string>& folders) {
        if (folders.empty()) {
            platform::RemoveFile(Path());
            return;
        }
        std::string text;
        for (const std::u16string& folder : folders)
            text += platform::Utf16ToUtf8(folder) + "\n";
        const std::u16string fresh = Path() + u".new";
        {
            int error = 0;
            auto file = platform::FileStream::Open(fresh, platform::fmCreate, error);
            if (!file) return;
            const auto size = static_cast<std::int64_t>(text.size());
            if (file->Write(text.data(), size) != size || !file->Flush()) {
                file.reset();
                platform::RemoveFile(fresh);
                return;
            }
        }
        if (!platform::MoveReplacing(fresh, Path())) platform::RemoveFile(fresh);
    }
};

class ZipPayload final : public Payload {
  public:
    explicit ZipPayload(const std::string& executablePath)
        : executable_(platform::AnsiToUtf16(executablePath)) {}

    ~ZipPayload() override {
        // The configuration files served the window; nothing of the run stays in the
        // temporary folder.
        for (auto it = extracted_.rbegin(); it != extracted_.rend(); ++it) {
            if (it->back() == u'\\')
                platform::RemoveEmptyFolder(*it);
            else
                platform::RemoveFile(*it);
        }
    }

    bool Claim() override {
        claim_ = platform::ClaimInstaller();
        return claim_ != nullptr;
    }

    bool ExtractConfiguration(const std::string& folder) override {
        Prepare(folder);
        OpenArchive open(archive_, false);
        zip::TZAArchiveItem item;
        if (!archive_.FindFirstItem(u"*stub.ini", item, {}, kAllItems)) return false;
        // Remembered before they are written, so that a failure part-way leaves none behind.
        const std::u16string base = platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
        bool encrypted = false;
        for (bool found = archive_.FindFirstItem(u"*Stub.*", item, {}, kAllItems); found;
             found = archive_.FindNextItem(item)) {
            encrypted = encrypted || item.Encrypted;
            std::u16string path = platform::WithSeparators(item.FolderPath);
            if (!path.empty() && path.back() != u'\\') path += u'\\';
            for (std::size_t at = path.find(u'\\'); at != std::u16string::npos;
                 at = path.find(u'\\', at + 1))
                if (!platform::DirectoryExists(base + path.substr(0, at + 1)))
                    extracted_.push_back(base + path.substr(0, at + 1));
            extracted_.push_back(base + path + item.FileName);
        }
        // No question of the engine's own (a password, retry or ignore) reaches the user: a
        // configuration that does not read is a damaged package.
        if (encrypted) throw zip::EZAException(zip::neInvalidPassword, nullptr);
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
        return PendingList::ReadFile(platform::AnsiToUtf16(path));
    }

    bool Verify(const std::string& folder) override {
        Prepare(folder);
        try {
            OpenArchive open(archive_, true);
            const zip::TZADirManager* dir = archive_.DirManager();
            if (!dir || dir->Rebuilt) return false;
            // An encrypted item would ask for a password part-way: the package is refused.
            for (std::int32_t i = 0; i < dir->Directory.Count(); ++i)
                if (dir->Directory.Item(i).Encrypted()) return false;
            return true;
        } catch (const zip::EZAError&) {
            return false;
        }
    }

    InstallOutcome Install(const std::string& folder, const std::string& programFile) override {
        Prepare(folder);
        // While the run may change the folder, the temporary folder remembers where it is, so
        // that the next run of any package can undo a run that was cut off.
        const std::u16string target = platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
        PendingList::Add(target);
        InstallOutcome outcome;
        try {
            outcome =
                InstallPayload(archive_, executable_, target, platform::AnsiToUtf16(programFile));
        } catch (...) {
            Settle(target);
            throw;
        }
        Settle(target);
        return outcome;
    }

    std::vector<EarlierRun> RecoverInterruptedRuns(const std::string& folder) override {
        std::vector<std::u16string> folders = PendingList::Read();
        std::vector<EarlierRun> found;
        auto recover = [&](const std::u16string& f) {
            const RecoveryResult result = RecoverInterruptedRun(f, false);
            if (!BlocksInstallation(result)) PendingList::Remove(f);
            if (result != RecoveryResult::Nothing)
                found.push_back({platform::Utf16ToAnsi(f), result});
        };
        for (const std::u16string& f : folders)
            recover(f);
        if (!folder.empty()) {
            const std::u16string own = platform::AnsiToUtf16(util::WithTrailingBackslash(folder));
            if (std::none_of(folders.begin(), folders.end(), [&](const std::u16string& f) {
                    return platform::UpperCase(f) == platform::UpperCase(own);
                }))
                recover(own);
        }
        return found;
    }

  private:
    // The folder's line goes when the run left nothing to finish.
    static void Settle(const std::u16string& target) {
        if (!platform::FileExists(target + JournalFileName)) PendingList::Remove(target);
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
    std::unique_ptr<platform::InstallerClaim> claim_;
    std::vector<std::u16string> extracted_; // files, and folders (with a trailing '\\')
};

} // namespace

std::unique_ptr<Payload> NewZipPayload(const std::string& executablePath) {
    return std::make_unique<ZipPayload>(executablePath);
}

} // namespace klv::app
