// Library start-up and the counted device session.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

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

}  // namespace
}  // namespace trax::test
