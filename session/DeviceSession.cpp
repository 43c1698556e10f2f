#include "session/DeviceSession.h"

#include <atomic>
#include <cstring>

#include "driver/DriverCall.h"
#include "driver/UsbDriver.h"
#include "record/Recording.h"
#include "trace/LineBuilder.h"
#include "trace/Trace.h"
#include "transport/RingBuffer.h"

namespace trax::session {

SessionOpenParamsRecord SessionOpenParams;

platform::ExclusiveLock callLock;

namespace {
DeviceSession theSession TRAX_GUARDED_BY(callLock);
std::atomic<bool> libraryUsable{false};

// A child of fork() has only the forking thread. Any lock another thread held
// at the fork would stay held in the child for ever, so the fork waits until
// no call runs and no line or ring block is being handed over: with the call
// lock held there is no session, no I/O thread and no transaction. Lock
// order as in a call: the call lock, then the spare ring block, then the
// trace output.
void PrepareFork() TRAX_NO_THREAD_SAFETY_ANALYSIS {
    callLock.Lock();
    transport::LockSpareStorage();
    trace::LockOutputForFork();
}

void ResumeAfterFork() TRAX_NO_THREAD_SAFETY_ANALYSIS {
    trace::UnlockOutputAfterFork();
    transport::UnlockSpareStorage();
    callLock.Unlock();
}

struct ForkHandlers {
    ForkHandlers() { platform::OnFork(&PrepareFork, &ResumeAfterFork, &ResumeAfterFork); }
};

// TRAX_ASSERT=log: reports go to the trace log's output, never to a box.
void LogAssertion(const char* module, int line) {
    char buffer[192];
    trace::LineBuilder text(buffer, sizeof buffer);
    text.AddPrefix(platform::NowMicroseconds());
    text.Add("Fatal error: assert[%s][%d]", module, line);
    const int length = text.Finish();
    trace::Emit(text.Text(), length);
}

}  // namespace

DeviceSession& TheSession() { return theSession; }

platform::ExclusiveLock& CallLock() {
    // Installed with the first call, before any call can hold a lock.
    static ForkHandlers handlers;
    return callLock;
}

int ProcessAttach() {
    std::memset(&SessionOpenParams, 0, sizeof SessionOpenParams);
    trace::StartFromEnvironment();
    record::StartFromEnvironment();
    // Read as the trace log's variables are: what the host set just before
    // loading the library counts. Longer than "log", it stays longer when cut.
    char assertion[16];
    const bool assertionsToLog =
        platform::EnvironmentValue("TRAX_ASSERT", assertion, sizeof assertion) && std::strcmp(assertion, "log") == 0;
    platform::SetAssertionSink(assertionsToLog ? &LogAssertion : nullptr);
    // The start-up calls go through the driver-call wrapper, which learns the
    // driver's calling convention; the trace log's first line names it.
    trace::SetDriverCallingConventionProbe(&driver::ObservedConvention);
    driver::StartupResults results{};
    const int started = driver::UsbDriverStartup(&results);
    libraryUsable.store(started == 1);
    trace::WriteFirstLine(results, started == 1);
    driver::LearnReplayAnswerWait();
    record::WriteFirstLine(started == 1);
    // The recording names each exchange's call, which the call records hold.
    if (record::On()) trace::KeepCallsRecorded();
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
