// Operating modes, the panel and the Able adjustment: what the controller is
// left doing after each call.
#include <atomic>
#include <thread>
#include <vector>

#include "E2eSupport.h"

namespace {

bool MeasuredValueReadWorks() {
    FloatValue a = e2e::Untouched();
    FloatValue b = e2e::Untouched();
    return TRAX_GetCalcData(&a, &b) == 1 && a.status == TRAX_VALUE_VALID && b.status == TRAX_VALUE_VALID;
}

TEST(ControlAction, SetModeSwitchesBetweenSettingAndMeasurementMode) {
    ASSERT_EQ(TRAX_SetMode(1), 1);
    EXPECT_FALSE(MeasuredValueReadWorks()) << "a measured value read in setting mode";
    EXPECT_EQ(TRAX_SetMode(1), 1) << "already in setting mode";
    ASSERT_EQ(TRAX_SetMode(0), 1);
    EXPECT_TRUE(MeasuredValueReadWorks());
    EXPECT_EQ(TRAX_SetMode(0), 1) << "already in measurement mode";
    EXPECT_TRUE(MeasuredValueReadWorks());
}

// A setting call made in setting mode still hands the controller back in
// measurement mode.
TEST(ControlAction, SettingCallsEndInMeasurementMode) {
    ASSERT_EQ(TRAX_SetMode(1), 1);
    int average = e2e::kUntouchedInt;
    ASSERT_EQ(TRAX_GetAverage(0, &average), 1);
    EXPECT_TRUE(MeasuredValueReadWorks());

    ASSERT_EQ(TRAX_SetMode(1), 1);
    ASSERT_EQ(TRAX_SetAverage(0, average), 1);
    EXPECT_TRUE(MeasuredValueReadWorks());
}

TEST(ControlAction, PanelReadsBackAsSelected) {
    for (int panel : {0, 1, 2, 1, 0}) {
        ASSERT_EQ(TRAX_SetPanel(panel), 1) << panel;
        int read = e2e::kUntouchedInt;
        ASSERT_EQ(TRAX_GetPanel(&read), 1);
        EXPECT_EQ(read, panel);
    }
    EXPECT_EQ(TRAX_SetPanel(2), 1);
}

TEST(ControlAction, PanelLockIsAcceptedBothWaysAndLeavesMeasurementMode) {
    for (int locked : {1, 0}) {
        ASSERT_EQ(TRAX_SetPanelLock(locked), 1) << locked;
        EXPECT_TRUE(MeasuredValueReadWorks());
    }
}

struct AbleEnd {
    const char* name;
    int(TRAX_CALL* end)();
};
const AbleEnd kAbleEnds[] = {{"stop", TRAX_AbleStop}, {"cancel", TRAX_AbleCancel}};

TEST(ControlAction, AbleAdjustmentHoldsSettingModeUntilStoppedOrCancelled) {
    for (const AbleEnd& e : kAbleEnds) {
        for (int head = 0; head < 2; ++head) {
            SCOPED_TRACE(::testing::Message() << e.name << ", head " << head);
            ASSERT_EQ(TRAX_AbleStart(head), 1);
            EXPECT_FALSE(MeasuredValueReadWorks()) << "the adjustment should hold setting mode";
            ASSERT_EQ(e.end(), 1);
            EXPECT_TRUE(MeasuredValueReadWorks()) << "measurement mode after the adjustment";
            int mode = e2e::kUntouchedInt;
            EXPECT_EQ(TRAX_GetAbleMode(head, &mode), 1) << "settings reachable again";
        }
    }
}

// A stray stop or cancel, with no adjustment running, reaches a controller in
// measurement mode, which refuses the setting write; whatever the call
// returns, the controller must stay usable.
TEST(ControlAction, AbleEndWithoutStartLeavesMeasurementMode) {
    for (const AbleEnd& e : kAbleEnds) {
        e.end();
        EXPECT_TRUE(MeasuredValueReadWorks()) << e.name;
        int mode = e2e::kUntouchedInt;
        EXPECT_EQ(TRAX_GetAbleMode(0, &mode), 1) << e.name;
    }
}

// Whole calls are serialised: a setting call's trip through setting mode never
// catches another thread's measured-value read, and each thread reads back
// what it wrote.
TEST(ControlAction, CallsFromSeveralThreadsDoNotInterleave) {
    std::atomic<int> failures{0};
    auto reader = [&failures] {
        for (int i = 0; i < 40; ++i) {
            if (!MeasuredValueReadWorks()) ++failures;
        }
    };
    auto writer = [&failures](int head) {
        for (int i = 0; i < 20; ++i) {
            int value = (i + head) % 10, read = -1;
            if (TRAX_SetAverage(head, value) != 1 || TRAX_GetAverage(head, &read) != 1 || read != value) ++failures;
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    threads.emplace_back(writer, 0);
    threads.emplace_back(writer, 1);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(TRAX_SetAverage(0, 4), 1);
    EXPECT_EQ(TRAX_SetAverage(1, 4), 1);
}

}  // namespace
