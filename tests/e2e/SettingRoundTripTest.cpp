// Every setter/getter pair, written and read back through the controller at
// both ends of each field's range. Per-head settings are written with
// different values on the two heads, so a call that reaches the wrong head or
// a getter that reads a field from the wrong place does not round-trip.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "E2eSupport.h"

namespace {

using Values = std::vector<int>;

struct SettingPair {
    const char* name;
    bool perHead;
    // The head is ignored by controller-wide settings.
    std::function<int(int head, const Values& v)> set;
    std::function<int(int head, Values& v)> get;
    // The low end of every field, the high end of every field, then mixtures
    // that tell the fields apart. At least two.
    std::vector<Values> samples;
};

void PrintTo(const SettingPair& pair, std::ostream* os) { *os << pair.name; }

// A per-head setting of one value.
SettingPair OneValue(const char* name, int(TRAX_CALL* set)(int, int), int(TRAX_CALL* get)(int, int*), int low,
                     int high) {
    return {name,
            true,
            [set](int h, const Values& v) { return set(h, v[0]); },
            [get](int h, Values& v) { return get(h, &v[0]); },
            {{low}, {high}}};
}

// A controller-wide setting of one value.
SettingPair SystemValue(const char* name, int(TRAX_CALL* set)(int), int(TRAX_CALL* get)(int*), int low, int high) {
    return {name,
            false,
            [set](int, const Values& v) { return set(v[0]); },
            [get](int, Values& v) { return get(&v[0]); },
            {{low}, {high}}};
}

constexpr int kMax6 = 999999;
constexpr int kMax5 = 99999;

SettingPair Scaling(const char* name, int selector) {
    return {name,
            true,
            [selector](int h, const Values& v) { return TRAX_SetScaling(h, selector, v[0], v[1], v[2], v[3]); },
            [selector](int h, Values& v) { return TRAX_GetScaling(h, selector, &v[0], &v[1], &v[2], &v[3]); },
            {{-kMax6, -kMax6, -kMax6, -kMax6},
             {kMax6, kMax6, kMax6, kMax6},
             {-kMax6, kMax6, -kMax6, kMax6},
             {1, -20, 300, -4000}}};
}

const std::vector<SettingPair>& Pairs() {
    static const std::vector<SettingPair> pairs = {
        OneValue("AbleMode", TRAX_SetAbleMode, TRAX_GetAbleMode, 0, 1),
        {"AbleMinMax",
         true,
         [](int h, const Values& v) { return TRAX_SetAbleMinMax(h, v[0], v[1]); },
         [](int h, Values& v) { return TRAX_GetAbleMinMax(h, &v[0], &v[1]); },
         {{1, 1}, {99, 99}, {1, 99}, {40, 41}}},
        OneValue("MeasureMode", TRAX_SetMeasureMode, TRAX_GetMeasureMode, 0, 4),
        OneValue("NumAlarm", TRAX_SetNumAlarm, TRAX_GetNumAlarm, 0, 999),
        OneValue("AlarmLevel", TRAX_SetAlarmLevel, TRAX_GetAlarmLevel, 0, 9),
        OneValue("ReflectionMode", TRAX_SetReflectionMode, TRAX_GetReflectionMode, 0, 1),
        {"CalcMethod",
         true,
         [](int h, const Values& v) { return TRAX_SetCalcMethod(h, v[0], v[1]); },
         [](int h, Values& v) { return TRAX_GetCalcMethod(h, &v[0], &v[1]); },
         {{0, 0}, {5, 9}, {0, 9}, {5, 0}}},
        Scaling("Scaling0", 0),
        Scaling("Scaling1", 1),
        OneValue("FilterMode", TRAX_SetFilterMode, TRAX_GetFilterMode, 0, 2),
        OneValue("Average", TRAX_SetAverage, TRAX_GetAverage, 0, 9),
        OneValue("CutOffFrequency", TRAX_SetCutOffFrequency, TRAX_GetCutOffFrequency, 0, 8),
        OneValue("CalcMode", TRAX_SetCalcMode, TRAX_GetCalcMode, 0, 5),
        OneValue("TriggerMode", TRAX_SetTriggerMode, TRAX_GetTriggerMode, 0, 1),
        {"Offset",
         true,
         [](int h, const Values& v) { return TRAX_SetOffset(h, v[0]); },
         [](int h, Values& v) { return TRAX_GetOffset(h, &v[0]); },
         {{-kMax6}, {kMax6}, {-5}, {1}}},
        OneValue("DisplayUnit", TRAX_SetDisplayUnit, TRAX_GetDisplayUnit, 0, 5),
        {"AnalogScaling",
         true,
         [](int h, const Values& v) { return TRAX_SetAnalogScaling(h, v[0], v[1], v[2], v[3]); },
         [](int h, Values& v) { return TRAX_GetAnalogScaling(h, &v[0], &v[1], &v[2], &v[3]); },
         {{-kMax6, -kMax5, -kMax6, -kMax5},
          {kMax6, kMax5, kMax6, kMax5},
          {kMax6, -kMax5, -kMax6, kMax5},
          {7, -60, 500, -4000}}},
        OneValue("AnalogThrough", TRAX_SetAnalogThrough, TRAX_GetAnalogThrough, 0, 1),
        {"Tolerance",
         true,
         [](int h, const Values& v) { return TRAX_SetTolerance(h, v[0], v[1], v[2]); },
         [](int h, Values& v) { return TRAX_GetTolerance(h, &v[0], &v[1], &v[2]); },
         {{-kMax6, -kMax6, 0}, {kMax6, kMax6, kMax6}, {-1, 2, 3}}},
        SystemValue("SamplingCycle", TRAX_SetSamplingCycle, TRAX_GetSamplingCycle, 0, 5),
        SystemValue("MutualInterferencePrevention", TRAX_SetMutualInterferencePrevention,
                    TRAX_GetMutualInterferencePrevention, 0, 1),
        SystemValue("TimingSynchronization", TRAX_SetTimingSynchronization, TRAX_GetTimingSynchronization, 0, 1),
        SystemValue("ToleranceComparatorOutputFormat", TRAX_SetToleranceComparatorOutputFormat,
                    TRAX_GetToleranceComparatorOutputFormat, 0, 2),
        SystemValue("StorobeTime", TRAX_SetStorobeTime, TRAX_GetStorobeTime, 0, 3),
        {"DataStorage",
         false,
         [](int, const Values& v) { return TRAX_SetDataStorage(v[0], v[1], v[2]); },
         [](int, Values& v) { return TRAX_GetDataStorage(&v[0], &v[1], &v[2]); },
         {{0, 1, 0}, {3, 65536, 9}, {1, 300, 2}}},
        SystemValue("ProgramNo", TRAX_SetProgramNo, TRAX_GetProgramNo, 0, 7),
    };
    return pairs;
}

// Reads a setting into a fresh vector whose entries start as a marker, so an
// output the getter forgot to write shows up.
::testing::AssertionResult ReadBack(const SettingPair& pair, int head, size_t width, Values* out) {
    Values v(width, e2e::kUntouchedInt);
    if (pair.get(head, v) != 1) return ::testing::AssertionFailure() << "get(head " << head << ") returned 0";
    *out = v;
    return ::testing::AssertionSuccess();
}

class SettingRoundTrip : public ::testing::TestWithParam<SettingPair> {};

TEST_P(SettingRoundTrip, BothEndsOfEveryFieldReadBackUnchanged) {
    const SettingPair& pair = GetParam();
    const size_t width = pair.samples[0].size();
    const int heads = pair.perHead ? 2 : 1;

    Values original[2];
    for (int h = 0; h < heads; ++h) ASSERT_TRUE(ReadBack(pair, h, width, &original[h]));

    const size_t n = pair.samples.size();
    for (size_t i = 0; i < n; ++i) {
        // Head B always holds another sample than head A.
        const Values* written[2] = {&pair.samples[i], &pair.samples[(i + 1) % n]};
        for (int h = 0; h < heads; ++h) {
            ASSERT_EQ(pair.set(h, *written[h]), 1) << "head " << h << ", sample " << i;
        }
        for (int h = 0; h < heads; ++h) {
            Values read;
            ASSERT_TRUE(ReadBack(pair, h, width, &read));
            EXPECT_EQ(read, *written[h]) << "head " << h << ", sample " << i;
        }
    }

    for (int h = 0; h < heads; ++h) EXPECT_EQ(pair.set(h, original[h]), 1);
}

INSTANTIATE_TEST_SUITE_P(AllPairs, SettingRoundTrip, ::testing::ValuesIn(Pairs()),
                         [](const ::testing::TestParamInfo<SettingPair>& info) { return info.param.name; });

// The two scaling sets of a head are separate items.
TEST(SettingRoundTripBetweenItems, ScalingSetsHoldTheirOwnValues) {
    ASSERT_EQ(TRAX_SetScaling(0, 0, 11, -22, 33, -44), 1);
    ASSERT_EQ(TRAX_SetScaling(0, 1, -55, 66, -77, 88), 1);
    int v[2][4];
    for (int selector = 0; selector < 2; ++selector) {
        ASSERT_EQ(TRAX_GetScaling(0, selector, &v[selector][0], &v[selector][1], &v[selector][2], &v[selector][3]), 1);
    }
    EXPECT_EQ((Values{v[0][0], v[0][1], v[0][2], v[0][3]}), (Values{11, -22, 33, -44}));
    EXPECT_EQ((Values{v[1][0], v[1][1], v[1][2], v[1][3]}), (Values{-55, 66, -77, 88}));
    EXPECT_EQ(TRAX_SetScaling(0, 0, 0, 0, 100000, 100000), 1);
    EXPECT_EQ(TRAX_SetScaling(0, 1, 0, 0, 100000, 100000), 1);
}

}  // namespace
