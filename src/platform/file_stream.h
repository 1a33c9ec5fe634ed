#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace klv::platform {

// File-open modes: an access part and a share part, or fmCreate.
enum : std::uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFFFF,
};

// A file opened with a mode. Reads and writes go to the stream's own position; the position
// is kept here, so seeking costs no system call.
class FileStream {
  public:
    // Opens an existing file, or creates (truncates) one with fmCreate. On failure returns
    // null and sets `error` to the system's error code.
    static std::unique_ptr<FileStream> Open(const std::u16string& path, std::uint16_t mode,
                                            int& error);
    // Creates a file that must not exist yet; null (and `error`) when it does or cannot be made.
    static std::unique_ptr<FileStream> CreateNew(const std::u16string& path, int& error);
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Returns the bytes read (0 at the end), or -1 on a system error.
    std::int64_t Read(void* buffer, std::int64_t count);
    // Returns the bytes written, or -1 on a system error (last error in LastError()).
    std::int64_t Write(const void* buffer, std::int64_t count);
    void Seek(std::int64_t position) { position_ = position; }
    std::int64_t Position() const { return position_; }
    std::int64_t Size() const;
    bool SetSize(std::int64_t size);
    bool Flush();
    // Sets the last-write time from a DOS stamp (date << 16 | time) read as local time.
    bool SetDosStamp(std::uint32_t stamp);
    // Gives a file this stream created the Windows attribute bits (on Linux: read-only only).
    bool SetAttributes(std::uint32_t attributes);
    int LastError() const { return lastError_; }

  private:
    explicit FileStream(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
    std::int64_t position_ = 0;
    int lastError_ = 0;
};

// Appends the whole file at `path` to `data`, opened for reading with every share allowed;
// reading ends at the file's end or at the first failed read. False, with the system's error
// code in `error`, when the file cannot be opened.
bool ReadWholeFile(const std::u16string& path, std::string& data, int& error);

// The system's text for an error code, in the ANSI code page.
std::string SystemErrorText(int error);
// A short English name for the common error codes, the same on every machine ("sharing
// violation" for Windows's 32): for logs that a help desk reads; empty for 0 and the others.
std::string SystemErrorName(int error);

} // namespace klv::platform
