// Finished files flushed to the medium on a few threads of their own while the next items are
// written: a flush waits for the drive, and several waits at once cost hardly more than one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/disk.h"

namespace klv::zip {

// A file the engine could not write as it must (its data, time, attributes or flush).
struct TZAOutputFailure {
    std::u16string file;
    platform::DiskStatus status;
};

class TZAFlusher {
  public:
    static constexpr std::size_t kThreads = 4;
    static constexpr std::size_t kQueued = 32; // files waiting for a thread at most
    static constexpr std::size_t kBatch = 8;   // files waiting before a thread is woken

    TZAFlusher() = default;
    ~TZAFlusher(); // waits for every file handed in, and closes it
    TZAFlusher(const TZAFlusher&) = delete;
    TZAFlusher& operator=(const TZAFlusher&) = delete;

    // Flushes and then closes `file` on one of the threads; `name` is what a failure names.
    void Add(std::unique_ptr<platform::DiskFile> file, std::u16string name);
    // Waits until every file handed in is flushed and closed; the first that failed.
    std::optional<TZAOutputFailure> Wait();

  private:
    struct Item {
        std::unique_ptr<platform::DiskFile> file;
        std::u16string name;
    };
    void Run();

    std::mutex lock_;
    std::condition_variable work_;    // an item is queued, or the threads are to stop
    std::condition_variable settled_; // an item is done, or room came free in the queue
    std::deque<Item> queue_;
    std::size_t busy_ = 0; // items taken by a thread and not yet closed
    std::size_t idle_ = 0; // threads waiting for work
    bool stop_ = false;
    std::optional<TZAOutputFailure> failure_;
    std::vector<std::thread> threads_;
};

} // namespace klv::zip
