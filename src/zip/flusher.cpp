#include "zip/flusher.h"

namespace klv::zip {

TZAFlusher::~TZAFlusher() {
    Wait();
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void TZAFlusher::Add(std::unique_ptr<platform::DiskFile> file, std::u16string name) {
    std::unique_lock guard(lock_);
    settled_.wait(guard, [&] { return queue_.size() < kQueued; });
    queue_.push_back({std::move(file), std::move(name)});
    // Files are handed over a few at a time: waking a thread costs a round trip to the system
    // (under Wine to its server) per file, more than the flush of a small file itself.
    if (queue_.size() < kBatch) return;
    if (idle_ == 0 && threads_.size() < kThreads)
        threads_.emplace_back([this] { Run(); });
    else if (idle_ > 0)
        work_.notify_one();
}

std::optional<TZAOutputFailure> TZAFlusher::Wait() {
    std::unique_lock guard(lock_);
    if (!queue_.empty() && threads_.empty()) threads_.emplace_back([this] { Run(); });
    work_.notify_all(); // the last few, not yet handed over
    settled_.wait(guard, [&] { return queue_.empty() && busy_ == 0; });
    return failure_;
}

void TZAFlusher::Run() {
    std::unique_lock guard(lock_);
    for (;;) {
        ++idle_;
        work_.wait(guard, [&] { return stop_ || !queue_.empty(); });
        --idle_;
        if (queue_.empty()) return;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        settled_.notify_all(); // room in the queue
        guard.unlock();
        const platform::DiskStatus status = item.file->Flush();
        item.file.reset(); // closed
        guard.lock();
        if (!status.ok() && !failure_) failure_ = TZAOutputFailure{std::move(item.name), status};
        --busy_;
        settled_.notify_all();
    }
}

} // namespace klv::zip
