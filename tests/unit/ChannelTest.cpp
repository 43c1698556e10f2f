// The USB channel and the channel selector, driven through the scripted driver.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "tests/support/DriverTest.h"
#include "transport/AsyncUSB.h"
#include "transport/MultiIo.h"

namespace trax::test {
namespace {

using transport::AsyncUSB;
using transport::ChannelParams;
using transport::ChannelStatus;
using transport::MultiIo;

constexpr int32_t kSendCapacity = session::kSessionSendCapacity;
constexpr int32_t kReceiveCapacity = session::kSessionReceiveCapacity;

// Collects completions from the I/O thread and lets the test wait for them.
struct Completions {
    std::atomic<int> ok{0};
    std::atomic<int> failed{0};
    platform::EventHandle event = platform::CreateAutoEvent();
    ~Completions() { platform::CloseHandle(event); }

    static void Record(int32_t status, void* owner) {
        auto* self = static_cast<Completions*>(owner);
        (status == 1 ? self->ok : self->failed).fetch_add(1);
        platform::SignalEvent(self->event);
    }
    bool Wait() { return platform::WaitOne(event, 5000) == platform::WaitResult::Signalled0; }
};

class ChannelTest : public DriverTest {
protected:
    Completions completions;
    AsyncUSB channel;

    void Open() { ASSERT_EQ(channel.Create(kSendCapacity, kReceiveCapacity, &Completions::Record, &completions), 1); }
    void TearDown() override {
        channel.Shutdown();
        DriverTest::TearDown();
    }
};

TEST_F(ChannelTest, SendThatFillsTheRingIsQueuedAndOneByteMoreIsRefused) {
    Open();
    driver().AlwaysFor(0, Action::Answer(MakeSizedReply(1, 0, 8)));
    std::vector<uint8_t> packet(kSendCapacity + 1, 0);
    EXPECT_EQ(channel.Send(packet.data(), kSendCapacity + 1), 0);
    EXPECT_EQ(channel.Send(packet.data(), kSendCapacity), 1);
    ASSERT_TRUE(completions.Wait());
    EXPECT_EQ(driver().Requests().at(0).size(), static_cast<size_t>(kSendCapacity));
}

TEST_F(ChannelTest, ExchangeFailureReportsOnceThenSendsAreRefusedSilently) {
    Open();
    driver().Queue(Action::Failure());
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(channel.Send(packet, 4), 1);
    ASSERT_TRUE(completions.Wait());
    EXPECT_EQ(completions.failed.load(), 1);
    channel.Shutdown();  // the thread has ended on its own; this only joins it
    EXPECT_EQ(channel.Send(packet, 4), 0);
    EXPECT_TRUE(Assertions().empty());
    EXPECT_EQ(completions.ok.load(), 0);
}

// The caller wakes on the failure report and may send at once; the channel
// must already refuse, or that request would wait out the reply time.
AsyncUSB* channelUnderTest = nullptr;
std::atomic<int> sendRefusedWhenReported{-1};
void RecordDeadness(int32_t status, void* owner) {
    const uint8_t packet[4] = {0, 4, 7, 42};
    if (status == 0) sendRefusedWhenReported = channelUnderTest->Send(packet, 4) == 0 ? 1 : 0;
    Completions::Record(status, owner);
}

TEST_F(ChannelTest, ChannelIsMarkedDeadBeforeTheFailureIsReported) {
    channelUnderTest = &channel;
    ASSERT_EQ(channel.Create(kSendCapacity, kReceiveCapacity, &RecordDeadness, &completions), 1);
    driver().Queue(Action::Failure());
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(channel.Send(packet, 4), 1);
    ASSERT_TRUE(completions.Wait());
    EXPECT_EQ(sendRefusedWhenReported.load(), 1);
}

TEST_F(ChannelTest, AnswerThatDoesNotFitTheReceiveRingEndsTheThread) {
    ASSERT_EQ(channel.Create(kSendCapacity, 16, &Completions::Record, &completions), 1);
    driver().Queue(Action::Answer(MakeSizedReply(43, 0, 17)));
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(channel.Send(packet, 4), 1);
    ASSERT_TRUE(completions.Wait());
    EXPECT_EQ(completions.failed.load(), 1);
}

TEST_F(ChannelTest, ZeroByteAnswerStillCompletesWithNothingToRead) {
    Open();
    driver().Queue(Action::Empty());
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(channel.Send(packet, 4), 1);
    ASSERT_TRUE(completions.Wait());
    EXPECT_EQ(completions.ok.load(), 1);
    uint8_t out[16];
    uint32_t count = 99;
    EXPECT_EQ(channel.Receive(out, 16, &count), 0);
    EXPECT_EQ(count, 0u);
}

TEST_F(ChannelTest, PeekThenReceiveReturnTheSameAnswer) {
    Open();
    const Bytes answer = MakeSizedReply(43, 0, 20);
    driver().Queue(Action::Answer(answer));
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(channel.Send(packet, 4), 1);
    ASSERT_TRUE(completions.Wait());
    uint8_t peeked[64], taken[64];
    uint32_t peekCount = 0, takeCount = 0;
    EXPECT_EQ(channel.Peek(peeked, 64, &peekCount), 1);
    EXPECT_EQ(channel.Receive(taken, 64, &takeCount), 1);
    ASSERT_EQ(peekCount, answer.size());
    ASSERT_EQ(takeCount, answer.size());
    EXPECT_EQ(0, std::memcmp(peeked, taken, answer.size()));
    EXPECT_EQ(channel.Receive(taken, 64, &takeCount), 0);
}

TEST_F(ChannelTest, PurgeDropsQueuedAnswers) {
    Open();
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(channel.Send(packet, 4), 1);
    ASSERT_TRUE(completions.Wait());
    channel.Purge();
    uint8_t out[64];
    uint32_t count = 0;
    EXPECT_EQ(channel.Receive(out, 64, &count), 0);
}

TEST_F(ChannelTest, ShutdownOfIdleChannelMakesNoCallbackAndSecondShutdownIsHarmless) {
    Open();
    channel.Shutdown();
    const uint8_t packet[4] = {0, 4, 7, 42};
    EXPECT_EQ(channel.Send(packet, 4), 0);
    channel.Shutdown();
    EXPECT_EQ(completions.ok.load() + completions.failed.load(), 0);
    EXPECT_EQ(platform::LiveHandleCount(), handleBaseline);
}

// The start barrier: the creation itself learns that the thread's driver is
// not usable, so no send is ever queued for a thread that will not take it.
TEST_F(ChannelTest, DriverNotReadyFailsTheCreationAndRefusesSends) {
    driver().checkStatusResult = 0;
    EXPECT_EQ(channel.Create(256, 0x100000, &Completions::Record, &completions), 0);
    EXPECT_TRUE(channel.ThreadDone());
    const uint8_t packet[4] = {0, 4, 7, 42};
    EXPECT_EQ(channel.Send(packet, 4), 0);
    channel.Shutdown();
    EXPECT_EQ(completions.ok.load() + completions.failed.load(), 0);
    EXPECT_TRUE(driver().Requests().empty());
}

TEST_F(ChannelTest, ChannelWhoseCreationFailedShutsDownWithoutWaiting) {
    AsyncUSB broken;
    EXPECT_EQ(broken.Create(kSendCapacity, 0, &Completions::Record, &completions), 0);  // receive ring fails
    broken.Shutdown();  // must not wait for a thread that never started
    const uint8_t packet[4] = {0, 4, 7, 42};
    EXPECT_EQ(broken.Send(packet, 4), 0);
}

// ---- selector ----

ChannelParams UsbParams() {
    ChannelParams params;
    std::memset(&params, 0, sizeof params);
    params.sendCapacity = kSendCapacity;
    params.receiveCapacity = kReceiveCapacity;
    return params;
}

struct SelectorOwner {
    static std::atomic<int> calls;
    static void Callback(int32_t kind, ChannelStatus* status, MultiIo*) {
        if (kind == transport::ChannelUsb && status->status == 1) calls.fetch_add(1);
    }
};
std::atomic<int> SelectorOwner::calls{0};

using SelectorTest = DriverTest;

TEST_F(SelectorTest, ForwardsCompletionPeeksAndConsumes) {
    MultiIo selector;
    const ChannelParams params = UsbParams();
    ASSERT_EQ(selector.Create(transport::ChannelUsb, &params, &SelectorOwner::Callback), 1);
    SelectorOwner::calls = 0;
    const uint8_t packet[4] = {0, 4, 7, 42};
    ASSERT_EQ(selector.Send(packet, 4), 1);
    uint8_t out[64];
    uint32_t count = 0;
    for (int i = 0; i < 500 && SelectorOwner::calls.load() == 0; ++i) platform::SleepMilliseconds(1);
    ASSERT_EQ(SelectorOwner::calls.load(), 1);
    EXPECT_EQ(selector.Receive(out, 64, 1, &count), 1);
    EXPECT_EQ(selector.Receive(out, 64, 0, &count), 1);
    EXPECT_EQ(selector.Receive(out, 64, 0, &count), 0);
    EXPECT_EQ(count, 0u);
    selector.Destroy();
}

TEST_F(SelectorTest, SecondCreateKeepsTheFirstChannel) {
    MultiIo selector;
    const ChannelParams params = UsbParams();
    ASSERT_EQ(selector.Create(transport::ChannelUsb, &params, nullptr), 1);
    const int handles = platform::LiveHandleCount();
    EXPECT_EQ(selector.Create(transport::ChannelUsb, &params, nullptr), 1);
    EXPECT_EQ(platform::LiveHandleCount(), handles);
    selector.Destroy();
}

TEST_F(SelectorTest, AfterDestroyNothingIsThere) {
    MultiIo selector;
    const ChannelParams params = UsbParams();
    ASSERT_EQ(selector.Create(transport::ChannelUsb, &params, nullptr), 1);
    selector.Destroy();
    EXPECT_EQ(selector.Exists(), 0);
    const uint8_t packet[4] = {0, 4, 7, 42};
    EXPECT_EQ(selector.Send(packet, 4), 0);
}

TEST_F(SelectorTest, FailedCreationIsReleasedByDestroyAndLaterPurgeIsRefused) {
    MultiIo selector;
    const ChannelParams params = UsbParams();
    ASSERT_EQ(selector.Create(transport::ChannelUsb, &params, nullptr), 1);
    selector.Destroy();
    // A failed creation leaves a half-made channel that Destroy must release.
    ChannelParams broken = params;
    broken.receiveCapacity = 0;
    EXPECT_EQ(selector.Create(transport::ChannelUsb, &broken, nullptr), 0);
    selector.Destroy();
    EXPECT_EQ(platform::LiveHandleCount(), handleBaseline);
    EXPECT_EQ(selector.Purge(), 0);  // no channel kind in force
}

}  // namespace
}  // namespace trax::test
