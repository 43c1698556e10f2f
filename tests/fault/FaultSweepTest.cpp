// Every exported function, with each exchange of its sequence spoilt in turn:
// lost on the way out, lost on the way back, refused, or cut short. Whatever
// was spoilt, the call fails, leaves no thread, event or lock behind, and the
// controller is left so that the next measured-value read works.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "protocol/Command.h"
#include "session/DeviceSession.h"
#include "tests/fault/FaultDriver.h"
#include "trax.h"

namespace trax::fault {
namespace {

struct Row {
    const char* name;
    std::function<int()> run;
    // Brings the controller into the state the call is meant for.
    std::function<void()> setup;
    // Reads the light profile up to three times: a refused or cut attempt
    // may be followed by a good one.
    bool retries = false;
};

int out[6];
FloatValue values[8];
FigureData figure;
LightData light;
unsigned char profile[1024];

void StartAble() { ASSERT_EQ(TRAX_AbleStart(0), 1); }
void StartStorage() {
    ASSERT_EQ(TRAX_DataStorageInit(), 1);
    ASSERT_EQ(TRAX_DataStorageStart(), 1);
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"SetMode0", [] { return TRAX_SetMode(0); }, nullptr},
        {"SetMode1", [] { return TRAX_SetMode(1); }, nullptr},
        {"GetCalcData", [] { return TRAX_GetCalcData(&values[0], &values[1]); }, nullptr},
        {"GetFigureData", [] { return TRAX_GetFigureData(1, &figure); }, nullptr},
        {"ClearFigureData", [] { return TRAX_ClearFigureData(); }, nullptr},
        {"DataStorageInit", [] { return TRAX_DataStorageInit(); }, nullptr},
        {"DataStorageStart", [] { return TRAX_DataStorageStart(); }, nullptr},
        {"DataStorageStop", [] { return TRAX_DataStorageStop(); }, StartStorage},
        {"DataStorageGetStatus", [] { return TRAX_DataStorageGetStatus(0, &out[0], &out[1]); }, StartStorage},
        {"DataStorageGetData", [] { return TRAX_DataStorageGetData(1, 8, values, &out[0]); }, StartStorage},
        {"SetDataStorage", [] { return TRAX_SetDataStorage(1, 500, 2); }, nullptr},
        {"GetDataStorage", [] { return TRAX_GetDataStorage(&out[0], &out[1], &out[2]); }, nullptr},
        {"GetLight", [] { return TRAX_GetLight(0, 1, &light, &out[0], profile); }, nullptr, true},
        {"SetZero", [] { return TRAX_SetZero(2, 1); }, nullptr},
        {"SetTiming", [] { return TRAX_SetTiming(0, 0); }, nullptr},
        {"SetReset", [] { return TRAX_SetReset(1); }, nullptr},
        {"SetPanel", [] { return TRAX_SetPanel(1); }, nullptr},
        {"GetPanel", [] { return TRAX_GetPanel(&out[0]); }, nullptr},
        {"SetPanelLock", [] { return TRAX_SetPanelLock(1); }, nullptr},
        {"SetProgramNo", [] { return TRAX_SetProgramNo(3); }, nullptr},
        {"GetProgramNo", [] { return TRAX_GetProgramNo(&out[0]); }, nullptr},
        {"AbleStart", [] { return TRAX_AbleStart(1); }, nullptr},
        {"AbleStop", [] { return TRAX_AbleStop(); }, StartAble},
        {"AbleCancel", [] { return TRAX_AbleCancel(); }, StartAble},
        {"SetAbleMode", [] { return TRAX_SetAbleMode(0, 1); }, nullptr},
        {"GetAbleMode", [] { return TRAX_GetAbleMode(0, &out[0]); }, nullptr},
        {"SetAbleMinMax", [] { return TRAX_SetAbleMinMax(1, 10, 90); }, nullptr},
        {"GetAbleMinMax", [] { return TRAX_GetAbleMinMax(1, &out[0], &out[1]); }, nullptr},
        {"SetMeasureMode", [] { return TRAX_SetMeasureMode(0, 2); }, nullptr},
        {"GetMeasureMode", [] { return TRAX_GetMeasureMode(0, &out[0]); }, nullptr},
        {"SetNumAlarm", [] { return TRAX_SetNumAlarm(1, 123); }, nullptr},
        {"GetNumAlarm", [] { return TRAX_GetNumAlarm(1, &out[0]); }, nullptr},
        {"SetAlarmLevel", [] { return TRAX_SetAlarmLevel(0, 5); }, nullptr},
        {"GetAlarmLevel", [] { return TRAX_GetAlarmLevel(0, &out[0]); }, nullptr},
        {"SetReflectionMode", [] { return TRAX_SetReflectionMode(1, 1); }, nullptr},
        {"GetReflectionMode", [] { return TRAX_GetReflectionMode(1, &out[0]); }, nullptr},
        {"SetCalcMethod", [] { return TRAX_SetCalcMethod(0, 3, 4); }, nullptr},
        {"GetCalcMethod", [] { return TRAX_GetCalcMethod(0, &out[0], &out[1]); }, nullptr},
        {"SetScaling", [] { return TRAX_SetScaling(0, 1, 100, -200, 300, -400); }, nullptr},
        {"GetScaling", [] { return TRAX_GetScaling(0, 1, &out[0], &out[1], &out[2], &out[3]); }, nullptr},
        {"SetFilterMode", [] { return TRAX_SetFilterMode(1, 2); }, nullptr},
        {"GetFilterMode", [] { return TRAX_GetFilterMode(1, &out[0]); }, nullptr},
        {"SetAverage", [] { return TRAX_SetAverage(0, 7); }, nullptr},
        {"GetAverage", [] { return TRAX_GetAverage(0, &out[0]); }, nullptr},
        {"SetCutOffFrequency", [] { return TRAX_SetCutOffFrequency(1, 3); }, nullptr},
        {"GetCutOffFrequency", [] { return TRAX_GetCutOffFrequency(1, &out[0]); }, nullptr},
        {"SetCalcMode", [] { return TRAX_SetCalcMode(0, 4); }, nullptr},
        {"GetCalcMode", [] { return TRAX_GetCalcMode(0, &out[0]); }, nullptr},
        {"SetTriggerMode", [] { return TRAX_SetTriggerMode(1, 1); }, nullptr},
        {"GetTriggerMode", [] { return TRAX_GetTriggerMode(1, &out[0]); }, nullptr},
        {"SetOffset", [] { return TRAX_SetOffset(0, -1234); }, nullptr},
        {"GetOffset", [] { return TRAX_GetOffset(0, &out[0]); }, nullptr},
        {"SetDisplayUnit", [] { return TRAX_SetDisplayUnit(1, 2); }, nullptr},
        {"GetDisplayUnit", [] { return TRAX_GetDisplayUnit(1, &out[0]); }, nullptr},
        {"SetAnalogScaling", [] { return TRAX_SetAnalogScaling(0, 1000, 20, -1000, -20); }, nullptr},
        {"GetAnalogScaling", [] { return TRAX_GetAnalogScaling(0, &out[0], &out[1], &out[2], &out[3]); }, nullptr},
        {"SetAnalogThrough", [] { return TRAX_SetAnalogThrough(1, 1); }, nullptr},
        {"GetAnalogThrough", [] { return TRAX_GetAnalogThrough(1, &out[0]); }, nullptr},
        {"SetTolerance", [] { return TRAX_SetTolerance(0, 500, -500, 10); }, nullptr},
        {"GetTolerance", [] { return TRAX_GetTolerance(0, &out[0], &out[1], &out[2]); }, nullptr},
        {"SetSamplingCycle", [] { return TRAX_SetSamplingCycle(3); }, nullptr},
        {"GetSamplingCycle", [] { return TRAX_GetSamplingCycle(&out[0]); }, nullptr},
        {"SetMutualInterferencePrevention", [] { return TRAX_SetMutualInterferencePrevention(1); }, nullptr},
        {"GetMutualInterferencePrevention", [] { return TRAX_GetMutualInterferencePrevention(&out[0]); }, nullptr},
        {"SetTimingSynchronization", [] { return TRAX_SetTimingSynchronization(1); }, nullptr},
        {"GetTimingSynchronization", [] { return TRAX_GetTimingSynchronization(&out[0]); }, nullptr},
        {"SetToleranceComparatorOutputFormat", [] { return TRAX_SetToleranceComparatorOutputFormat(2); }, nullptr},
        {"GetToleranceComparatorOutputFormat", [] { return TRAX_GetToleranceComparatorOutputFormat(&out[0]); },
         nullptr},
        {"SetStorobeTime", [] { return TRAX_SetStorobeTime(3); }, nullptr},
        {"GetStorobeTime", [] { return TRAX_GetStorobeTime(&out[0]); }, nullptr},
    };
    return rows;
}

