// What a host program sees when the USB path or the controller misbehaves.
// Each suite needs its own controller configuration (see CMakeLists.txt) and
// skips itself without it.
#include <chrono>
#include <functional>
#include <vector>

#include "E2eSupport.h"

namespace {

#define REQUIRE_ENVIRONMENT(name, value)                                               \
    do {                                                                               \
        if (!e2e::EnvironmentIs(name, value)) GTEST_SKIP() << "needs " name "=" value; \
    } while (0)

bool MeasuredValueReadWorks() {
    FloatValue a = e2e::Untouched();
    FloatValue b = e2e::Untouched();
    return TRAX_GetCalcData(&a, &b) == 1 && e2e::InMillimetreBand(a, 0) && e2e::InMillimetreBand(b, 1);
}

// ---- Start-up failure ------------------------------------------------------

// One call of each family, with outputs that must stay as they were.
struct Call {
    const char* name;
    std::function<int()> run;
};

TEST(StartupFailure, EveryCallReturnsZeroAndWritesNothing) {
    REQUIRE_ENVIRONMENT("TRAX_SIM_STARTUP_FAIL", "1");
    int out1 = e2e::kUntouchedInt, out2 = e2e::kUntouchedInt, out3 = e2e::kUntouchedInt;
    FloatValue value = e2e::Untouched();
    FigureData figures{};
    figures.integers[0] = e2e::kUntouchedInt;
    LightData light{};
    light.values[0] = e2e::kUntouchedInt;
    std::vector<unsigned char> profile(1024, 0xEE);

    const Call calls[] = {
        {"SetMode", [] { return TRAX_SetMode(0); }},
        {"GetCalcData", [&] { return TRAX_GetCalcData(&value, nullptr); }},
        {"GetFigureData", [&] { return TRAX_GetFigureData(0, &figures); }},
        {"ClearFigureData", [] { return TRAX_ClearFigureData(); }},
        {"DataStorageInit", [] { return TRAX_DataStorageInit(); }},
        {"DataStorageStart", [] { return TRAX_DataStorageStart(); }},
        {"DataStorageStop", [] { return TRAX_DataStorageStop(); }},
        {"DataStorageGetStatus", [&] { return TRAX_DataStorageGetStatus(0, &out1, &out2); }},
        {"DataStorageGetData", [&] { return TRAX_DataStorageGetData(0, 1, &value, &out1); }},
        {"SetDataStorage", [] { return TRAX_SetDataStorage(0, 100, 0); }},
        {"GetDataStorage", [&] { return TRAX_GetDataStorage(&out1, &out2, &out3); }},
        {"GetLight", [&] { return TRAX_GetLight(0, 0, &light, &out1, profile.data()); }},
        {"SetZero", [] { return TRAX_SetZero(2, 1); }},
        {"SetTiming", [] { return TRAX_SetTiming(2, 0); }},
        {"SetReset", [] { return TRAX_SetReset(2); }},
        {"SetPanel", [] { return TRAX_SetPanel(2); }},
        {"GetPanel", [&] { return TRAX_GetPanel(&out1); }},
        {"SetPanelLock", [] { return TRAX_SetPanelLock(0); }},
        {"SetProgramNo", [] { return TRAX_SetProgramNo(0); }},
        {"GetProgramNo", [&] { return TRAX_GetProgramNo(&out1); }},
        {"AbleStart", [] { return TRAX_AbleStart(0); }},
        {"AbleStop", [] { return TRAX_AbleStop(); }},
        {"AbleCancel", [] { return TRAX_AbleCancel(); }},
        {"SetAverage", [] { return TRAX_SetAverage(0, 4); }},
        {"GetTolerance", [&] { return TRAX_GetTolerance(1, &out1, &out2, &out3); }},
        {"SetSamplingCycle", [] { return TRAX_SetSamplingCycle(2); }},
        {"GetStorobeTime", [&] { return TRAX_GetStorobeTime(&out1); }},
    };
    for (const Call& call : calls) EXPECT_EQ(call.run(), 0) << call.name;

    EXPECT_EQ(out1, e2e::kUntouchedInt);
    EXPECT_EQ(out2, e2e::kUntouchedInt);
    EXPECT_EQ(out3, e2e::kUntouchedInt);
    EXPECT_EQ(value.value, e2e::kUntouched);
    EXPECT_EQ(figures.integers[0], e2e::kUntouchedInt);
    EXPECT_EQ(light.values[0], e2e::kUntouchedInt);
    EXPECT_EQ(profile[0], 0xEE);
}

// ---- Exchange failure ------------------------------------------------------

// TRAX_SIM_FAIL_AFTER=3: three reads go through, the fourth exchange is lost,
// and the read after it works again.
TEST(ExchangeFailure, FourthMeasuredValueReadFailsAndTheNextWorks) {
    REQUIRE_ENVIRONMENT("TRAX_SIM_FAIL_AFTER", "3");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(MeasuredValueReadWorks()) << "read " << i;

    FloatValue a = e2e::Untouched();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TRAX_GetCalcData(&a, nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "a lost exchange is reported at once, not after the reply wait";
    EXPECT_EQ(a.value, e2e::kUntouched);

    EXPECT_TRUE(MeasuredValueReadWorks());
    EXPECT_TRUE(MeasuredValueReadWorks());
}

// TRAX_SIM_FAIL_AFTER=0: the setter's first exchange (the mode query) is
// lost, so nothing is written and the controller stays in measurement mode.
TEST(ExchangeFailure, SettingWriteWhoseFirstExchangeFailsChangesNothing) {
    REQUIRE_ENVIRONMENT("TRAX_SIM_FAIL_AFTER", "0");
    EXPECT_EQ(TRAX_SetAverage(1, 7), 0);
    EXPECT_TRUE(MeasuredValueReadWorks());
    int average = e2e::kUntouchedInt;
    ASSERT_EQ(TRAX_GetAverage(1, &average), 1);
    EXPECT_EQ(average, 4) << "the controller's default, not the value of the failed call";
    EXPECT_EQ(TRAX_SetAverage(1, 7), 1);
    ASSERT_EQ(TRAX_GetAverage(1, &average), 1);
    EXPECT_EQ(average, 7);
}

// TRAX_SIM_FAIL_AFTER=4: the setter's fifth exchange, the write itself, is
// lost after the controller went to setting mode. The call fails, but it
// switches the controller back on a fresh connection, so measuring works at
// once with no mode call in between.
TEST(ExchangeFailure, LostSettingWriteStillLeavesTheControllerMeasuring) {
    REQUIRE_ENVIRONMENT("TRAX_SIM_FAIL_AFTER", "4");
    EXPECT_EQ(TRAX_SetAverage(1, 7), 0);
    EXPECT_TRUE(MeasuredValueReadWorks());
    int average = e2e::kUntouchedInt;
    ASSERT_EQ(TRAX_GetAverage(1, &average), 1);
    EXPECT_EQ(average, 4) << "the lost write changed nothing";
}

// ---- Error reply -----------------------------------------------------------

// TRAX_SIM_ERROR_REPLY=12 on command 20: the measured-value read and the
// panel selection (the same command) fail, everything else works.
TEST(ErrorReply, RefusedCommandReturnsZeroAndOtherCallsStillWork) {
    REQUIRE_ENVIRONMENT("TRAX_SIM_ERROR_REPLY", "12");
    for (int i = 0; i < 2; ++i) {
        FloatValue a = e2e::Untouched(), b = e2e::Untouched();
        EXPECT_EQ(TRAX_GetCalcData(&a, &b), 0);
        EXPECT_EQ(a.value, e2e::kUntouched);
        EXPECT_EQ(b.value, e2e::kUntouched);
        EXPECT_EQ(TRAX_SetPanel(1), 0);

        FigureData f;
        ASSERT_EQ(TRAX_GetFigureData(0, &f), 1);
        EXPECT_TRUE(e2e::InMillimetreBand(f.values[5], 0));
        int panel = e2e::kUntouchedInt;
        EXPECT_EQ(TRAX_GetPanel(&panel), 1);
        EXPECT_EQ(panel, 2) << "the refused selection changed nothing";
        EXPECT_EQ(TRAX_SetAverage(0, 3), 1);
        int average = e2e::kUntouchedInt;
        EXPECT_EQ(TRAX_GetAverage(0, &average), 1);
        EXPECT_EQ(average, 3);
        EXPECT_EQ(TRAX_SetZero(0, 0), 1);
        int state = -1;
        EXPECT_EQ(TRAX_DataStorageGetStatus(0, &state, nullptr), 1);
    }
}

// ---- Busy reply ------------------------------------------------------------

// TRAX_SIM_BUSY_COMMAND=46: the figure read is answered "busy" for ever. The
// library never repeats the request, gives up after its 10-second busy limit,
// and the next call works. The one test that spends that time.
TEST(BusyReply, EndlessBusyFailsAfterTheBusyLimitAndTheNextCallWorks) {
    REQUIRE_ENVIRONMENT("TRAX_SIM_BUSY_COMMAND", "46");
    FigureData f;
    f.integers[0] = e2e::kUntouchedInt;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TRAX_GetFigureData(0, &f), 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(9900));
    EXPECT_LT(elapsed, std::chrono::seconds(15));
    EXPECT_EQ(f.integers[0], e2e::kUntouchedInt);
    EXPECT_TRUE(MeasuredValueReadWorks());
}

}  // namespace
