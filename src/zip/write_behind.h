// Writing extracted data on a second thread: the next block is inflated while the previous
// one goes to disk. Memory stays bounded by a small pool of buffers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_stream.h"
#include "zip/streams.h"

namespace klv::zip {

class TZAWriteBehindStream;

class TZAWriteBehind {
  public:
    static constexpr std::size_t kBufferSize = 1 << 20;
    static constexpr std::size_t kBuffers = 4;

    TZAWriteBehind();
    ~TZAWriteBehind();
    TZAWriteBehind(const TZAWriteBehind&) = delete;
    TZAWriteBehind& operator=(const TZAWriteBehind&) = delete;

  private:
    friend class TZAWriteBehindStream;
    struct Job {
        TZAWriteBehindStream* stream;
        std::int64_t offset;
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t length;
    };

    std::unique_ptr<std::uint8_t[]> TakeBuffer();
    void Submit(Job job);
    void Run();

    std::mutex lock_;
    std::condition_variable work_;    // a job is queued, or the writer is to stop
    std::condition_variable settled_; // a job is done or a buffer came back
    std::deque<Job> queue_;
    std::vector<std::unique_ptr<std::uint8_t[]>> free_;
    bool stop_ = false;
    std::thread thread_;
};

// The stream an item is decompressed into. Writes are accepted into buffers and written in
// order by the writer thread. A write that the file took short (a full disk) is reported at
// the next Write, which then takes nothing: the caller's disk-full handling decides, and a
// retry (Seek back to where the short write began, then Write) writes the held data again.
class TZAWriteBehindStream final : public TZAStream {
  public:
    TZAWriteBehindStream(TZAWriteBehind& writer, platform::FileStream& file);
    ~TZAWriteBehindStream() override;

    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void Seek(std::int64_t position) override;
    std::int64_t Position() const override { return position_; }
    std::int64_t Size() const override { return position_; }
    void SetSize(std::int64_t) override {}

    // Takes a whole block of kBufferSize bytes' room without copying it and puts a free one
    // in its place; false (nothing taken) when the block must go through Write instead.
    bool TakeBlock(std::unique_ptr<std::uint8_t[]>& block, std::size_t length);
    // Writes what is held and waits until the file has it all; false after a short write.
    bool Drain();
    // After a short write found by Drain: writes the held data again.
    void Retry();

  private:
    friend class TZAWriteBehind;
    void SubmitCurrent();
    void Resubmit();
    void WaitIdle(std::unique_lock<std::mutex>& lock);

    TZAWriteBehind& w_;
    platform::FileStream& file_;
    std::unique_ptr<std::uint8_t[]> current_;
    std::size_t currentLength_ = 0;
    std::int64_t currentOffset_ = 0;
    std::int64_t position_ = 0;
    // Guarded by the writer's lock.
    std::size_t outstanding_ = 0;
    bool failed_ = false;
    std::vector<TZAWriteBehind::Job> held_; // jobs not written because the file came up short
    bool retryArmed_ = false;
};

} // namespace klv::zip
