// A file that another program has open for a moment (a virus scanner, an indexer, a backup
// tool) is not in use for good: an operation refused for that reason is tried again for a
// short while before the refusal counts.
#pragma once

#include <functional>

namespace klv::platform::win32 {

enum class Attempt { Done, Busy, Failed };

struct RetryPlan {
    int tries = 5;     // in all
    int pauseMs = 500; // between two tries: 5 tries over 2 seconds
};

// Runs `attempt` until it is Done or Failed, or Busy `plan.tries` times; `pause` waits
// between tries. The last attempt's result.
inline Attempt RetryWhileBusy(const std::function<Attempt()>& attempt,
                              const std::function<void(int)>& pause, RetryPlan plan = {}) {
    Attempt result = Attempt::Busy;
    for (int i = 0; i < plan.tries; ++i) {
        if (i > 0) pause(plan.pauseMs);
        result = attempt();
        if (result != Attempt::Busy) break;
    }
    return result;
}

} // namespace klv::platform::win32
