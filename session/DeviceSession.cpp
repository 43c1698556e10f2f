#include "session/DeviceSession.h"

#include <atomic>
#include <cstring>

#include "driver/DriverCall.h"
#include "driver/UsbDriver.h"
#include "trace/Trace.h"

namespace trax::session {

SessionOpenParamsRecord SessionOpenParams;

namespace {
DeviceSession theSession;
std::atomic<bool> libraryUsable{false};
}  // namespace

DeviceSession& TheSession() { return theSession; }

platform::ExclusiveLock& CallLock() {
    static platform::ExclusiveLock lock;
    return lock;
}

int ProcessAttach() {
    std::memset(&SessionOpenParams, 0, sizeof SessionOpenParams);
    trace::StartFromEnvironment();
    // The start-up calls go through the driver-call wrapper, which learns the
    // driver's calling convention; the trace log's first line names it.
    trace::SetDriverCallingConventionProbe(&driver::ObservedConvention);
    driver::StartupResults results{};
    const int started = driver::UsbDriverStartup(&results);
    libraryUsable.store(started == 1);
    trace::WriteFirstLine(results, started == 1);
    return started;
}

bool LibraryUsable() { return libraryUsable.load(); }

void SetLibraryUsableForTesting(bool usable) { libraryUsable.store(usable); }

DeviceSession::DeviceSession()
    : replyEvent(nullptr), transactionLock(nullptr), openCount(0), notifyWindow(nullptr), notifyMessage(0) {}

int DeviceSession::Open(const SessionOpenParamsRecord& params) {
    if (Exists()) {
        ++openCount;
        return 1;
    }
    if (MakeChannel(params) != 1) {
        // The close releases whatever was made, a half-started channel too,
        // and brings the count back to what it was.
        ++openCount;
        Close();
        return 0;
    }
    ++openCount;
    return 1;
}

int DeviceSession::MakeChannel(const SessionOpenParamsRecord& params) {
    transport::ChannelParams channel;
    std::memset(&channel, 0, sizeof channel);
    transport::ChannelType kind = transport::ChannelNone;
    if (params.kind == 0) {
        kind = transport::ChannelUsb;
        channel.sendCapacity = kSessionSendCapacity;
        channel.receiveCapacity = kSessionReceiveCapacity;
    }
    // Any other kind names a channel this library does not build; the
    // selector reports it and the caller fails with nothing sent.
    return (Connect(kind, channel) == 1 && Exists()) ? 1 : 0;
}

int DeviceSession::RenewChannel(const SessionOpenParamsRecord& params) {
    if (openCount <= 0) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    ReleaseChannel();
    // A channel that could not be made again stays half-made; the session's
    // last close releases it.
    return MakeChannel(params);
}

int DeviceSession::Connect(transport::ChannelType kind, const transport::ChannelParams& params) {
    replyEvent = platform::CreateAutoEvent();
    if (replyEvent == nullptr) return 0;
    transactionLock = platform::CreateOneCountLock();
    if (transactionLock == nullptr) return 0;
    return Create(kind, &params, &DeviceSession::OnChannelStatus);
}

void DeviceSession::Close() {
    --openCount;
    if (openCount > 0) return;
    if (openCount < 0) {
        TRAX_ASSERT_FAILED();
        openCount = 0;
        return;
    }
    ReleaseChannel();
}

void DeviceSession::ReleaseChannel() {
    // The I/O thread may be inside the driver still, and its answer ends in
    // OnChannelStatus, which signals replyEvent: the thread must have ended
    // before that event goes.
    Destroy();
    if (replyEvent != nullptr) {
        platform::CloseHandle(replyEvent);
        replyEvent = nullptr;
    }
    if (transactionLock != nullptr) {
        platform::CloseHandle(transactionLock);
        transactionLock = nullptr;
    }
}

void DeviceSession::OnChannelStatus(int32_t /*channelType*/, transport::ChannelStatus* status,
                                    transport::MultiIo* source) {
    auto* self = static_cast<DeviceSession*>(source);
    self->lastStatus.store(status->status, std::memory_order_release);
    platform::SignalEvent(self->replyEvent);
}

}  // namespace trax::session
