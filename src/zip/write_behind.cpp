#include "zip/write_behind.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace klv::zip {

struct TZAWriteBehind::Lane {
    explicit Lane(platform::DiskFile& f) : file(f) {}
    platform::DiskFile& file;
    // The buffer being filled, not yet queued (the caller's thread alone touches it).
    std::unique_ptr<std::uint8_t[]> current;
    std::size_t currentLength = 0;
    std::int64_t currentOffset = 0;
    // Guarded by the writer's lock.
    std::size_t outstanding = 0;
    bool failed = false;
    std::vector<Job> held; // jobs not written because the file came up short
    bool retryArmed = false;
};

TZAWriteBehind::TZAWriteBehind() {
    for (std::size_t i = 0; i < kBuffers; ++i)
        free_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize));
    thread_ = std::thread([this] { Run(); });
}

TZAWriteBehind::~TZAWriteBehind() {
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    work_.notify_all();
    thread_.join();
}

TZAWriteBehind::Lane& TZAWriteBehind::Open(platform::DiskFile& file) {
    std::lock_guard guard(lock_);
    lanes_.push_back(std::make_unique<Lane>(file));
    return *lanes_.back();
}

void TZAWriteBehind::Close(Lane& lane) {
    std::unique_lock guard(lock_);
    WaitIdle(lane, guard);
    for (auto& job : lane.held)
        free_.push_back(std::move(job.data));
    if (lane.current) free_.push_back(std::move(lane.current));
    std::erase_if(lanes_, [&](const std::unique_ptr<Lane>& l) { return l.get() == &lane; });
    settled_.notify_all();
}

std::unique_ptr<std::uint8_t[]> TZAWriteBehind::TakeBuffer() {
    std::unique_lock guard(lock_);
    settled_.wait(guard, [&] { return !free_.empty(); });
    auto b = std::move(free_.back());
    free_.pop_back();
    return b;
}

void TZAWriteBehind::Submit(Job job) {
    {
        std::lock_guard guard(lock_);
        ++job.lane->outstanding;
        queue_.push_back(std::move(job));
    }
    work_.notify_one();
}

void TZAWriteBehind::SubmitCurrent(Lane& lane) {
    if (!lane.current || lane.currentLength == 0) return;
    Submit({&lane, lane.currentOffset, std::move(lane.current), lane.currentLength});
    lane.currentLength = 0;
}

void TZAWriteBehind::Resubmit(Lane& lane) {
    std::vector<Job> again;
    {
        std::lock_guard guard(lock_);
        again.swap(lane.held);
        lane.failed = false;
        lane.retryArmed = false;
    }
    for (auto& job : again)
        Submit(std::move(job));
}

void TZAWriteBehind::WaitIdle(Lane& lane, std::unique_lock<std::mutex>& guard) {
    settled_.wait(guard, [&] { return lane.outstanding == 0; });
}

void TZAWriteBehind::Run() {
    std::unique_lock guard(lock_);
    for (;;) {
        work_.wait(guard, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        Lane& lane = *job.lane;
        bool written = false;
        if (!lane.failed) {
            guard.unlock();
            const std::string_view bytes(reinterpret_cast<const char*>(job.data.get()), job.length);
            written = lane.file.WriteAt(job.offset, bytes).ok();
            guard.lock();
        }
        if (written) {
            free_.push_back(std::move(job.data));
        } else {
            lane.failed = true;
            lane.held.push_back(std::move(job));
        }
        --lane.outstanding;
        settled_.notify_all();
    }
}

bool TZAWriteBehind::Write(Lane& lane, std::int64_t offset, const void* data, std::size_t count) {
    bool armed = false;
    {
        std::lock_guard guard(lock_);
        if (lane.failed && !lane.retryArmed) return false;
        armed = lane.retryArmed;
    }
    if (armed) Resubmit(lane);
    if (lane.current &&
        lane.currentOffset + static_cast<std::int64_t>(lane.currentLength) != offset)
        SubmitCurrent(lane);
    const auto* in = static_cast<const std::uint8_t*>(data);
    while (count > 0) {
        if (!lane.current) {
            lane.current = TakeBuffer();
            lane.currentLength = 0;
            lane.currentOffset = offset;
        }
        const std::size_t take = std::min(count, kBufferSize - lane.currentLength);
        std::memcpy(lane.current.get() + lane.currentLength, in, take);
        lane.currentLength += take;
        in += take;
        count -= take;
        offset += static_cast<std::int64_t>(take);
        if (lane.currentLength == kBufferSize) SubmitCurrent(lane);
    }
    return true;
}

bool TZAWriteBehind::TakeBlock(Lane& lane, std::int64_t offset,
                               std::unique_ptr<std::uint8_t[]>& block, std::size_t length) {
    {
        std::lock_guard guard(lock_);
        if (lane.failed || lane.retryArmed) return false;
    }
    SubmitCurrent(lane);
    auto fresh = TakeBuffer();
    Submit({&lane, offset, std::move(block), length});
    block = std::move(fresh);
    return true;
}

bool TZAWriteBehind::Drain(Lane& lane) {
    SubmitCurrent(lane);
    std::unique_lock guard(lock_);
    WaitIdle(lane, guard);
    return !lane.failed;
}

void TZAWriteBehind::ArmRetry(Lane& lane) {
    std::lock_guard guard(lock_);
    lane.retryArmed = lane.failed;
}

void TZAWriteBehind::Retry(Lane& lane) {
    Resubmit(lane);
}

std::int64_t TZAWriteBehindStream::Write(const void* buffer, std::int64_t count) {
    if (!writer_.Write(lane_, position_, buffer, static_cast<std::size_t>(count))) return 0;
    position_ += count;
    return count;
}

void TZAWriteBehindStream::Seek(std::int64_t position) {
    writer_.ArmRetry(lane_);
    position_ = position;
}

bool TZAWriteBehindStream::TakeBlock(std::unique_ptr<std::uint8_t[]>& block, std::size_t length) {
    if (!writer_.TakeBlock(lane_, position_, block, length)) return false;
    position_ += static_cast<std::int64_t>(length);
    return true;
}

} // namespace klv::zip
