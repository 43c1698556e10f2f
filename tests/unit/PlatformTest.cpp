// The platform layer's events, one-count locks, thread start and notification
// queue against their contract (Platform.h), on whichever backend is built.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace trax::platform {
namespace {

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override { handles_ = LiveHandleCount(); }
    void TearDown() override { EXPECT_EQ(LiveHandleCount(), handles_) << "a handle outlived the test"; }

private:
    int handles_ = 0;
};

// Single-thread sequences on two events (0, 1) and a lock, none waiting.
enum Op { Signal, Release, Wait, Either, Take };
struct Step {
    Op op;
    int first;   // the event (Signal, Wait, Either); unused for the lock
    int second;  // Either only
    int expect;  // Signal/Release/Take: 1 true, 0 false; Wait/Either: a WaitResult
};
constexpr int S0 = static_cast<int>(WaitResult::Signalled0);
constexpr int S1 = static_cast<int>(WaitResult::Signalled1);
constexpr int TO = static_cast<int>(WaitResult::Timeout);
struct Sequence {
    const char* name;
    std::vector<Step> steps;
};

TEST_F(PlatformTest, SequencesWithoutWaiters) {
    const std::vector<Sequence> sequences = {
        {"event starts unsignalled", {{Wait, 0, 0, TO}}},
        {"two signals release one wait", {{Signal, 0, 0, 1}, {Signal, 0, 0, 1}, {Wait, 0, 0, S0}, {Wait, 0, 0, TO}}},
        {"lower index wins, the other stays set",
         {{Signal, 1, 0, 1}, {Signal, 0, 0, 1}, {Either, 0, 1, S0}, {Either, 0, 1, S1}, {Either, 0, 1, TO}}},
        {"either reports the second alone", {{Signal, 1, 0, 1}, {Either, 0, 1, S1}, {Wait, 0, 0, TO}}},
        {"the same event twice is one event", {{Signal, 0, 0, 1}, {Either, 0, 0, S0}, {Either, 0, 0, TO}}},
        {"lock starts free and is not recursive",
         {{Take, 0, 0, 1}, {Take, 0, 0, 0}, {Release, 0, 0, 1}, {Release, 0, 0, 0}, {Take, 0, 0, 1}}},
        {"a held lock leaves the events alone", {{Take, 0, 0, 1}, {Signal, 1, 0, 1}, {Either, 0, 1, S1}}},
    };
    for (const Sequence& sequence : sequences) {
        EventHandle events[2] = {CreateAutoEvent(), CreateAutoEvent()};
        LockHandle lock = CreateOneCountLock();
        for (size_t i = 0; i < sequence.steps.size(); ++i) {
            const Step& step = sequence.steps[i];
            int got = -1;
            switch (step.op) {
            case Signal:
                got = SignalEvent(events[step.first]) ? 1 : 0;
                break;
            case Release:
                got = ReleaseLock(lock) ? 1 : 0;
                break;
            case Wait:
                got = static_cast<int>(WaitOne(events[step.first], 0));
                break;
            case Either:
                got = static_cast<int>(WaitEither(events[step.first], events[step.second], 0));
                break;
            case Take:
                got = TryTakeLock(lock) ? 1 : 0;
                break;
            }
            EXPECT_EQ(got, step.expect) << sequence.name << ", step " << i;
        }
        for (EventHandle event : events) CloseHandle(event);
        CloseHandle(lock);
    }
}

TEST_F(PlatformTest, NullHandlesFailInsteadOfBlocking) {
    EventHandle event = CreateAutoEvent();
    EXPECT_EQ(WaitOne(EventHandle{}, kInfinite), WaitResult::Failed);
    EXPECT_EQ(WaitEither(event, nullptr, kInfinite), WaitResult::Failed);
    EXPECT_EQ(WaitEither(nullptr, event, kInfinite), WaitResult::Failed);
    EXPECT_FALSE(SignalEvent(nullptr));
    EXPECT_FALSE(ReleaseLock(nullptr));
    EXPECT_FALSE(TakeLock(nullptr));
    CloseHandle(EventHandle{});
    CloseHandle(LockHandle{});
    CloseHandle(event);
}

TEST_F(PlatformTest, TimedWaitsLastAtLeastTheirLimit) {
    EventHandle first = CreateAutoEvent();
    EventHandle second = CreateAutoEvent();
    uint64_t start = NowMilliseconds();
    EXPECT_EQ(WaitOne(first, 30), WaitResult::Timeout);
    EXPECT_GE(NowMilliseconds() - start, 30u);
    start = NowMilliseconds();
    EXPECT_EQ(WaitEither(first, second, 30), WaitResult::Timeout);
    EXPECT_GE(NowMilliseconds() - start, 30u);
    CloseHandle(first);
    CloseHandle(second);
}

// Consumers wait on (work, stop) while a producer hands out work one signal
// at a time: every signal is taken exactly once, whether it found a consumer
// asleep, about to sleep or not waiting at all, and the one stop signal is
// passed on from consumer to consumer.
struct Pool {
    EventHandle work = CreateAutoEvent();
    EventHandle stop = CreateAutoEvent();
    EventHandle taken = CreateAutoEvent();
    std::atomic<int> takes{0};
    std::atomic<int> timeouts{0};
};

