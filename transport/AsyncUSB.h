// The USB channel: decouples the calling thread from the driver's blocking
// exchange. The caller queues a request in the send ring; the channel's own
// I/O thread hands it to the driver, puts the whole answer into the receive
// ring and reports through the completion callback.
//
// Threads: the calling thread runs Create, Send, Receive, Peek, Purge and
// Shutdown; the I/O thread runs IoThread and the callback. They meet only at
// the two rings (each with its own lock), the exchange lock with its
// generation, the two events and threadDone.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Platform.h"
#include "transport/RingBuffer.h"

namespace trax::transport {

// Status of a completion: 1 the answer was queued; 0 the exchange failed;
// kStatusCut the driver said its answer was longer than the buffer it was
// given. Any status but 1 ends the I/O thread.
using CompletionRoutine = void (*)(int32_t status, void* owner);
constexpr int32_t kStatusCut = 2;

// Capacities of the I/O thread's work buffers. One exchange hands the driver
// at most kRequestBufferSize request bytes.
constexpr int32_t kRequestBufferSize = 1024;
constexpr int32_t kReplyBufferSize = 0x100000;
// The I/O thread's wait only wakes it to wait again; it does no work on time-out.
constexpr uint32_t kIoWaitMs = 100;

class AsyncUSB {
public:
    AsyncUSB() = default;
    ~AsyncUSB();
    AsyncUSB(const AsyncUSB&) = delete;
    AsyncUSB& operator=(const AsyncUSB&) = delete;

    // 1 when events, rings and thread were all made and the thread found its
    // driver usable: Create waits for the thread to say so, so a driver that
    // cannot work fails the channel at once, with nothing sent. Releases
    // nothing on failure: Shutdown (and the destructor) release whatever was
    // made.
    [[nodiscard]] int Create(int32_t sendCapacity, int32_t receiveCapacity, CompletionRoutine routine,
                             void* routineOwner);
    [[nodiscard]] int Send(const uint8_t* bytes, int32_t length);
    [[nodiscard]] int Receive(uint8_t* destination, int32_t maximum, uint32_t* count);
    [[nodiscard]] int Peek(uint8_t* destination, int32_t maximum, uint32_t* count);
    void Purge();
    // Stops the I/O thread, waits for its end (not for a thread that never
    // started), then closes the events and frees the rings. Idempotent.
    void Shutdown();

    // True once the I/O thread stopped taking requests (an exchange failed,
    // or it never started). The session reads it to know when its channel
    // must be made anew.
    bool ThreadDone() const { return threadDone.load(std::memory_order_acquire) != 0; }

private:
    static void IoThread(void* self);
    void RunIoLoop();

    platform::EventHandle sendEvent = nullptr;
    platform::EventHandle stopEvent = nullptr;
    // Signalled once by the I/O thread when it knows whether its driver and
    // buffers are usable; closed only after the thread was joined.
    platform::EventHandle startEvent = nullptr;
    // Written by the I/O thread before it signals startEvent, read by the
    // creating thread after that wait: 1 = running, 0 = could not start.
    std::atomic<int32_t> startResult{0};
    // Set by the I/O thread when it stops taking requests: before it reports
    // a failed exchange, and as its last act. Read by the calling thread on
    // every send, so it is atomic and read afresh each time.
    std::atomic<int32_t> threadDone{1};
    RingBuffer receiveRing;
    RingBuffer sendRing;
    // Taken by Purge (calling thread) and by the I/O thread around taking a
    // request and around queueing its answer; lock order: this, then a ring's.
    platform::ExclusiveLock exchangeLock;
    // Raised by every Purge: a request taken under an older value was given
    // up by its caller, and its answer, however late, is dropped.
    uint32_t generation TRAX_GUARDED_BY(exchangeLock) = 0;
    CompletionRoutine callback = nullptr;
    void* owner = nullptr;
    platform::ThreadHandle threadHandle = nullptr;
};

}  // namespace trax::transport
