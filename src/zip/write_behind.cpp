#include "zip/write_behind.h"

#include <algorithm>
#include <cstring>

namespace klv::zip {

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
        ++job.stream->outstanding_;
        queue_.push_back(std::move(job));
    }
    work_.notify_one();
}

void TZAWriteBehind::Run() {
    std::unique_lock guard(lock_);
    for (;;) {
        work_.wait(guard, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        TZAWriteBehindStream& s = *job.stream;
        bool written = false;
        if (!s.failed_) {
            guard.unlock();
            s.file_.Seek(job.offset);
            written = s.file_.Write(job.data.get(), static_cast<std::int64_t>(job.length)) ==
                      static_cast<std::int64_t>(job.length);
            guard.lock();
        }
        if (written) {
            free_.push_back(std::move(job.data));
        } else {
            s.failed_ = true;
            s.held_.push_back(std::move(job));
        }
        --s.outstanding_;
        settled_.notify_all();
    }
}

TZAWriteBehindStream::TZAWriteBehindStream(TZAWriteBehind& writer, platform::FileStream& file)
    : w_(writer), file_(file) {}

TZAWriteBehindStream::~TZAWriteBehindStream() {
    std::unique_lock guard(w_.lock_);
    WaitIdle(guard);
    for (auto& job : held_)
        w_.free_.push_back(std::move(job.data));
    held_.clear();
    if (current_) w_.free_.push_back(std::move(current_));
    w_.settled_.notify_all();
}

void TZAWriteBehindStream::WaitIdle(std::unique_lock<std::mutex>& guard) {
    w_.settled_.wait(guard, [&] { return outstanding_ == 0; });
}

void TZAWriteBehindStream::SubmitCurrent() {
    if (!current_ || currentLength_ == 0) return;
    w_.Submit({this, currentOffset_, std::move(current_), currentLength_});
    currentLength_ = 0;
}

void TZAWriteBehindStream::Resubmit() {
    std::vector<TZAWriteBehind::Job> again;
    {
        std::lock_guard guard(w_.lock_);
        again.swap(held_);
        failed_ = false;
        retryArmed_ = false;
    }
    for (auto& job : again)
        w_.Submit(std::move(job));
}

void TZAWriteBehindStream::Seek(std::int64_t position) {
    std::lock_guard guard(w_.lock_);
    retryArmed_ = failed_;
    position_ = position;
}

std::int64_t TZAWriteBehindStream::Write(const void* buffer, std::int64_t count) {
    {
        std::unique_lock guard(w_.lock_);
        if (failed_ && !retryArmed_) return 0;
    }
    if (retryArmed_) Resubmit();
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::int64_t left = count;
    if (current_ && currentOffset_ + static_cast<std::int64_t>(currentLength_) != position_)
        SubmitCurrent();
    while (left > 0) {
        if (!current_) {
            current_ = w_.TakeBuffer();
            currentLength_ = 0;
            currentOffset_ = position_;
        }
        const std::size_t take = std::min<std::size_t>(
            static_cast<std::size_t>(left), TZAWriteBehind::kBufferSize - currentLength_);
        std::memcpy(current_.get() + currentLength_, in, take);
        currentLength_ += take;
        in += take;
        left -= static_cast<std::int64_t>(take);
        position_ += static_cast<std::int64_t>(take);
        if (currentLength_ == TZAWriteBehind::kBufferSize) SubmitCurrent();
    }
    return count;
}

bool TZAWriteBehindStream::TakeBlock(std::unique_ptr<std::uint8_t[]>& block, std::size_t length) {
    {
        std::lock_guard guard(w_.lock_);
        if (failed_ || retryArmed_) return false;
    }
    SubmitCurrent();
    auto fresh = w_.TakeBuffer();
    w_.Submit({this, position_, std::move(block), length});
    position_ += static_cast<std::int64_t>(length);
    block = std::move(fresh);
    return true;
}

bool TZAWriteBehindStream::Drain() {
    SubmitCurrent();
    std::unique_lock guard(w_.lock_);
    WaitIdle(guard);
    return !failed_;
}

void TZAWriteBehindStream::Retry() { Resubmit(); }

} // namespace klv::zip