void Consume(void* argument) {
    auto* pool = static_cast<Pool*>(argument);
    for (;;) {
        const WaitResult result = WaitEither(pool->work, pool->stop, 5000);
        if (result == WaitResult::Signalled0) {
            pool->takes.fetch_add(1);
            SignalEvent(pool->taken);
        } else if (result == WaitResult::Signalled1) {
            SignalEvent(pool->stop);  // for the next consumer
            return;
        } else {
            pool->timeouts.fetch_add(1);
            return;
        }
    }
}

TEST_F(PlatformTest, EverySignalIsTakenOnceByOneOfSeveralWaiters) {
    Pool pool;
    ThreadHandle consumers[3];
    for (ThreadHandle& consumer : consumers) ASSERT_NE(consumer = StartThread(Consume, &pool), nullptr);
    constexpr int kSignals = 2000;
    for (int i = 0; i < kSignals; ++i) {
        ASSERT_TRUE(SignalEvent(pool.work));
        ASSERT_EQ(WaitOne(pool.taken, 5000), WaitResult::Signalled0) << "signal " << i << " was lost";
    }
    SignalEvent(pool.stop);
    for (ThreadHandle consumer : consumers) JoinThread(consumer);
    EXPECT_EQ(pool.takes.load(), kSignals);
    EXPECT_EQ(pool.timeouts.load(), 0);
    EXPECT_EQ(WaitOne(pool.work, 0), WaitResult::Timeout);
    for (EventHandle object : {pool.work, pool.stop, pool.taken}) CloseHandle(object);
}

struct Counter {
    LockHandle lock = CreateOneCountLock();
    int value = 0;  // guarded by lock
};

void CountUnderLock(void* argument) {
    auto* counter = static_cast<Counter*>(argument);
    for (int i = 0; i < 1000; ++i) {
        if (!TakeLock(counter->lock)) return;
        ++counter->value;
        ReleaseLock(counter->lock);
    }
}

TEST_F(PlatformTest, OneCountLockExcludesOtherThreads) {
    Counter counter;
    ThreadHandle threads[3];
    for (ThreadHandle& thread : threads) ASSERT_NE(thread = StartThread(CountUnderLock, &counter), nullptr);
    for (ThreadHandle thread : threads) JoinThread(thread);
    EXPECT_EQ(counter.value, 3000);
    EXPECT_TRUE(TryTakeLock(counter.lock));  // left free
    CloseHandle(counter.lock);
}

TEST_F(PlatformTest, NotificationsQueuePerThreadInOrder) {
    Notification n{};
    while (TakeNotification(&n)) {
    }
    PostNotification(nullptr, 0, 255, 0);
    PostNotification(nullptr, 0, 7, 0);
    ThreadHandle other = StartThread(
        [](void*) {
            PostNotification(nullptr, 0, 12, 0);  // stays with that thread
        },
        nullptr);
    ASSERT_NE(other, nullptr);
    JoinThread(other);
    ASSERT_TRUE(TakeNotification(&n));
    EXPECT_EQ(n.first, 255u);
    ASSERT_TRUE(TakeNotification(&n));
    EXPECT_EQ(n.first, 7u);
    EXPECT_EQ(n.message, 0u);
    EXPECT_EQ(n.second, 0);
    EXPECT_FALSE(TakeNotification(&n));
}

std::vector<std::string> delivered;
void Collect(const char* module, int line) { delivered.push_back(std::string(module) + ":" + std::to_string(line)); }

// A report made inside a call is shown only after the outermost deferral of
// its thread ended (then the call lock is free); beyond a few, reports are
// counted but not kept, so a fault in a loop cannot pile up boxes.
TEST(AssertionDeferralTest, ReportsWaitForTheOutermostScopeAndAreKeptInOrder) {
    const AssertionHook previous = SetAssertionHook(nullptr);
    SetAssertionSink(&Collect);
    delivered.clear();
    const uint64_t before = AssertionCount();
    {
        const DeferAssertions outer;
        ReportAssertion("/src/transport/AsyncUSB.cpp", 10);
        {
            const DeferAssertions inner;
            ReportAssertion("C:\\src\\session\\DeviceSession.cpp", 20);
        }
        EXPECT_TRUE(delivered.empty()) << "shown while the call was still running";
        for (int i = 0; i < 5; ++i) ReportAssertion("x/Loop.cpp", 30 + i);
    }
    EXPECT_EQ(delivered, (std::vector<std::string>{"AsyncUSB:10", "DeviceSession:20", "Loop:30", "Loop:31"}));
    EXPECT_EQ(AssertionCount(), before + 7);
    ReportAssertion("y/Outside.cpp", 1);
    EXPECT_EQ(delivered.back(), "Outside:1");
    SetAssertionSink(nullptr);
    SetAssertionHook(previous);
}

}  // namespace
}  // namespace trax::platform
