#include "transport/AsyncUSB.h"

#include <cstdlib>

#include "driver/DriverCall.h"

namespace trax::transport {

AsyncUSB::~AsyncUSB() {
    Shutdown();
    sendRing.Destroy();
    receiveRing.Destroy();
}

int AsyncUSB::Create(int32_t sendCapacity, int32_t receiveCapacity, CompletionRoutine routine, void* routineOwner) {
    callback = routine;
    owner = routineOwner;
    sendEvent = platform::CreateAutoEvent();
    if (sendEvent == nullptr) return 0;
    stopEvent = platform::CreateAutoEvent();
    if (stopEvent == nullptr) return 0;
    startEvent = platform::CreateAutoEvent();
    if (startEvent == nullptr) return 0;
    if (receiveRing.Create(receiveCapacity) != 1) return 0;
    if (sendRing.Create(sendCapacity) != 1) return 0;
    // The flag reads "ended" until a thread really runs, so a channel whose
    // creation failed early refuses sends instead of queueing into nothing.
    threadDone.store(0, std::memory_order_release);
    threadHandle = platform::StartThread(&AsyncUSB::IoThread, this);
    if (threadHandle == nullptr) {
        // No thread will ever set the flag: mark the channel dead ourselves.
        threadDone.store(1, std::memory_order_release);
        return 0;
    }
    // The start barrier: every path of the thread signals startEvent once,
    // before it takes any request, so this wait ends.
    if (platform::WaitOne(startEvent, platform::kInfinite) != platform::WaitResult::Signalled0) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    return startResult.load(std::memory_order_acquire);
}

void AsyncUSB::IoThread(void* self) { static_cast<AsyncUSB*>(self)->RunIoLoop(); }

void AsyncUSB::RunIoLoop() {
    // Allocated once per thread, not per exchange.
    auto* request = static_cast<uint8_t*>(std::malloc(kRequestBufferSize));
    auto* reply = request != nullptr ? static_cast<uint8_t*>(std::malloc(kReplyBufferSize)) : nullptr;

    const bool usable = request != nullptr && reply != nullptr && driver::CheckUsbDllStatus(0) == 1;
    if (!usable) threadDone.store(1, std::memory_order_release);
    startResult.store(usable ? 1 : 0, std::memory_order_release);
    platform::SignalEvent(startEvent);

    if (usable) {
        bool running = true;
        while (running) {
            switch (platform::WaitEither(sendEvent, stopEvent, kIoWaitMs)) {
            case platform::WaitResult::Signalled0: {
                int32_t taken = 0;
                uint32_t takenIn = 0;
                {
                    platform::ExclusiveGuard hold(exchangeLock);
                    taken = sendRing.Read(request, kRequestBufferSize, 1);
                    takenIn = generation;
                }
                if (taken == 0) break;
                unsigned long replyLength = kReplyBufferSize;
                const unsigned long done =
                    driver::QelUsbPtrIoPtr(request, static_cast<unsigned long>(taken), reply, &replyLength);
                bool abandoned = false;
                bool queued = false;
                {
                    // The check and the write are one step against Purge: an
                    // answer either lands before the purge (and is purged) or
                    // finds its request abandoned and is dropped.
                    platform::ExclusiveGuard hold(exchangeLock);
                    abandoned = takenIn != generation;
                    // A driver that claims more than our buffer holds counts as a
                    // failed exchange: nothing is read past the buffer.
                    // The whole answer goes in at once, or not at all.
                    queued = !abandoned && done != 0 && replyLength <= static_cast<unsigned long>(kReplyBufferSize) &&
                             receiveRing.Write(reply, static_cast<int32_t>(replyLength)) == 1;
                }
                if (queued) {
                    if (callback != nullptr) callback(1, owner);
                    break;
                }
                // The caller gave up on this request and has moved on: its
                // answer would be taken for the next request's, so it goes,
                // and nobody is woken for it.
                if (abandoned && done != 0) break;
                // The channel is dead from here on. Say so before waking the
                // caller, so that its next send in the same call is refused at
                // once instead of waiting out a reply that cannot come.
                threadDone.store(1, std::memory_order_release);
                // A reply longer than the buffer is reported apart from a
                // driver that returned 0; both end the channel.
                const bool cut = done != 0 && replyLength > static_cast<unsigned long>(kReplyBufferSize);
                if (callback != nullptr) callback(cut ? kStatusCut : 0, owner);
                running = false;
                break;
            }
            case platform::WaitResult::Signalled1:
                running = false;
                break;
            case platform::WaitResult::Timeout:
                break;
            case platform::WaitResult::Failed:
                TRAX_ASSERT_FAILED();
                break;
            }
        }
    }
    std::free(reply);
    std::free(request);
    threadDone.store(1, std::memory_order_release);
}

int AsyncUSB::Send(const uint8_t* bytes, int32_t length) {
    if (threadDone.load(std::memory_order_acquire) != 0) return 0;
    if (sendRing.Write(bytes, length) == 1) {
        platform::SignalEvent(sendEvent);
        return 1;
    }
    TRAX_ASSERT_FAILED();
    return 0;
}

int AsyncUSB::Receive(uint8_t* destination, int32_t maximum, uint32_t* count) {
    const int32_t copied = receiveRing.Read(destination, maximum, 1);
    *count = static_cast<uint32_t>(copied);
    return copied > 0 ? 1 : 0;
}

int AsyncUSB::Peek(uint8_t* destination, int32_t maximum, uint32_t* count) {
    const int32_t copied = receiveRing.Read(destination, maximum, 0);
    *count = static_cast<uint32_t>(copied);
    return copied > 0 ? 1 : 0;
}

void AsyncUSB::Purge() {
    platform::ExclusiveGuard hold(exchangeLock);
    ++generation;
    receiveRing.Reset();
    sendRing.Reset();
}

void AsyncUSB::Shutdown() {
    if (stopEvent != nullptr) platform::SignalEvent(stopEvent);
    // Wait for the thread's end itself rather than polling the flag: the
    // channel's life then costs one thread start and join.
    if (threadHandle != nullptr) {
        platform::JoinThread(threadHandle);
        threadHandle = nullptr;
    }
    if (sendEvent != nullptr) {
        platform::CloseHandle(sendEvent);
        sendEvent = nullptr;
    }
    if (stopEvent != nullptr) {
        platform::CloseHandle(stopEvent);
        stopEvent = nullptr;
    }
    if (startEvent != nullptr) {
        platform::CloseHandle(startEvent);
        startEvent = nullptr;
    }
    receiveRing.Destroy();
    sendRing.Destroy();
}

}  // namespace trax::transport
