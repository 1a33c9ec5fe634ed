// The window logic's ANSI file service: the narrow view of the system's disk and wide file
// functions.
#include <windows.h>

#include <string>

#include "platform/disk.h"
#include "platform/text.h"
#include "platform/win32/open_handle.h"
#include "platform/win32/real_services.h"
#include "platform/win32/wide_path.h"

namespace klv::platform::win32 {

namespace {

// The window logic's names are ANSI; the system is asked in UTF-16, through the disk where the
// disk has the question or the change.
std::wstring W(std::string_view ansi) {
    return WidePath(AnsiToUtf16(ansi));
}

class FindHandle final : public DirectorySearch {
  public:
    FindHandle(HANDLE handle, const WIN32_FIND_DATAW& first)
        : handle_(handle), data_(first), pending_(true) {}
    ~FindHandle() override { FindClose(handle_); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    bool Next(FileEntry& entry) override {
        for (;;) {
            if (!pending_ && !FindNextFileW(handle_, &data_)) return false;
            pending_ = false;
            const std::wstring_view name = data_.cFileName;
            if (name == L"." || name == L"..") continue;
            entry.name = Utf16ToAnsi(std::u16string(name.begin(), name.end()));
            entry.attributes = data_.dwFileAttributes;
            entry.size = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow);
            return true;
        }
    }

  private:
    HANDLE handle_;
    WIN32_FIND_DATAW data_;
    bool pending_;
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
        const std::u16string p = AnsiToUtf16(path);
        const std::wstring wide(p.begin(), p.end());
        std::wstring buffer(MAX_PATH, L'\0');
        for (;;) {
            DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()),
                                       buffer.data(), nullptr);
            if (n == 0) return std::string(path);
            if (n < buffer.size())
                return Utf16ToAnsi(std::u16string(buffer.begin(), buffer.begin() + n));
            buffer.assign(n + 1, L'\0');
        }
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
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW(W(pattern).c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<FindHandle>(h, data);
    }

    bool CanWriteIn(std::string_view folder) override {
        std::string probe(folder);
        if (!probe.empty() && probe.back() != '\\') probe += '\\';
        probe += "~klvupgrade-" + std::to_string(GetCurrentProcessId()) + ".tmp";
        return OpenAndClose(probe, 0, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
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
