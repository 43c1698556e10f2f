// The one device session of the process: a channel selector extended by the
// transaction state. Every exported call opens it (creating the USB channel
// and its I/O thread) and closes it again; a nested open only counts.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Platform.h"
#include "transport/MultiIo.h"

namespace trax::session {

// Read at every first open; kind 0 selects the USB channel. Zeroed at load.
struct SessionOpenParamsRecord {
    int32_t kind;
    int32_t serialPort;
    int32_t serialBaud;
    int32_t serialFlags;
};
static_assert(sizeof(SessionOpenParamsRecord) == 16, "SessionOpenParams is 16 bytes");

extern SessionOpenParamsRecord SessionOpenParams;

// The send ring takes one whole request at a time, so this is also the
// longest request the library builds.
constexpr int32_t kSessionSendCapacity = 256;
constexpr int32_t kSessionReceiveCapacity = 0x100000;

class DeviceSession : public transport::MultiIo {
public:
    DeviceSession();
    ~DeviceSession() = default;

    [[nodiscard]] int Open(const SessionOpenParamsRecord& params);
    void Close();
    [[nodiscard]] int Connect(transport::ChannelType kind, const transport::ChannelParams& params);
    // On an open session whose channel has failed: releases the channel and
    // makes a fresh one in its place, keeping the open count. 1 when the new
    // channel's I/O thread runs with a usable driver. Called by the thread
    // that holds the call lock, between transactions.
    [[nodiscard]] int RenewChannel(const SessionOpenParamsRecord& params);

    // Runs on the I/O thread: keeps the report and wakes the waiting caller.
    static void OnChannelStatus(int32_t channelType, transport::ChannelStatus* status, transport::MultiIo* source);

    int32_t OpenCount() const { return openCount; }
    platform::EventHandle ReplyEvent() const { return replyEvent; }
    platform::LockHandle TransactionLock() const { return transactionLock; }
    // The status of the channel's last report: 1 an answer was queued, 0 the
    // exchange failed. Written by the I/O thread while the caller may read it.
    int32_t LastStatus() const { return lastStatus.load(std::memory_order_acquire); }
    // How many exchanges of this process got no answer at all (the driver
    // failed, the wait ran out, the request was never sent). A step whose
    // count did not move was answered, so the controller is in a known state.
    uint32_t UnansweredExchanges() const { return unansweredExchanges; }
    void CountUnanswered() { ++unansweredExchanges; }
    void* NotifyWindow() const { return notifyWindow; }
    uint32_t NotifyMessage() const { return notifyMessage; }

private:
    [[nodiscard]] int MakeChannel(const SessionOpenParamsRecord& params);
    // Stops and joins the channel first, and only then closes the event and
    // the lock that its I/O thread's status callback may still touch.
    void ReleaseChannel();

    platform::EventHandle replyEvent;
    platform::LockHandle transactionLock;
    // Written by the I/O thread before it signals replyEvent. A report of an
    // exchange that the caller already gave up on can land while the caller
    // reads it, so it crosses the threads as an atomic.
    std::atomic<int32_t> lastStatus{0};
    // Only the thread that holds the call lock touches it.
    uint32_t unansweredExchanges = 0;
    int32_t openCount;
    void* notifyWindow;
    uint32_t notifyMessage;
};

// The lock of whole exported calls: held from before the session opens until
// after it closed, so the session, its open count and the shared reply
// records are only ever touched by the thread that holds it. Plain, not
// recursive: no exported function calls another. Taken through CallLock(),
// which also makes the library safe to fork.
extern platform::ExclusiveLock callLock;
platform::ExclusiveLock& CallLock() TRAX_RETURN_CAPABILITY(callLock);

// The process-wide session.
DeviceSession& TheSession() TRAX_REQUIRES(callLock);

// What the load of the library runs: zero the open parameters, start the
// driver. Returns 1 when the driver started; the library is usable only then.
[[nodiscard]] int ProcessAttach();
bool LibraryUsable();

// For tests: mark the library usable or not without running the driver start-up.
void SetLibraryUsableForTesting(bool usable);

}  // namespace trax::session
