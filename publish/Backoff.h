// How long to wait before the next attempt to reach the broker: 1 s after the
// first failure, doubling up to 30 s, back to 1 s once a connection holds.
// It only counts: the caller adds the wait to its own clock, so the schedule
// is tested without waiting through it.
#pragma once

#include <algorithm>
#include <chrono>

namespace trax::publish {

using Clock = std::chrono::steady_clock;

class Backoff {
public:
    using Duration = std::chrono::milliseconds;
    explicit Backoff(Duration first = std::chrono::seconds(1), Duration most = std::chrono::seconds(30))
        : first_(first), most_(most), next_(first) {}

    // The wait before the next attempt, and the one after it doubled.
    Duration Next() {
        const Duration wait = next_;
        next_ = std::min(most_, next_ * 2);
        return wait;
    }
    void Reset() { next_ = first_; }

private:
    Duration first_, most_, next_;
};

}  // namespace trax::publish
