// The one device session of the process: a channel selector extended by the
// transaction state. Every exported call opens it (creating the USB channel
// and its I/O thread) and closes it again; a nested open only counts.
#pragma once

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

    int Open(const SessionOpenParamsRecord& params);
    void Close();
    int Connect(transport::ChannelType kind, const transport::ChannelParams& params);
    // On an open session whose channel has failed: releases the channel and
    // makes a fresh one in its place, keeping the open count. 1 when the new
    // channel's I/O thread runs with a usable driver. Called by the thread
    // that holds the call lock, between transactions.
    int RenewChannel(const SessionOpenParamsRecord& params);

    // Runs on the I/O thread: keeps the report and wakes the waiting caller.
    static void OnChannelStatus(int32_t channelType, transport::ChannelStatus* status, transport::MultiIo* source);

    int32_t OpenCount() const { return openCount; }
    platform::Handle ReplyEvent() const { return replyEvent; }
    platform::Handle TransactionLock() const { return transactionLock; }
    const transport::ChannelStatus& LastStatus() const { return lastStatus; }
    void* NotifyWindow() const { return notifyWindow; }
    uint32_t NotifyMessage() const { return notifyMessage; }

private:
    int MakeChannel(const SessionOpenParamsRecord& params);
    // Stops and joins the channel first, and only then closes the event and
    // the lock that its I/O thread's status callback may still touch.
    void ReleaseChannel();

    platform::Handle replyEvent;
    platform::Handle transactionLock;
    // Written by the I/O thread before it signals replyEvent; read by the
    // caller only after the wait returned, so the event orders the two.
    transport::ChannelStatus lastStatus;
    int32_t openCount;
    void* notifyWindow;
    uint32_t notifyMessage;
};

// The process-wide session.
DeviceSession& TheSession();

// What the load of the library runs: zero the open parameters, start the
// driver. Returns 1 when the driver started; the library is usable only then.
int ProcessAttach();
bool LibraryUsable();

// For tests: mark the library usable or not without running the driver start-up.
void SetLibraryUsableForTesting(bool usable);

}  // namespace trax::session
