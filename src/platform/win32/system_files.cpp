#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

class FindHandle final : public DirectorySearch {
  public:
    FindHandle(HANDLE handle, const WIN32_FIND_DATAA& first)
        : handle_(handle), data_(first), pending_(true) {}
    ~FindHandle() override { FindClose(handle_); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    bool Next(FileEntry& entry) override {
        for (;;) {
            if (!pending_ && !FindNextFileA(handle_, &data_)) return false;
            pending_ = false;
            std::string_view name = data_.cFileName;
            if (name == "." || name == "..") continue;
            entry.name = std::string(name);
            entry.attributes = data_.dwFileAttributes;
            entry.size = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow);
            return true;
        }
    }

  private:
    HANDLE handle_;
    WIN32_FIND_DATAA data_;
    bool pending_;
};

class RealFilesImpl final : public Files {
  public:
    std::string FullPath(std::string_view path) override {
        if (path.empty()) return {};
        std::string p(path);
        std::string buffer(MAX_PATH, '\0');
        for (;;) {
            DWORD n = GetFullPathNameA(p.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                                       nullptr);
            if (n == 0) return std::string(path);
            if (n < buffer.size()) {
                buffer.resize(n);
                return buffer;
            }
            buffer.assign(n + 1, '\0');
        }
    }

    // The ANSI names go to the engine's wide file functions: one implementation of each call.
    bool FileExists(std::string_view path) override {
        return platform::FileExists(AnsiToUtf16(path));
    }

    bool FolderExists(std::string_view path) override {
        return platform::DirectoryExists(AnsiToUtf16(path));
    }

    bool SetAttributes(std::string_view path, std::uint32_t attributes) override {
        return SetAttributesOf(AnsiToUtf16(path), attributes);
    }

    std::unique_ptr<DirectorySearch> Search(std::string_view pattern) override {
        std::string p(pattern);
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(p.c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<FindHandle>(h, data);
    }

    bool CanWriteIn(std::string_view folder) override {
        std::string probe(folder);
        if (!probe.empty() && probe.back() != '\\') probe += '\\';
        probe += "~klvupgrade-" + std::to_string(GetCurrentProcessId()) + ".tmp";
        HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }

    CreateResult MakeFile(std::string_view path, bool replace) override {
        std::string p(path);
        HANDLE h =
            CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, replace ? CREATE_ALWAYS : CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD e = GetLastError();
            return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? CreateResult::AlreadyExists
                                                                       : CreateResult::Failed;
        }
        CloseHandle(h);
        return CreateResult::Created;
    }

    bool OpenForWriting(std::string_view path) override {
        std::string p(path);
        HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }

    bool RemoveFile(std::string_view path) override {
        return platform::RemoveFile(AnsiToUtf16(path));
    }

    std::string ShortName(std::string_view path) override {
        std::string p(path);
        char buffer[260] = {};
        DWORD n = GetShortPathNameA(p.c_str(), buffer, sizeof buffer);
        if (n == 0 || n >= sizeof buffer) return {};
        return std::string(buffer, n);
    }
};

} // namespace

Files& RealFiles() {
    static RealFilesImpl files;
    return files;
}

} // namespace klv::platform::win32