const char* FaultName(Fault fault) {
    switch (fault) {
    case Fault::LostRequest:
        return "lost request";
    case Fault::LostReply:
        return "lost reply";
    case Fault::ErrorReply:
        return "error reply";
    case Fault::ShortReply:
        return "short reply";
    case Fault::None:
        break;
    }
    return "none";
}

class FaultSweep : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        session::SetLibraryUsableForTesting(true);
        // Nothing in the sweep waits for a reply that does not come, so the
        // limits only bound how long a fault in the library would hang it.
        protocol::EngineTiming timing = protocol::DefaultEngineTiming();
        timing.replyWaitMs = 2000;
        timing.busyLimitMs = 2000;
        protocol::SetEngineTiming(timing);
        platform::SetAssertionHook([](const char*, int) {});
        baseline = platform::LiveHandleCount();
    }
    void TearDown() override { protocol::SetEngineTiming(protocol::DefaultEngineTiming()); }

    void Prepare(const Row& row) {
        ResetController();
        if (row.setup) row.setup();
    }

    int baseline = 0;
};

TEST_P(FaultSweep, EveryExchangeSpoiltInEveryWay) {
    const Row& row = Rows().at(GetParam());
    SCOPED_TRACE(row.name);
    Prepare(row);
    ASSERT_FALSE(HasFatalFailure());
    PlanFault(-1, Fault::None);
    ASSERT_EQ(row.run(), 1) << "the unspoilt call works";
    const int exchanges = ExchangeCount();
    ASSERT_GT(exchanges, 0);

    for (int k = 0; k < exchanges; ++k) {
        for (Fault fault : {Fault::LostRequest, Fault::LostReply, Fault::ErrorReply, Fault::ShortReply}) {
            SCOPED_TRACE(std::string(FaultName(fault)) + " at exchange " + std::to_string(k));
            Prepare(row);
            PlanFault(k, fault);
            const int result = row.run();
            // A light read is attempted again: then the call may have done
            // everything it promises after all.
            const bool mayRecover = row.retries && (fault == Fault::ErrorReply || fault == Fault::ShortReply);
            if (!mayRecover) {
                EXPECT_EQ(result, 0);
            }
            EXPECT_TRUE(result == 0 || result == 1);
            EXPECT_EQ(session::TheSession().OpenCount(), 0);
            EXPECT_EQ(session::TheSession().Exists(), 0);
            EXPECT_EQ(platform::LiveHandleCount(), baseline) << "a thread, event or lock outlived the call";

            PlanFault(-1, Fault::None);
            FloatValue a{-1, 0.0f}, b{-1, 0.0f};
            EXPECT_EQ(TRAX_GetCalcData(&a, &b), 1) << "the controller was left unable to measure";
            EXPECT_EQ(a.status, TRAX_VALUE_VALID);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFunctions, FaultSweep, ::testing::Range<size_t>(0, Rows().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) { return Rows().at(info.param).name; });

// TRAX_SetMode has a row for each direction; every other function has one.
TEST(FaultSweepTable, CoversAllExportedFunctions) { EXPECT_EQ(Rows().size(), 69u + 1u); }

}  // namespace
}  // namespace trax::fault
