// Fixed-capacity circular byte queue with a one-count lock. One thread writes,
// another reads; Write, Read and Reset hold the lock for their whole run.
// A ring never blocks on full or empty: a write that does not fit is refused
// whole, a read returns what is there.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace trax::transport {

class RingBuffer {
public:
    RingBuffer() = default;
    ~RingBuffer() { Destroy(); }
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // 1 when storage (zeroed) and lock were made. Only the owner calls it,
    // while no other thread can reach the ring.
    [[nodiscard]] int Create(int32_t capacity) TRAX_NO_THREAD_SAFETY_ANALYSIS;
    // 1 when all bytes were stored, 0 when none were (the caller decides
    // whether an overflow is a fault).
    [[nodiscard]] int Write(const uint8_t* source, int32_t length);
    // Copies up to maximum bytes; only a consume flag of exactly 1 removes them.
    [[nodiscard]] int32_t Read(uint8_t* destination, int32_t maximum, int32_t consume);
    void Reset();
    // Frees storage and lock; takes no lock and may run any number of times.
    void Destroy() TRAX_NO_THREAD_SAFETY_ANALYSIS;

    // The whole block, written or not; for checking that a new ring starts zeroed.
    const uint8_t* Storage() const { return storage; }

private:
    // Made and freed by the owner alone (Create, Destroy); the positions move
    // only under the lock.
    platform::LockHandle lock = nullptr;
    uint8_t* storage = nullptr;
    int32_t readPos TRAX_GUARDED_BY(lock) = 0;
    int32_t writePos TRAX_GUARDED_BY(lock) = 0;
    int32_t fillCount TRAX_GUARDED_BY(lock) = 0;
    int32_t capacity = 0;
    // One past the highest index any write has stored to: what Destroy must
    // clear before the block may serve as a fresh ring again.
    int32_t touchedEnd TRAX_GUARDED_BY(lock) = 0;
};

// The lock of the spare storage block shared by all rings, taken and let go
// around fork() so that the child never inherits it held.
void LockSpareStorage();
void UnlockSpareStorage();

}  // namespace trax::transport
