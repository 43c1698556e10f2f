// The Win32 backend of the platform layer against its contract (Platform.h),
// on real kernel objects and the thread's own message queue.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace trax::platform {
namespace {

void DrainMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    }
}

class PlatformWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        DrainMessages();
        handles_ = LiveHandleCount();
    }
    void TearDown() override { EXPECT_EQ(LiveHandleCount(), handles_) << "a handle outlived the test"; }

private:
    int handles_ = 0;
};

TEST_F(PlatformWin32Test, AutoResetEventReleasesOneWaitPerSignal) {
    EventHandle event = CreateAutoEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitOne(event, 0), WaitResult::Timeout);  // created not signalled
    EXPECT_TRUE(SignalEvent(event));
    EXPECT_TRUE(SignalEvent(event));  // a second signal does not count twice
    EXPECT_EQ(WaitOne(event, 0), WaitResult::Signalled0);
    EXPECT_EQ(WaitOne(event, 0), WaitResult::Timeout);
    CloseHandle(event);
}

TEST_F(PlatformWin32Test, WaitEitherReportsTheLowerIndexAndLeavesTheOtherSet) {
    EventHandle first = CreateAutoEvent();
    EventHandle second = CreateAutoEvent();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitEither(first, second, 0), WaitResult::Timeout);
    SignalEvent(second);
    SignalEvent(first);
    EXPECT_EQ(WaitEither(first, second, 0), WaitResult::Signalled0);
    EXPECT_EQ(WaitEither(first, second, 0), WaitResult::Signalled1);
    EXPECT_EQ(WaitEither(first, second, 0), WaitResult::Timeout);
    // The same event twice is a wait on that one event.
    SignalEvent(first);
    EXPECT_EQ(WaitEither(first, first, 0), WaitResult::Signalled0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST_F(PlatformWin32Test, NullHandlesFailInsteadOfBlocking) {
    EXPECT_EQ(WaitOne(EventHandle{}, kInfinite), WaitResult::Failed);
    EXPECT_EQ(WaitEither(nullptr, nullptr, kInfinite), WaitResult::Failed);
    EXPECT_FALSE(SignalEvent(nullptr));
    EXPECT_FALSE(ReleaseLock(nullptr));
    EXPECT_FALSE(TakeLock(nullptr));
    CloseHandle(EventHandle{});
    CloseHandle(LockHandle{});
}

TEST_F(PlatformWin32Test, OneCountLockIsASemaphoreOfOne) {
    LockHandle lock = CreateOneCountLock();
    ASSERT_NE(lock, nullptr);
    EXPECT_TRUE(TryTakeLock(lock));
    EXPECT_FALSE(TryTakeLock(lock));  // not recursive
    EXPECT_TRUE(ReleaseLock(lock));
    EXPECT_FALSE(ReleaseLock(lock));  // already at its maximum of one
    EXPECT_TRUE(TakeLock(lock));
    EXPECT_TRUE(ReleaseLock(lock));
    CloseHandle(lock);
}

TEST_F(PlatformWin32Test, WaitTimesOutAfterRoughlyItsLimit) {
    EventHandle event = CreateAutoEvent();
    ASSERT_NE(event, nullptr);
    const uint64_t start = NowMilliseconds();
    EXPECT_EQ(WaitOne(event, 50), WaitResult::Timeout);
    const uint64_t elapsed = NowMilliseconds() - start;
    EXPECT_GE(elapsed, 40u);
    EXPECT_LT(elapsed, 5000u);
    CloseHandle(event);
}

struct ThreadProbe {
    EventHandle started;
    EventHandle release;
    std::atomic<int> runs{0};
    std::atomic<DWORD> threadId{0};
};

void ProbeRoutine(void* argument) {
    auto* probe = static_cast<ThreadProbe*>(argument);
    probe->threadId = GetCurrentThreadId();
    probe->runs.fetch_add(1);
    SignalEvent(probe->started);
    WaitOne(probe->release, kInfinite);
}

TEST_F(PlatformWin32Test, ThreadRunsItsRoutineAndJoinReleasesIt) {
    ThreadProbe probe;
    probe.started = CreateAutoEvent();
    probe.release = CreateAutoEvent();
    const int before = LiveHandleCount();
    ThreadHandle thread = StartThread(ProbeRoutine, &probe);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(LiveHandleCount(), before + 1);
    ASSERT_EQ(WaitOne(probe.started, 5000), WaitResult::Signalled0);
    EXPECT_NE(probe.threadId.load(), GetCurrentThreadId());
    // The thread is still running: its handle is not signalled yet.
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(thread), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SignalEvent(probe.release);
    JoinThread(thread);
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_EQ(LiveHandleCount(), before);
    CloseHandle(probe.started);
    CloseHandle(probe.release);
}

TEST_F(PlatformWin32Test, NowMillisecondsNeverGoesBack) {
    uint64_t last = NowMilliseconds();
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = NowMilliseconds();
        ASSERT_GE(now, last);
        last = now;
    }
    // It moves on: no claim on how far a sleep takes it, which depends on the
    // tick granularity of the system.
    for (int i = 0; i < 100 && NowMilliseconds() == last; ++i) SleepMilliseconds(20);
    EXPECT_GT(NowMilliseconds(), last);
}

