#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdLight;

// Figures are (extra, hidden, f0, f1, f2, f3); profile byte i is i * seed.
Bytes LightReply(const std::array<uint16_t, 6>& figures, uint8_t seed, uint8_t error = 0) {
    Bytes reply = MakeSizedReply(25, error, 1046);
    for (size_t i = 0; i < figures.size(); ++i) {
        reply[10 + 2 * i] = static_cast<uint8_t>(figures[i] >> 8);
        reply[11 + 2 * i] = static_cast<uint8_t>(figures[i] & 0xFF);
    }
    for (int i = 0; i < 1024; ++i) reply[22 + i] = static_cast<uint8_t>(i * seed);
    return reply;
}

class LightApiTest : public DriverTest {
protected:
    LightData data{{-1, -1, -1, -1}};
    int extra = -1;
    std::array<unsigned char, 1024> profile{};

    int Read(int head, int selector) { return TRAX_GetLight(head, selector, &data, &extra, profile.data()); }
    bool Untouched() const {
        for (int v : data.values) {
            if (v != -1) return false;
        }
        for (unsigned char b : profile) {
            if (b != 0) return false;
        }
        return extra == -1;
    }
};

TEST_F(LightApiTest, RequestCarriesHeadAndSelector) {
    EXPECT_EQ(Read(1, 3), 1);
    EXPECT_EQ(RequestsHex(), std::vector<std::string>{"00 06 07 18 01 03"});
}

TEST_F(LightApiTest, ArgumentsOutOfRangeSendNothing) {
    const std::pair<int, int> cases[] = {{2, 0}, {-1, 0}, {0, 4}, {0, -1}, {1, 255}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << ", " << c.second);
        EXPECT_EQ(Read(c.first, c.second), 0);
    }
    EXPECT_TRUE(driver().Requests().empty());
    EXPECT_TRUE(Untouched());
}

TEST_F(LightApiTest, FiguresAreUnsignedAndProfileIsCopiedUnchanged) {
    const Bytes reply = LightReply({0xFFFF, 0x1234, 0xFFFF, 0x8000, 0x0001, 0x0000}, 7);
    driver().QueueFor(CmdLight, Action::Answer(reply));
    ASSERT_EQ(Read(0, 1), 1);
    EXPECT_EQ(data.values[0], 65535);
    EXPECT_EQ(data.values[1], 32768);
    EXPECT_EQ(data.values[2], 1);
    EXPECT_EQ(data.values[3], 0);
    EXPECT_EQ(extra, 65535);
    EXPECT_EQ(std::memcmp(profile.data(), reply.data() + 22, 1024), 0);
}

TEST_F(LightApiTest, ExtraFigureIsOptional) {
    driver().QueueFor(CmdLight, Action::Answer(LightReply({9, 0, 1, 2, 3, 4}, 3)));
    EXPECT_EQ(TRAX_GetLight(1, 0, &data, nullptr, profile.data()), 1);
    EXPECT_EQ(data.values[3], 4);
    EXPECT_EQ(profile[1023], static_cast<unsigned char>(1023 * 3));
}

struct AttemptCase {
    const char* name;
    Bytes failedAttempt;
};

TEST_F(LightApiTest, FailedAttemptsAreRetriedUpToThreeTimes) {
    Bytes shortReply = LightReply({1, 1, 1, 1, 1, 1}, 1);
    shortReply.pop_back();
    shortReply[0] = static_cast<uint8_t>(shortReply.size() >> 8);
    shortReply[1] = static_cast<uint8_t>(shortReply.size() & 0xFF);
    const AttemptCase cases[] = {
        {"error byte", LightReply({1, 1, 1, 1, 1, 1}, 1, 4)},
        {"error reply", MakeSizedReply(255, 4, 8)},
        {"short reply", shortReply},
    };
    for (const AttemptCase& c : cases) {
        SCOPED_TRACE(c.name);
        // One failure, then a good reply: the outputs are the second reply's.
        driver().ClearRecords();
        data = LightData{{-1, -1, -1, -1}};
        driver().QueueFor(CmdLight, Action::Answer(c.failedAttempt));
        driver().QueueFor(CmdLight, Action::Answer(LightReply({5, 0, 6, 7, 8, 9}, 11)));
        EXPECT_EQ(Read(1, 3), 1);
        EXPECT_EQ(driver().ExchangeCount(), 2);
        EXPECT_EQ(data.values[0], 6);
        EXPECT_EQ(extra, 5);
        EXPECT_EQ(profile[5], 55);

        // Three failures: nothing written, no fourth request.
        driver().ClearRecords();
        data = LightData{{-1, -1, -1, -1}};
        extra = -1;
        profile.fill(0);
        for (int i = 0; i < 3; ++i) driver().QueueFor(CmdLight, Action::Answer(c.failedAttempt));
        driver().QueueFor(CmdLight, Action::Answer(LightReply({5, 0, 6, 7, 8, 9}, 11)));
        EXPECT_EQ(Read(1, 3), 0);
        EXPECT_EQ(driver().ExchangeCount(), 3);
        EXPECT_TRUE(Untouched());
        driver().Reset();
    }
}

// The engine's clock, counting how often a transaction starts its wait. The
// first exchange is held back until the second request is on its way, so its
// answer surely comes after the first wait ran out; the later waits get the
// whole default limit, so only the first one can run out.
std::mutex clockMutex;
std::condition_variable clockChanged;
int waitsStarted = 0;

uint64_t CountingClock() {
    {
        std::lock_guard<std::mutex> hold(clockMutex);
        ++waitsStarted;
        if (waitsStarted == 2) {
            protocol::EngineTiming timing = protocol::DefaultEngineTiming();
            timing.now = &CountingClock;
            protocol::SetEngineTiming(timing);
        }
    }
    clockChanged.notify_all();
    return platform::NowMilliseconds();
}

TEST_F(LightApiTest, AnswerArrivingAfterItsWaitRanOutIsNeverTakenForTheNextRequests) {
    {
        std::lock_guard<std::mutex> hold(clockMutex);
        waitsStarted = 0;
    }
    protocol::EngineTiming timing = protocol::DefaultEngineTiming();
    timing.now = &CountingClock;
    timing.replyWaitMs = 20;
    protocol::SetEngineTiming(timing);
    Action late = Action::Answer(LightReply({1, 0, 2, 3, 4, 5}, 3));
    late.before = [] {
        std::unique_lock<std::mutex> hold(clockMutex);
        clockChanged.wait_for(hold, std::chrono::seconds(20), [] { return waitsStarted >= 2; });
    };
    driver().QueueFor(CmdLight, late);
    driver().QueueFor(CmdLight, Action::Answer(LightReply({5, 0, 6, 7, 8, 9}, 11)));
    EXPECT_EQ(Read(1, 3), 1);
    protocol::SetEngineTiming(protocol::DefaultEngineTiming());
    EXPECT_EQ(driver().ExchangeCount(), 2);
    EXPECT_EQ(data.values[0], 6) << "the abandoned first request's answer was taken";
    EXPECT_EQ(extra, 5);
    EXPECT_EQ(profile[5], 55);
}

}  // namespace
}  // namespace trax::test
