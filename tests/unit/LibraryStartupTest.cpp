// Library start-up and the counted device session.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "driver/UsbDriver.h"
#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

class LibraryStartupTest : public DriverTest {
protected:
    void TearDown() override {
        session::SetLibraryUsableForTesting(true);
        DriverTest::TearDown();
    }
};

TEST_F(LibraryStartupTest, MakesAllFourDriverCallsInOrder) {
    EXPECT_EQ(session::ProcessAttach(), 1);
    EXPECT_EQ(driver().StartupCalls(), (std::vector<std::string>{
                                           "InitQelUsbTypeParam(10,VoraxUSB_U-0,1)",
                                           "SetUsbType(2)",
                                           "InitUsb(0,0,VoraxUSB_U-0)",
                                           "InitPid(0,0,10)",
                                       }));
    EXPECT_TRUE(session::LibraryUsable());
}

TEST_F(LibraryStartupTest, AnyFailedStepFailsTheStartupButAllFourRun) {
    struct Case {
        long typeParam;
        int initUsb;
        int initPid;
        int expected;
    };
    const Case cases[] = {
        {1, 1, 1, 1}, {0, 1, 1, 0}, {2, 1, 1, 0},   // only 1 counts as success for the type parameters
        {1, 0, 1, 0}, {1, 1, 0, 0}, {1, 7, -1, 1},  // any non-zero counts for InitUsb and InitPid
    };
    for (const Case& c : cases) {
        driver().Reset();
        driver().typeParamResult = c.typeParam;
        driver().initUsbResult = c.initUsb;
        driver().initPidResult = c.initPid;
        EXPECT_EQ(session::ProcessAttach(), c.expected) << c.typeParam << c.initUsb << c.initPid;
        EXPECT_EQ(driver().StartupCalls().size(), 4u);
        EXPECT_EQ(session::LibraryUsable(), c.expected == 1);
    }
}

TEST_F(LibraryStartupTest, UnusableLibrarySendsNothingAndOpensNothing) {
    driver().initUsbResult = 0;
    EXPECT_EQ(session::ProcessAttach(), 0);
    EXPECT_EQ(TRAX_SetMode(0), 0);
    EXPECT_EQ(TRAX_SetMode(1), 0);
    EXPECT_TRUE(driver().Requests().empty());
}

using SessionTest = DriverTest;

TEST_F(SessionTest, OpenThatFailsLeavesCountAndReleasesEverything) {
    session::SessionOpenParamsRecord serial = session::SessionOpenParams;
    serial.kind = 1;  // a channel kind this library does not build
    EXPECT_EQ(session::TheSession().Open(serial), 0);
    EXPECT_EQ(session::TheSession().OpenCount(), 0);
    EXPECT_EQ(platform::LiveHandleCount(), handleBaseline);
}

TEST_F(SessionTest, CloseWithoutOpenIsReportedAndHarmless) {
    session::TheSession().Close();
    EXPECT_EQ(Assertions().size(), 1u);
    EXPECT_EQ(session::TheSession().OpenCount(), 0);
    // The count must not stay below zero: the next open and close balance again.
    ASSERT_EQ(session::TheSession().Open(session::SessionOpenParams), 1);
    session::TheSession().Close();
    EXPECT_EQ(session::TheSession().Exists(), 0);
}

TEST_F(SessionTest, CallsFromSeveralThreadsAreSerialisedWhole) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 25;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kCalls; ++i) {
                // Alternating directions: a switch interleaved with another
                // call's would see the other mode and fail.
                if (TRAX_SetMode((t + i) % 2) != 1) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_GE(driver().ExchangeCount(), kThreads * kCalls);
}

#if !defined(_WIN32)
// A child forked while another thread is inside a call must not inherit the
// locks that call holds: its own first call opens its own session and works.
TEST_F(SessionTest, ChildForkedDuringACallOfAnotherThreadCanCall) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot start threads in the child of a multi-threaded fork";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "ThreadSanitizer cannot start threads in the child of a multi-threaded fork";
#endif
#endif
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool inExchange = false;
    bool open = false;
    Action held = Action::Answer(MakeSizedReply(21, 0, 20));
    held.before = [&] {
        std::unique_lock<std::mutex> hold(gateMutex);
        inExchange = true;
        gateChanged.notify_all();
        gateChanged.wait_for(hold, std::chrono::seconds(10), [&] { return open; });
    };
    driver().QueueFor(protocol::CmdCalcData, held);
    FloatValue a{}, b{};
    std::thread caller([&] { EXPECT_EQ(TRAX_GetCalcData(&a, &b), 1); });
    {
        std::unique_lock<std::mutex> hold(gateMutex);
        gateChanged.wait(hold, [&] { return inExchange; });
    }
    // The fork comes while the other thread is inside its call; the answer
    // is let through a little later, so a fork that waits for the call's end
    // does not wait for ever.
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard<std::mutex> hold(gateMutex);
        open = true;
        gateChanged.notify_all();
    });
    const pid_t child = fork();
    if (child == 0) {
        alarm(5);  // a child that blocks is ended by the alarm and fails the test
        FloatValue x{}, y{};
        const int result = TRAX_GetCalcData(&x, &y);
        _exit(result == 1 && session::TheSession().OpenCount() == 0 ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    opener.join();
    caller.join();
    EXPECT_TRUE(WIFEXITED(status)) << "the child's first call blocked (signal " << WTERMSIG(status) << ")";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "the child's first call failed";
}
#endif

}  // namespace
}  // namespace trax::test
