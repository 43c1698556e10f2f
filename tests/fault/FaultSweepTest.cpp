// Every exported function, with each exchange of its sequence spoilt in turn:
// lost on the way out, lost on the way back, refused, or cut short. Whatever
// was spoilt, the call fails, leaves no thread, event or lock behind, and the
// controller is left so that the next measured-value read works.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "protocol/Command.h"
#include "session/DeviceSession.h"
#include "tests/fault/FaultDriver.h"
#include "trace/Trace.h"
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
void EnterSettingMode() { ASSERT_EQ(TRAX_SetMode(1), 1); }
void StartStorage() {
    ASSERT_EQ(TRAX_DataStorageInit(), 1);
    ASSERT_EQ(TRAX_DataStorageStart(), 1);
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"SetMode0", [] { return TRAX_SetMode(0); }, nullptr},
        {"SetMode1", [] { return TRAX_SetMode(1); }, nullptr},
        // The mode query from the other mode, and from a running Able
        // adjustment, where it ends the adjustment with its cancel.
        {"SetMode1_FromSettingMode", [] { return TRAX_SetMode(1); }, EnterSettingMode},
        {"SetMode1_DuringAble", [] { return TRAX_SetMode(1); }, StartAble},
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
    case Fault::LateReply:
        return "late reply";
    case Fault::None:
        break;
    }
    return "none";
}

std::mutex linesMutex;
std::vector<std::string> lines;

void Capture(const char* line, int length) {
    std::lock_guard<std::mutex> guard(linesMutex);
    lines.emplace_back(line, static_cast<size_t>(length));
}

// The trace log's call lines since the last look, emptied.
std::vector<std::string> TakeCallLines() {
    std::lock_guard<std::mutex> guard(linesMutex);
    std::vector<std::string> calls;
    for (const std::string& line : lines) {
        if (line.find(" TRAX_") != std::string::npos) calls.push_back(line);
    }
    lines.clear();
    return calls;
}

int assertions = 0;

// Which spoilt exchanges may leave the controller in setting mode: where it
// answered with a refusal, it is in a known state and nothing is retried;
// the Able actions end a spoilt adjustment through the mode query's cancel,
// which leaves a plain setting mode. From there one switch brings it back.
bool MayStayInSettingMode(const Row& row, Fault fault) {
    const std::string name = row.name;
    return fault == Fault::ErrorReply || name.rfind("Able", 0) == 0 || name.rfind("SetMode1_", 0) == 0;
}

class FaultSweep : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        session::SetLibraryUsableForTesting(true);
        // Only a late reply waits for an answer that does not come in time;
        // otherwise the limits only bound how long a fault in the library
        // would hang the sweep.
        UseSweepTiming();
        assertions = 0;
        platform::SetAssertionHook([](const char*, int) { ++assertions; });
        trace::StartForTesting(trace::LevelCalls, &Capture);
        baseline = platform::LiveHandleCount();
    }
    void TearDown() override {
        trace::StopForTesting();
        platform::SetAssertionHook(nullptr);
        protocol::SetEngineTiming(protocol::DefaultEngineTiming());
    }

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
        for (Fault fault :
             {Fault::LostRequest, Fault::LostReply, Fault::ErrorReply, Fault::ShortReply, Fault::LateReply}) {
            SCOPED_TRACE(std::string(FaultName(fault)) + " at exchange " + std::to_string(k));
            Prepare(row);
            PlanFault(k, fault);
            (void)TakeCallLines();
            const int result = row.run();
            const std::vector<std::string> calls = TakeCallLines();
            // A light read is attempted again: then the call may have done
            // everything it promises after all.
            const bool mayRecover = row.retries && fault != Fault::LostRequest && fault != Fault::LostReply;
            if (!mayRecover) {
                EXPECT_EQ(result, 0) << "a spoilt exchange was taken for a success";
            }
            EXPECT_TRUE(result == 0 || result == 1) << "the call returned " << result << ", neither 0 nor 1";
            ASSERT_FALSE(calls.empty()) << "the call wrote no line to the trace log";
            if (result == 0) {
                EXPECT_EQ(calls.back().find("reason not recorded"), std::string::npos) << calls.back();
            }
            EXPECT_EQ(assertions, 0) << "what the controller sent was reported as a fault of the library";
            EXPECT_EQ(session::TheSession().OpenCount(), 0);
            EXPECT_EQ(session::TheSession().Exists(), 0);
            EXPECT_EQ(platform::LiveHandleCount(), baseline) << "a thread, event or lock outlived the call";

            PlanFault(-1, Fault::None);
            FloatValue a{-1, 0.0f}, b{-1, 0.0f};
            if (TRAX_GetCalcData(&a, &b) != 1) {
                EXPECT_TRUE(MayStayInSettingMode(row, fault)) << "the controller was left unable to measure";
                // A running Able adjustment takes two: the first switch's
                // query cancels it and finds setting mode, the second leaves.
                const bool back = TRAX_SetMode(0) == 1 || TRAX_SetMode(0) == 1;
                EXPECT_TRUE(back) << "the controller was left where switching cannot bring it back";
                EXPECT_EQ(TRAX_GetCalcData(&a, &b), 1) << "the controller was left unable to measure";
            }
            EXPECT_EQ(a.status, TRAX_VALUE_VALID);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFunctions, FaultSweep, ::testing::Range<size_t>(0, Rows().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) { return Rows().at(info.param).name; });

// The exported functions, as the header declares them.
std::set<std::string> HeaderFunctions() {
    std::ifstream header(TRAX_PUBLIC_HEADER);
    std::stringstream text;
    text << header.rdbuf();
    const std::string all = text.str();
    const std::regex declaration(R"(TRAX_CALL\s+(TRAX_\w+)\s*\()");
    std::set<std::string> names;
    for (std::sregex_iterator it(all.begin(), all.end(), declaration), end; it != end; ++it) {
        names.insert((*it)[1]);
    }
    return names;
}

// TRAX_SetMode has a row for each direction and two more for the start of
// the mode query (SetMode0, SetMode1, SetMode1_...); every other function has
// exactly one.
TEST(FaultSweepTable, CoversEveryExportedFunctionOnce) {
    const std::set<std::string> declared = HeaderFunctions();
    ASSERT_EQ(declared.size(), 69u) << "the header was not read whole";
    std::map<std::string, int> rowsPerFunction;
    for (const Row& row : Rows()) {
        // "SetMode1_DuringAble" is a row of TRAX_SetMode.
        std::string function = std::string("TRAX_") + row.name;
        function = function.substr(0, function.find('_', 5));
        while (!function.empty() && function.back() >= '0' && function.back() <= '9') function.pop_back();
        ++rowsPerFunction[function];
    }
    for (const std::string& name : declared) {
        const int expected = name == "TRAX_SetMode" ? 4 : 1;
        EXPECT_EQ(rowsPerFunction[name], expected) << name;
    }
    for (const auto& entry : rowsPerFunction) {
        EXPECT_EQ(declared.count(entry.first), 1u) << entry.first << " has a row but is not in the header";
    }
}

}  // namespace
}  // namespace trax::fault
