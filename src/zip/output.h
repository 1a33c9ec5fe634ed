// Where an entry's checked bytes go: a stream (memory, nothing, a caller's), a file being
// written, or the write-behind thread; and the new file that replaces its target only when
// complete.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/disk.h"
#include "zip/streams.h"
#include "zip/write_behind.h"

namespace klv::zip {

// The size of the inflate blocks an output may take whole (TZAOutput::TakeBlock).
inline constexpr std::size_t kOutputBlockSize = 1 << 20;

class TZAOutput {
  public:
    // Asked when the medium took less than it was given (a full disk): true to write the same
    // bytes again, false to stop. Without one, a short write stops.
    using ShortWriteHandler = std::function<bool()>;

    virtual ~TZAOutput() = default;
    void OnShortWrite(ShortWriteHandler handler) { onShortWrite_ = std::move(handler); }

    // Writes all `count` bytes, asking the handler after each short write; false when stopped.
    bool Put(const std::uint8_t* data, std::int64_t count);
    // Takes a whole block of kOutputBlockSize bytes' room without copying it, putting a free
    // one in its place; false (nothing taken) when it must go through Put.
    virtual bool TakeBlock(std::unique_ptr<std::uint8_t[]>& block, std::size_t length);
    // Waits until everything accepted is on the medium, asking the handler after a short
    // write; false when stopped.
    bool Finish();

  protected:
    // One attempt: true when the medium took every byte.
    virtual bool Write(const std::uint8_t* data, std::int64_t count) = 0;
    // Makes the next Write start where the last one that came up short began.
    virtual void Rewind() = 0;
    // Writes what is held; false after a short write. Retry writes the held data again.
    virtual bool Drain() { return true; }
    virtual void RetryDrain() {}

  private:
    bool ShortWrite() { return onShortWrite_ && onShortWrite_(); }
    ShortWriteHandler onShortWrite_;
};

// Any stream: each Put goes to the stream at once.
class TZAStreamOutput final : public TZAOutput {
  public:
    explicit TZAStreamOutput(TZAStream& stream) : stream_(stream) {}

  protected:
    bool Write(const std::uint8_t* data, std::int64_t count) override;
    void Rewind() override { stream_.Seek(start_); }

  private:
    TZAStream& stream_;
    std::int64_t start_ = 0;
};

// A file being written, directly. A write that comes up short leaves the position where it
// began, so the same bytes go there again.
class TZAFileOutput final : public TZAOutput {
  public:
    explicit TZAFileOutput(platform::DiskFile& file) : file_(file) {}

  protected:
    bool Write(const std::uint8_t* data, std::int64_t count) override;
    void Rewind() override {}

  private:
    platform::DiskFile& file_;
    std::int64_t position_ = 0;
};

// A file written by the write-behind thread while the next blocks are inflated.
class TZAWriteBehindOutput final : public TZAOutput {
  public:
    TZAWriteBehindOutput(TZAWriteBehind& writer, platform::DiskFile& file)
        : stream_(writer, file) {}
    bool TakeBlock(std::unique_ptr<std::uint8_t[]>& block, std::size_t length) override {
        return stream_.TakeBlock(block, length);
    }

  protected:
    bool Write(const std::uint8_t* data, std::int64_t count) override;
    void Rewind() override { stream_.Seek(start_); }
    bool Drain() override { return stream_.Drain(); }
    void RetryDrain() override { stream_.Retry(); }

  private:
    TZAWriteBehindStream stream_;
    std::int64_t start_ = 0;
};

// A new file beside its target, removed unless it was moved over the target.
class TZAPendingFile {
  public:
    // A new file named after the target (".klvNN~").
    TZAPendingFile(platform::Disk& disk, const std::u16string& target);
    // A target that did not exist is written in place: there is nothing to keep safe.
    TZAPendingFile(platform::Disk& disk, const std::u16string& target,
                   std::unique_ptr<platform::DiskFile> file);
    ~TZAPendingFile();
    TZAPendingFile(const TZAPendingFile&) = delete;
    TZAPendingFile& operator=(const TZAPendingFile&) = delete;

    bool Created();
    bool InPlace() const { return inPlace_; }
    platform::DiskFile& File() { return *file_; }
    // The file, written in place and complete, handed on open (to be flushed and closed).
    std::unique_ptr<platform::DiskFile> Release();
    void Close() { file_.reset(); }
    bool MoveOver(const std::u16string& target);
    // How the last creation or move of the file went.
    const platform::DiskStatus& Status() const { return status_; }

  private:
    platform::Disk& disk_;
    std::u16string name_;
    std::unique_ptr<platform::DiskFile> file_;
    bool created_ = false;
    bool kept_ = false;
    bool inPlace_ = false;
    platform::DiskStatus status_;
};

} // namespace klv::zip
