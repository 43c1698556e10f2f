// The transaction engine and the device session, below the exported functions.
#include <gtest/gtest.h>

#include <atomic>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::Reply;
using protocol::RunCommand;

class TransactionTest : public DriverTest {
protected:
    session::DeviceSession& s = session::TheSession();
    uint8_t bytes[protocol::kReplyRecordSize] = {};
    Reply reply{bytes, protocol::kReplyRecordSize, 0};

    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(s.Open(session::SessionOpenParams), 1);
    }
    void TearDown() override {
        s.Close();
        DriverTest::TearDown();
    }
    int Status() { return RunCommand(s, protocol::CmdStatus, nullptr, 0, reply); }
    size_t QueuedReceiveBytes() {
        uint8_t scratch[2048];
        uint32_t count = 0;
        (void)s.Receive(scratch, sizeof scratch, 1, &count);  // the count says it all
        return count;
    }
};

TEST_F(TransactionTest, ExpectedCodeSucceedsEvenWithNonZeroErrorByte) {
    driver().Queue(Action::Answer(MakeSizedReply(43, 9, 20)));
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(reply.ErrorByte(), 9);
    EXPECT_EQ(reply.received, 20);
    EXPECT_EQ(reply.U16(0), 20);  // length field in host order
}

TEST_F(TransactionTest, ErrorReplyPostsItsNumberAndFails) {
    driver().Queue(Action::Answer(MakeSizedReply(255, 12, 8)));
    EXPECT_EQ(Status(), 0);
    platform::Notification note{};
    ASSERT_TRUE(platform::TakeNotification(&note));
    EXPECT_EQ(note.message, 0u);
    EXPECT_EQ(note.first, 12u);
    EXPECT_EQ(note.second, 0);
    EXPECT_FALSE(platform::TakeNotification(&note));
}

TEST_F(TransactionTest, UnexpectedReplyCodeFailsWithoutNotification) {
    driver().Queue(Action::Answer(MakeSizedReply(99, 0, 8)));
    EXPECT_EQ(Status(), 0);
    platform::Notification note{};
    EXPECT_FALSE(platform::TakeNotification(&note));
}

TEST_F(TransactionTest, BusyWithNothingBehindWaitsOutTheReplyWait) {
    ShortEngineLimits limits(100, 5000);
    driver().Queue(Action::Answer(MakeSizedReply(68, 0, 8)));
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(driver().ExchangeCount(), 1);  // never sent again
}

// The first reading is the send time; every later one lies at the busy limit.
std::atomic<int> clockReadings{0};
uint64_t ClockJumpingToLimit() { return clockReadings.fetch_add(1) == 0 ? 1000 : 11000; }

TEST_F(TransactionTest, BusyAtOrAfterTheLimitEndsAtOnce) {
    clockReadings = 0;
    protocol::SetEngineTiming(protocol::EngineTiming{&ClockJumpingToLimit, 60000, 10000});
    driver().Queue(Action::Answer(MakeSizedReply(68, 0, 8)));
    EXPECT_EQ(Status(), 0);  // would wait 60 s if the busy reply kept it waiting
    EXPECT_EQ(driver().ExchangeCount(), 1);
    protocol::SetEngineTiming(protocol::DefaultEngineTiming());
}

TEST_F(TransactionTest, LengthMismatchIsDroppedThenWaitGoesOn) {
    ShortEngineLimits limits(100, 100);
    Bytes wrong = MakeSizedReply(43, 0, 20);
    wrong[1] = 30;  // claims 30 bytes, carries 20
    driver().Queue(Action::Answer(wrong));
    EXPECT_EQ(Status(), 0);
    EXPECT_TRUE(Assertions().empty()) << "the controller's bytes are a reason, not a fault of the library";
    EXPECT_EQ(QueuedReceiveBytes(), 0u);
}

TEST_F(TransactionTest, FailedTransactionLeavesBothRingsEmpty) {
    // Two answers in one exchange: the first is not the expected one.
    Bytes two = MakeSizedReply(99, 0, 8);
    driver().Queue(Action::Answer(two));
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(QueuedReceiveBytes(), 0u);
}

TEST_F(TransactionTest, ExchangeFailureKillsTheChannelForTheRestOfTheCall) {
    ShortEngineLimits limits(100, 100);
    driver().Queue(Action::Failure());
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(Status(), 0);  // refused at the send or timed out
    EXPECT_EQ(driver().ExchangeCount(), 1);
}

TEST_F(TransactionTest, NextOpenAfterExchangeFailureGetsAFreshChannel) {
    driver().Queue(Action::Failure());
    EXPECT_EQ(Status(), 0);
    s.Close();
    ASSERT_EQ(s.Open(session::SessionOpenParams), 1);
    EXPECT_EQ(Status(), 1);
}

TEST_F(TransactionTest, StorageReplyLongerThanItsLengthFieldIsAccepted) {
    Bytes big = MakeSizedReply(37, 0, 70000);  // length field wraps
    driver().Queue(Action::Answer(big));
    const uint8_t head = 0;
    Reply& storage = protocol::StorageReply();
    EXPECT_EQ(RunCommand(s, protocol::CmdStorageData, &head, 1, storage), 1);
    EXPECT_EQ(storage.received, 70000);
}

TEST_F(TransactionTest, NestedOpenOnlyCounts) {
    const int handles = platform::LiveHandleCount();
    ASSERT_EQ(s.Open(session::SessionOpenParams), 1);
    EXPECT_EQ(s.OpenCount(), 2);
    EXPECT_EQ(platform::LiveHandleCount(), handles);
    s.Close();
    EXPECT_EQ(s.OpenCount(), 1);
    EXPECT_EQ(s.Exists(), 1);
}

