// The window logic's ANSI file service: the narrow view of the system's disk. Its names are
// ANSI; the disk is asked in UTF-16. Only what the disk does not offer (an empty file made or
// opened and closed again, the 8.3 name) asks the system itself.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/disk.h"
#include "platform/path_names.h"
#include "platform/text.h"
#include "platform/win32/open_handle.h"
#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

// The entries a disk search found, handed out one by one.
class FoundEntries final : public DirectorySearch {
  public:
    explicit FoundEntries(std::vector<FolderEntry> entries) : entries_(std::move(entries)) {}
    bool Next(FileEntry& entry) override {
        if (next_ >= entries_.size()) return false;
        const FolderEntry& found = entries_[next_++];
        entry = {Utf16ToAnsi(found.name), found.attributes, found.size};
        return true;
    }

  private:
    std::vector<FolderEntry> entries_;
    std::size_t next_ = 0;
};

// A file opened and closed again at once; false when it could not be opened.
bool OpenAndClose(std::string_view path, DWORD share, DWORD disposition, DWORD flags,
                  DWORD* error = nullptr) {
    HANDLE h = win32::OpenHandle(AnsiToUtf16(path), GENERIC_WRITE, share, disposition, flags);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return false;
    }
    CloseHandle(h);
    return true;
}

class RealFilesImpl final : public Files {
  public:
    std::string FullPath(std::string_view path) override {
        if (path.empty()) return {};
        return Utf16ToAnsi(SystemDisk().FullPath(AnsiToUtf16(path)));
    }

    bool FileExists(std::string_view path) override {
        return SystemDisk().IsFile(AnsiToUtf16(path));
    }

    bool FolderExists(std::string_view path) override {
        return SystemDisk().IsFolder(AnsiToUtf16(path));
    }

    bool SetAttributes(std::string_view path, std::uint32_t attributes) override {
        return SystemDisk().SetAttributes(AnsiToUtf16(path), attributes).ok();
    }

    std::unique_ptr<DirectorySearch> Search(std::string_view pattern) override {
        const std::u16string wide = AnsiToUtf16(pattern);
        const std::u16string_view mask = PathTail(wide, u"\\/");
        std::vector<FolderEntry> found =
            SystemDisk().Search(std::u16string(wide.substr(0, wide.size() - mask.size())), mask);
        if (found.empty()) return nullptr;
        return std::make_unique<FoundEntries>(std::move(found));
    }

    bool CanWriteIn(std::string_view folder) override {
        return SystemDisk().TakesNewFiles(AnsiToUtf16(folder));
    }

    CreateResult MakeFile(std::string_view path, bool replace) override {
        DWORD error = 0;
        if (OpenAndClose(path, 0, replace ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         &error))
            return CreateResult::Created;
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? CreateResult::AlreadyExists
                   : CreateResult::Failed;
    }

    bool OpenForWriting(std::string_view path) override {
        return OpenAndClose(path, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL);
    }

    bool RemoveFile(std::string_view path) override {
        return SystemDisk().RemoveFile(AnsiToUtf16(path)).ok();
    }

    std::string ShortName(std::string_view path) override {
        const std::u16string p = AnsiToUtf16(path);
        const std::wstring wide(p.begin(), p.end());
        wchar_t buffer[260] = {};
        DWORD n = GetShortPathNameW(wide.c_str(), buffer, 260);
        if (n == 0 || n >= 260) return {};
        const std::string name = Utf16ToAnsi(std::u16string(buffer, buffer + n));
        return name;
    }
};

} // namespace

Files& RealFiles() {
    static RealFilesImpl files;
    return files;
}

} // namespace klv::platform::win32
