// A minimal lock on std::atomic_flag. The stand-in driver must build with
// toolchains whose thread model lacks std::mutex, and its critical sections are
// short (one exchange with the in-memory controller), so spinning with a yield
// of the processor is good enough.
#pragma once

#include <atomic>

namespace trax::sim {

class SpinLock {
public:
    void Lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void Unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class SpinGuard {
public:
    explicit SpinGuard(SpinLock& lock) : lock_(lock) { lock_.Lock(); }
    ~SpinGuard() { lock_.Unlock(); }
    SpinGuard(const SpinGuard&) = delete;
    SpinGuard& operator=(const SpinGuard&) = delete;

private:
    SpinLock& lock_;
};

}  // namespace trax::sim