// ---- packets ----

TEST(PacketTest, HeaderAndHeadEncoding) {
    uint8_t packet[4];
    protocol::BuildHeader(packet, 42, 4);
    EXPECT_EQ(Hex(Bytes(packet, packet + 4)), "00 04 07 2A");
    protocol::BuildHeader(packet, 8, 0x0126);
    EXPECT_EQ(Hex(Bytes(packet, packet + 4)), "01 26 07 08");
    EXPECT_EQ(protocol::HeadToWire(0), 0);
    EXPECT_EQ(protocol::HeadToWire(1), 1);
    EXPECT_EQ(protocol::HeadToWire(2), 255);
    EXPECT_EQ(protocol::Swap16(0x1234), 0x3412);
    EXPECT_EQ(protocol::Swap32(0x12345678u), 0x78563412u);
}

using SettingAccessTest = TransactionTest;

TEST_F(SettingAccessTest, WritesAndReadsEncodeTheirAddress) {
    driver().mode = 1;
    const uint8_t one = 3;
    EXPECT_EQ(protocol::WriteSetting(s, reply, 4, 255, 0, &one, 1), 1);
    EXPECT_EQ(protocol::WriteSetting(s, reply, 0, 255, 9, nullptr, 0), 1);
    EXPECT_EQ(protocol::ReadSetting(s, reply, 2, 0, 0), 1);
    EXPECT_EQ(RequestsHex(),
              (std::vector<std::string>{"00 08 07 08 04 FF 00 03", "00 07 07 08 00 FF 09", "00 08 07 0A 02 00 00 00"}));
}

TEST_F(SettingAccessTest, WriteResultByteMustBeZeroOrTwo) {
    driver().mode = 1;
    for (uint8_t outcome : {0, 1, 2, 3}) {
        driver().Queue(Action::Answer(MakeReply(9, 0, {outcome, 0, 0, 0})));
        EXPECT_EQ(protocol::WriteSetting(s, reply, 1, 0, 4, &outcome, 1), (outcome == 0 || outcome == 2) ? 1 : 0)
            << int(outcome);
    }
}

TEST_F(SettingAccessTest, WriteReplyWithoutResultByteFails) {
    driver().mode = 1;
    driver().Queue(Action::Answer(MakeSizedReply(9, 0, 8)));
    const uint8_t value = 1;
    EXPECT_EQ(protocol::WriteSetting(s, reply, 1, 0, 4, &value, 1), 0);
}

// The driver answers just as the call gives up waiting: its answer reaches
// the session's status callback while the session closes. The close must end
// the I/O thread before it closes the reply event that the callback signals
// (on POSIX a freed object, on Windows a handle that may have been reused).
// The driver holds its answer until the close has begun and a little longer,
// then looks whether the reply event is still there; ThreadSanitizer also
// sees the other order as a race on the event.
TEST(SessionCloseOrder, AnswerArrivingDuringTheCloseFindsTheReplyEventAlive) {
    ScriptedDriver& driver = ScriptedDriver::Instance();
    driver.Reset();
    session::SetLibraryUsableForTesting(true);
    const int baseline = platform::LiveHandleCount();
    ShortEngineLimits limits(5, 5);
    session::DeviceSession& s = session::TheSession();
    uint8_t bytes[protocol::kReplyRecordSize] = {};
    Reply reply{bytes, protocol::kReplyRecordSize, 0};

    std::atomic<bool> closing{false};
    std::atomic<bool> eventAlive{false};
    Action late = Action::Answer(MakeSizedReply(43, 0, 20));
    late.before = [&] {
        const uint64_t start = platform::NowMilliseconds();
        while (!closing.load() && platform::NowMilliseconds() - start < 5000) platform::SleepMilliseconds(1);
        platform::SleepMilliseconds(20);
        eventAlive.store(s.ReplyEvent() != nullptr);
    };
    driver.Queue(late);
    ASSERT_EQ(s.Open(session::SessionOpenParams), 1);
    EXPECT_EQ(RunCommand(s, protocol::CmdStatus, nullptr, 0, reply), 0);  // gave up after 5 ms
    closing.store(true);
    s.Close();
    EXPECT_TRUE(eventAlive.load()) << "the reply event was closed before the I/O thread ended";
    EXPECT_EQ(s.OpenCount(), 0);
    EXPECT_EQ(platform::LiveHandleCount(), baseline);
}

// A channel whose driver is not usable fails the open at once: no request
// waits out the reply limit, nothing is sent, nothing is left.
TEST_F(TransactionTest, DriverUnusableAtThreadStartFailsTheNextCallAtOnce) {
    s.Close();
    driver().checkStatusResult = 0;
    EXPECT_EQ(s.Open(session::SessionOpenParams), 0);
    EXPECT_EQ(s.Exists(), 0);
    FloatValue value{-1, -1.0f};
    const uint64_t start = platform::NowMilliseconds();
    EXPECT_EQ(TRAX_GetCalcData(&value, nullptr), 0);
    EXPECT_LT(platform::NowMilliseconds() - start, 5000u);
    EXPECT_EQ(value.status, -1);
    EXPECT_TRUE(driver().Requests().empty());
    driver().checkStatusResult = 1;
    ASSERT_EQ(s.Open(session::SessionOpenParams), 1);
}

}  // namespace
}  // namespace trax::test