TEST_F(PlatformWin32Test, ExclusiveLockKeepsOtherThreadsOutUntilReleased) {
    ExclusiveLock lock;
    lock.Lock();
    struct Other {
        ExclusiveLock* lock;
        std::atomic<bool> got{false};
        EventHandle done;
    } other{&lock, {}, CreateAutoEvent()};
    ThreadHandle thread = StartThread(
        [](void* argument) {
            auto* o = static_cast<Other*>(argument);
            o->lock->Lock();
            o->got = true;
            o->lock->Unlock();
            SignalEvent(o->done);
        },
        &other);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitOne(other.done, 50), WaitResult::Timeout);
    EXPECT_FALSE(other.got.load());
    lock.Unlock();
    EXPECT_EQ(WaitOne(other.done, 5000), WaitResult::Signalled0);
    EXPECT_TRUE(other.got.load());
    JoinThread(thread);
    CloseHandle(other.done);
}

TEST_F(PlatformWin32Test, NotificationIsAThreadMessageOfTheCallingThread) {
    PostNotification(nullptr, 0, 12, 0);
    MSG msg;
    ASSERT_NE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, 0u);
    EXPECT_EQ(msg.wParam, 12u);
    EXPECT_EQ(msg.lParam, 0);
    EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE), FALSE);
}

TEST_F(PlatformWin32Test, TakeNotificationReadsTheQueueInOrder) {
    PostNotification(nullptr, 0, 255, 0);
    PostNotification(nullptr, 0, 7, 0);
    Notification n{};
    ASSERT_TRUE(TakeNotification(&n));
    EXPECT_EQ(n.message, 0u);
    EXPECT_EQ(n.first, 255u);
    EXPECT_EQ(n.second, 0);
    ASSERT_TRUE(TakeNotification(&n));
    EXPECT_EQ(n.first, 7u);
    EXPECT_FALSE(TakeNotification(&n));
}

TEST_F(PlatformWin32Test, NotificationPostedOnAnotherThreadStaysThere) {
    struct Poster {
        bool gotOwn = false;
        uintptr_t first = 0;
    } poster;
    ThreadHandle thread = StartThread(
        [](void* argument) {
            auto* p = static_cast<Poster*>(argument);
            PostNotification(nullptr, 0, 12, 0);
            Notification n{};
            p->gotOwn = TakeNotification(&n);
            p->first = n.first;
        },
        &poster);
    ASSERT_NE(thread, nullptr);
    JoinThread(thread);
    EXPECT_TRUE(poster.gotOwn);
    EXPECT_EQ(poster.first, 12u);
    Notification n{};
    EXPECT_FALSE(TakeNotification(&n));
}

std::vector<std::string> g_reports;
void RecordAssertion(const char* module, int line) {
    g_reports.push_back(std::string(module) + ":" + std::to_string(line));
}

TEST_F(PlatformWin32Test, AssertionReportNamesTheModuleWithoutFolderOrExtension) {
    g_reports.clear();
    SetAssertionHook(RecordAssertion);
    const uint64_t before = AssertionCount();
    ReportAssertion("C:\\work\\transport\\RingBuffer.cpp", 42);
    ReportAssertion("protocol/Command.cpp", 7);
    const int line = __LINE__ + 1;
    TRAX_ASSERT_FAILED();
    SetAssertionHook(nullptr);
    EXPECT_EQ(AssertionCount(), before + 3);
    EXPECT_EQ(g_reports,
              (std::vector<std::string>{"RingBuffer:42", "Command:7", "PlatformWin32Test:" + std::to_string(line)}));
}

}  // namespace
}  // namespace trax::platform
