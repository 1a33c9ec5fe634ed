#include "platform/file_stream.h"

#include <windows.h>

#include <utility>

#include "platform/win32/open_handle.h"
#include "platform/win32/wide_path.h"

namespace klv::platform {

namespace {
HANDLE H(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

using win32::WidePath;
} // namespace

HANDLE win32::OpenHandle(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
                         DWORD flags) {
    return CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

std::unique_ptr<FileStream> FileStream::Open(const std::u16string& path, std::uint16_t mode,
                                             int& error) {
    DWORD access = 0, share = 0, disposition = OPEN_EXISTING;
    if (mode == fmCreate) {
        access = GENERIC_READ | GENERIC_WRITE;
        share = FILE_SHARE_READ;
        disposition = CREATE_ALWAYS;
    } else {
        switch (mode & 0x3) {
        case fmOpenWrite:
            access = GENERIC_WRITE;
            break;
        case fmOpenReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            access = GENERIC_READ;
            break;
        }
        switch (mode & 0xF0) {
        case fmShareExclusive:
            share = 0;
            break;
        case fmShareDenyWrite:
            share = FILE_SHARE_READ;
            break;
        case fmShareDenyRead:
            share = FILE_SHARE_WRITE;
            break;
        case fmShareDenyNone:
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            break;
        default:
            share = 0;
            break; // compatibility mode behaves as exclusive
        }
    }
    HANDLE h = win32::OpenHandle(path, access, share, disposition);
    if (h == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<FileStream>(new FileStream(reinterpret_cast<std::intptr_t>(h)));
}

std::unique_ptr<FileStream> FileStream::CreateNew(const std::u16string& path, int& error) {
    HANDLE h = win32::OpenHandle(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<FileStream>(new FileStream(reinterpret_cast<std::intptr_t>(h)));
}

namespace {
// Reads and writes go in pieces of at most 1 GiB, each at an explicit file position: the
// handle's own pointer is set first (a handle is used by one thread at a time). No OVERLAPPED
// position: Wine then asks its server to queue a completion on every call. `io` moves one
// piece and answers false on an error (-1); a piece that moves nothing ends early.
template <class Io>
std::int64_t InPieces(HANDLE handle, std::int64_t count, std::int64_t& position, Io io) {
    std::int64_t done = 0;
    while (done < count) {
        LARGE_INTEGER at{};
        at.QuadPart = position;
        DWORD moved = 0;
        if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) ||
            !io(done, static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30)), moved))
            return -1;
        if (moved == 0) break;
        done += moved;
        position += moved;
    }
    return done;
}
} // namespace

FileStream::~FileStream() {
    CloseHandle(H(handle_));
}

std::int64_t FileStream::Read(void* buffer, std::int64_t count) {
    auto* out = static_cast<char*>(buffer);
    const std::int64_t done =
        InPieces(H(handle_), count, position_, [&](std::int64_t at, DWORD piece, DWORD& moved) {
            return ReadFile(H(handle_), out + at, piece, &moved, nullptr) != 0;
        });
    if (done < 0) lastError_ = static_cast<int>(GetLastError());
    return done;
}

std::int64_t FileStream::Write(const void* buffer, std::int64_t count) {
    const auto* in = static_cast<const char*>(buffer);
    const std::int64_t done =
        InPieces(H(handle_), count, position_, [&](std::int64_t at, DWORD piece, DWORD& moved) {
            return WriteFile(H(handle_), in + at, piece, &moved, nullptr) != 0;
        });
    if (done < 0) lastError_ = static_cast<int>(GetLastError());
    return done;
}

std::int64_t FileStream::Size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(H(handle_), &size)) return -1;
    return size.QuadPart;
}

bool FileStream::SetSize(std::int64_t size) {
    LARGE_INTEGER pos{};
    pos.QuadPart = size;
    if (!SetFilePointerEx(H(handle_), pos, nullptr, FILE_BEGIN) || !SetEndOfFile(H(handle_))) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

bool FileStream::Flush() {
    if (!FlushFileBuffers(H(handle_))) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

bool FileStream::SetDosStamp(std::uint32_t stamp) {
    FILETIME local{}, utc{};
    if (!DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp), &local) ||
        !LocalFileTimeToFileTime(&local, &utc) ||
        !SetFileTime(H(handle_), nullptr, nullptr, &utc)) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

bool FileStream::SetAttributes(std::uint32_t attributes) {
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(H(handle_), FileBasicInfo, &info, sizeof info)) return false;
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(H(handle_), FileBasicInfo, &info, sizeof info) != 0;
}

std::string SystemErrorText(int error) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string out = n ? std::string(text, n) : "System error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::string SystemErrorName(int error) {
    static constexpr std::pair<int, const char*> kNames[] = {
        {ERROR_FILE_NOT_FOUND, "file not found"},
        {ERROR_PATH_NOT_FOUND, "path not found"},
        {ERROR_TOO_MANY_OPEN_FILES, "too many open files"},
        {ERROR_ACCESS_DENIED, "access denied"},
        {ERROR_INVALID_HANDLE, "invalid handle"},
        {ERROR_NOT_ENOUGH_MEMORY, "not enough memory"},
        {ERROR_OUTOFMEMORY, "out of memory"},
        {ERROR_WRITE_PROTECT, "write protected"},
        {ERROR_NOT_READY, "device not ready"},
        {ERROR_CRC, "data error (CRC)"},
        {ERROR_WRITE_FAULT, "write fault"},
        {ERROR_READ_FAULT, "read fault"},
        {ERROR_SHARING_VIOLATION, "sharing violation"},
        {ERROR_LOCK_VIOLATION, "lock violation"},
        {ERROR_HANDLE_DISK_FULL, "disk full"},
        {ERROR_NOT_SUPPORTED, "not supported"},
        {ERROR_FILE_EXISTS, "file exists"},
        {ERROR_INVALID_PARAMETER, "invalid parameter"},
        {ERROR_DISK_FULL, "disk full"},
        {ERROR_INVALID_NAME, "invalid name"},
        {ERROR_DIR_NOT_EMPTY, "directory not empty"},
        {ERROR_ALREADY_EXISTS, "already exists"},
        {ERROR_FILENAME_EXCED_RANGE, "file name too long"},
        {225, "virus found"},        // ERROR_VIRUS_INFECTED
        {740, "elevation required"}, // ERROR_ELEVATION_REQUIRED
        {ERROR_IO_DEVICE, "I/O device error"},
        {ERROR_USER_MAPPED_FILE, "file mapped by a program"},
        {ERROR_PRIVILEGE_NOT_HELD, "privilege not held"},
        {ERROR_FILE_CORRUPT, "file or directory corrupted"},
        {ERROR_DISK_CORRUPT, "disk corrupted"},
        {ERROR_NO_SYSTEM_RESOURCES, "insufficient system resources"},
        {ERROR_CANT_ACCESS_FILE, "file cannot be accessed"},
    };
    for (const auto& [code, name] : kNames)
        if (code == error) return name;
    return {};
}

} // namespace klv::platform
