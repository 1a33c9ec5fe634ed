#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_stream.h"

namespace klv::zip {

// A seekable byte stream: the archive, an extraction target, memory or nothing.
class TZAStream {
  public:
    virtual ~TZAStream() = default;
    // Returns the bytes read (fewer at the end); a system failure raises.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Returns the bytes written; fewer means the medium is full or failed.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual void Seek(std::int64_t position) = 0;
    virtual std::int64_t Position() const = 0;
    virtual std::int64_t Size() const = 0;
    virtual void SetSize(std::int64_t size) = 0;

    // Reads exactly `count` bytes at `position`; false when the stream holds fewer.
    bool ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
        if (position < 0 || count < 0) return false;
        Seek(position);
        return Read(buffer, count) == count;
    }
};

// A file opened by name with a mode (see platform::FileStream); raises EFileStreamError when
// the file cannot be opened or created.
class TZAFileStream final : public TZAStream {
  public:
    TZAFileStream(const std::u16string& fileName, std::uint16_t mode);
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void Seek(std::int64_t position) override { file_->Seek(position); }
    std::int64_t Position() const override { return file_->Position(); }
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override;
    bool Flush() { return file_->Flush(); }
    const std::u16string& FileName() const { return fileName_; }
    // Makes the stream end at `size` (when the file is longer): reads stop there.
    void LimitSize(std::int64_t size);

  private:
    std::unique_ptr<platform::FileStream> file_;
    std::u16string fileName_;
    std::int64_t size_;
    bool limited_ = false;
};

class TZAMemoryStream final : public TZAStream {
  public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void Seek(std::int64_t position) override { pos_ = position; }
    std::int64_t Position() const override { return pos_; }
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t size) override { data_.resize(static_cast<std::size_t>(size)); }
    std::vector<std::uint8_t>& Data() { return data_; }

  private:
    std::vector<std::uint8_t> data_;
    std::int64_t pos_ = 0;
};

// Discards writes, returns the requested count on read, 0 on seek, ignores size changes.
class TZANullStream final : public TZAStream {
  public:
    std::int64_t Read(void*, std::int64_t count) override { return count; }
    std::int64_t Write(const void*, std::int64_t count) override { return count; }
    void Seek(std::int64_t) override {}
    std::int64_t Position() const override { return 0; }
    std::int64_t Size() const override { return 0; }
    void SetSize(std::int64_t) override {}
};
using TNullStream = TZANullStream;

} // namespace klv::zip
