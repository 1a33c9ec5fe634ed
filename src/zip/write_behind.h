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

#include "platform/disk.h"
#include "zip/streams.h"

namespace klv::zip {

// The writer: its thread, its buffers and, for each file it writes, the file's queue (a lane).
// Writes to a lane are accepted into buffers and written in order by the thread. A write the
// file took short (a full disk) is reported at the lane's next Write, which then takes
// nothing: the caller's disk-full handling decides, and a retry writes the held data again.
class TZAWriteBehind {
  public:
    static constexpr std::size_t kBufferSize = 1 << 20;
    static constexpr std::size_t kBuffers = 4;

    TZAWriteBehind();
    ~TZAWriteBehind();
    TZAWriteBehind(const TZAWriteBehind&) = delete;
    TZAWriteBehind& operator=(const TZAWriteBehind&) = delete;

    // One file's writes, held by the writer between Open and Close.
    struct Lane;
    Lane& Open(platform::DiskFile& file);
    // Waits until the lane's writes are done and takes its buffers back.
    void Close(Lane& lane);

    // Accepts `count` bytes to go at `offset`; false (nothing taken) after a short write that
    // was not retried.
    bool Write(Lane& lane, std::int64_t offset, const void* data, std::size_t count);
    // Takes a whole block of kBufferSize bytes' room for `offset` without copying it and puts
    // a free one in its place; false (nothing taken) when it must go through Write instead.
    bool TakeBlock(Lane& lane, std::int64_t offset, std::unique_ptr<std::uint8_t[]>& block,
                   std::size_t length);
    // Writes what is held and waits until the file has it all; false after a short write.
    bool Drain(Lane& lane);
    // After a short write: the next Write writes the held data again first (a caller that
    // moved back to where the short write began).
    void ArmRetry(Lane& lane);
    // After a short write found by Drain: writes the held data again now.
    void Retry(Lane& lane);

  private:
    struct Job {
        Lane* lane;
        std::int64_t offset;
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t length;
    };

    std::unique_ptr<std::uint8_t[]> TakeBuffer();
    void Submit(Job job);
    void SubmitCurrent(Lane& lane);
    void Resubmit(Lane& lane);
    void WaitIdle(Lane& lane, std::unique_lock<std::mutex>& guard);
    void Run();

    std::mutex lock_;
    std::condition_variable work_;    // a job is queued, or the writer is to stop
    std::condition_variable settled_; // a job is done or a buffer came back
    std::deque<Job> queue_;
    std::vector<std::unique_ptr<std::uint8_t[]>> free_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    bool stop_ = false;
    std::thread thread_;
};

// The stream an item is decompressed into: a view of one lane of the writer, keeping the
// position.
class TZAWriteBehindStream final : public TZAStream {
  public:
    TZAWriteBehindStream(TZAWriteBehind& writer, platform::DiskFile& file)
        : writer_(writer), lane_(writer.Open(file)) {}
    ~TZAWriteBehindStream() override { writer_.Close(lane_); }

    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void Seek(std::int64_t position) override;
    std::int64_t Position() const override { return position_; }
    std::int64_t Size() const override { return position_; }
    void SetSize(std::int64_t) override {}

    bool TakeBlock(std::unique_ptr<std::uint8_t[]>& block, std::size_t length);
    bool Drain() { return writer_.Drain(lane_); }
    void Retry() { writer_.Retry(lane_); }

  private:
    TZAWriteBehind& writer_;
    TZAWriteBehind::Lane& lane_;
    std::int64_t position_ = 0;
};

} // namespace klv::zip
