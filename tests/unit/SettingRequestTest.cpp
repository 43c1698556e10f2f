// What every setter and getter puts on the wire, at both ends of each range,
// and that a value just outside a range sends nothing. Expected packets are
// written out byte by byte, independent of the library's own setting table.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

struct RequestCase {
    const char* call;
    std::function<int()> run;
    // Setting writes and reads in order; empty means the call is rejected.
    std::vector<std::string> settingTraffic;
};

#define CALL(expression) #expression, [] { return expression; }

int o1, o2, o3, o4;

const std::vector<RequestCase> kSetterCases = {
    {CALL(TRAX_SetAbleMode(0, 0)), {"00 08 07 08 00 00 00 00"}},
    {CALL(TRAX_SetAbleMode(1, 1)), {"00 08 07 08 00 01 00 01"}},
    {CALL(TRAX_SetAbleMode(0, 2)), {}},
    {CALL(TRAX_SetAbleMode(2, 0)), {}},
    {CALL(TRAX_SetAbleMode(-1, 0)), {}},
    {CALL(TRAX_SetAbleMinMax(0, 1, 1)), {"00 0C 07 08 00 00 01 30 31 2C 30 31"}},
    {CALL(TRAX_SetAbleMinMax(1, 99, 99)), {"00 0C 07 08 00 01 01 39 39 2C 39 39"}},
    {CALL(TRAX_SetAbleMinMax(1, 5, 50)), {"00 0C 07 08 00 01 01 35 30 2C 30 35"}},  // "50,05"
    {CALL(TRAX_SetAbleMinMax(0, 40, 40)), {"00 0C 07 08 00 00 01 34 30 2C 34 30"}},
    {CALL(TRAX_SetAbleMinMax(0, 41, 40)), {}},
    {CALL(TRAX_SetAbleMinMax(0, 0, 40)), {}},
    {CALL(TRAX_SetAbleMinMax(0, 1, 100)), {}},
    {CALL(TRAX_SetMeasureMode(0, 0)), {"00 08 07 08 00 00 04 00"}},
    {CALL(TRAX_SetMeasureMode(1, 4)), {"00 08 07 08 00 01 04 04"}},
    {CALL(TRAX_SetMeasureMode(0, 5)), {}},
    {CALL(TRAX_SetNumAlarm(0, 0)), {"00 0A 07 08 00 00 05 30 30 30"}},
    {CALL(TRAX_SetNumAlarm(0, 7)), {"00 0A 07 08 00 00 05 30 30 37"}},
    {CALL(TRAX_SetNumAlarm(1, 999)), {"00 0A 07 08 00 01 05 39 39 39"}},
    {CALL(TRAX_SetNumAlarm(0, 1000)), {}},
    {CALL(TRAX_SetNumAlarm(0, -1)), {}},
    {CALL(TRAX_SetAlarmLevel(0, 0)), {"00 08 07 08 00 00 06 00"}},
    {CALL(TRAX_SetAlarmLevel(1, 9)), {"00 08 07 08 00 01 06 09"}},
    {CALL(TRAX_SetAlarmLevel(0, 10)), {}},
    {CALL(TRAX_SetReflectionMode(0, 0)), {"00 08 07 08 00 00 0A 00"}},
    {CALL(TRAX_SetReflectionMode(1, 1)), {"00 08 07 08 00 01 0A 01"}},
    {CALL(TRAX_SetReflectionMode(0, 2)), {}},
    {CALL(TRAX_SetCalcMethod(0, 0, 0)), {"00 08 07 08 01 00 00 00", "00 08 07 08 01 00 01 00"}},
    {CALL(TRAX_SetCalcMethod(1, 5, 9)), {"00 08 07 08 01 01 00 05", "00 08 07 08 01 01 01 09"}},
    {CALL(TRAX_SetCalcMethod(0, 6, 0)), {}},
    {CALL(TRAX_SetCalcMethod(0, 0, 10)), {}},
    {CALL(TRAX_SetScaling(0, 0, -999999, -999999, -999999, -999999)),
     {"00 26 07 08 01 00 02 2D 39 39 39 39 39 39 2C 2D 39 39 39 39 39 39 2C 2D 39 39 39 39 39 39 2C 2D 39 39 39 39 "
      "39 39"}},
    {CALL(TRAX_SetScaling(1, 1, 999999, 999999, 999999, 999999)),
     {"00 26 07 08 01 01 03 2B 39 39 39 39 39 39 2C 2B 39 39 39 39 39 39 2C 2B 39 39 39 39 39 39 2C 2B 39 39 39 39 "
      "39 39"}},
    {CALL(TRAX_SetScaling(0, 2, 0, 0, 0, 0)), {}},
    {CALL(TRAX_SetScaling(0, -1, 0, 0, 0, 0)), {}},
    {CALL(TRAX_SetScaling(0, 0, 1000000, 0, 0, 0)), {}},
    {CALL(TRAX_SetScaling(0, 0, 0, 0, 0, -1000000)), {}},
    {CALL(TRAX_SetFilterMode(0, 0)), {"00 08 07 08 01 00 04 00"}},
    {CALL(TRAX_SetFilterMode(1, 2)), {"00 08 07 08 01 01 04 02"}},
    {CALL(TRAX_SetFilterMode(0, 3)), {}},
    {CALL(TRAX_SetAverage(0, 0)), {"00 08 07 08 01 00 05 00"}},
    {CALL(TRAX_SetAverage(1, 9)), {"00 08 07 08 01 01 05 09"}},
    {CALL(TRAX_SetAverage(0, 10)), {}},
    {CALL(TRAX_SetAverage(2, 3)), {}},
    {CALL(TRAX_SetCutOffFrequency(0, 0)), {"00 08 07 08 01 00 06 00"}},
    {CALL(TRAX_SetCutOffFrequency(1, 8)), {"00 08 07 08 01 01 06 08"}},
    {CALL(TRAX_SetCutOffFrequency(0, 9)), {}},
    {CALL(TRAX_SetCalcMode(0, 0)), {"00 08 07 08 01 00 07 00"}},
    {CALL(TRAX_SetCalcMode(1, 5)), {"00 08 07 08 01 01 07 05"}},
    {CALL(TRAX_SetCalcMode(0, 6)), {}},
    {CALL(TRAX_SetTriggerMode(0, 0)), {"00 08 07 08 01 00 08 00"}},
    {CALL(TRAX_SetTriggerMode(1, 1)), {"00 08 07 08 01 01 08 01"}},
    {CALL(TRAX_SetTriggerMode(0, 2)), {}},
    {CALL(TRAX_SetOffset(0, -999999)), {"00 0E 07 08 01 00 09 2D 39 39 39 39 39 39"}},
    {CALL(TRAX_SetOffset(1, 999999)), {"00 0E 07 08 01 01 09 2B 39 39 39 39 39 39"}},
    {CALL(TRAX_SetOffset(0, -5)), {"00 0E 07 08 01 00 09 2D 30 30 30 30 30 35"}},
    {CALL(TRAX_SetOffset(0, 0)), {"00 0E 07 08 01 00 09 2B 30 30 30 30 30 30"}},
    {CALL(TRAX_SetOffset(0, 1000000)), {}},
    {CALL(TRAX_SetOffset(0, -1000000)), {}},
    {CALL(TRAX_SetDisplayUnit(0, 0)), {"00 08 07 08 01 00 0A 00"}},
    {CALL(TRAX_SetDisplayUnit(1, 5)), {"00 08 07 08 01 01 0A 05"}},
    {CALL(TRAX_SetDisplayUnit(0, 6)), {}},
    {CALL(TRAX_SetAnalogScaling(0, -999999, -99999, -999999, -99999)),
     {"00 24 07 08 01 00 0B 2D 39 39 39 39 39 39 2C 2D 39 39 39 39 39 2C 2D 39 39 39 39 39 39 2C 2D 39 39 39 39 "
      "39"}},
    {CALL(TRAX_SetAnalogScaling(1, 999999, 99999, 999999, 99999)),
     {"00 24 07 08 01 01 0B 2B 39 39 39 39 39 39 2C 2B 39 39 39 39 39 2C 2B 39 39 39 39 39 39 2C 2B 39 39 39 39 "
      "39"}},
    {CALL(TRAX_SetAnalogScaling(0, 0, 100000, 0, 0)), {}},
    {CALL(TRAX_SetAnalogScaling(0, 0, 0, 0, -100000)), {}},
    {CALL(TRAX_SetAnalogScaling(0, 0, -105001, 0, 0)), {}},
    {CALL(TRAX_SetAnalogScaling(0, 1000000, 0, 0, 0)), {}},
    {CALL(TRAX_SetAnalogThrough(0, 0)), {"00 08 07 08 01 00 0C 00"}},
    {CALL(TRAX_SetAnalogThrough(1, 1)), {"00 08 07 08 01 01 0C 01"}},
    {CALL(TRAX_SetAnalogThrough(0, 2)), {}},
    {CALL(TRAX_SetTolerance(0, -999999, -999999, 0)),
     {"00 0D 07 08 01 00 0E 30 30 30 30 30 30", "00 16 07 08 01 00 0D 2D 39 39 39 39 39 39 2C 2D 39 39 39 39 39 39",
      "00 0D 07 08 01 00 0E 30 30 30 30 30 30"}},
    {CALL(TRAX_SetTolerance(1, 999999, 999999, 999999)),
     {"00 0D 07 08 01 01 0E 30 30 30 30 30 30", "00 16 07 08 01 01 0D 2B 39 39 39 39 39 39 2C 2B 39 39 39 39 39 39",
      "00 0D 07 08 01 01 0E 39 39 39 39 39 39"}},
    {CALL(TRAX_SetTolerance(0, 100, -100, 5)),
     {"00 0D 07 08 01 00 0E 30 30 30 30 30 30", "00 16 07 08 01 00 0D 2B 30 30 30 31 30 30 2C 2D 30 30 30 31 30 30",
      "00 0D 07 08 01 00 0E 30 30 30 30 30 35"}},
    {CALL(TRAX_SetTolerance(0, 0, 0, -1)), {}},
    {CALL(TRAX_SetTolerance(0, 0, 0, 1000000)), {}},
    {CALL(TRAX_SetTolerance(0, -1000000, 0, 0)), {}},
    {CALL(TRAX_SetSamplingCycle(0)), {"00 08 07 08 02 00 00 00"}},
    {CALL(TRAX_SetSamplingCycle(5)), {"00 08 07 08 02 00 00 05"}},
    {CALL(TRAX_SetSamplingCycle(6)), {}},
    {CALL(TRAX_SetSamplingCycle(-1)), {}},
    {CALL(TRAX_SetMutualInterferencePrevention(0)), {"00 08 07 08 02 00 01 00"}},
    {CALL(TRAX_SetMutualInterferencePrevention(1)), {"00 08 07 08 02 00 01 01"}},
    {CALL(TRAX_SetMutualInterferencePrevention(2)), {}},
    {CALL(TRAX_SetTimingSynchronization(0)), {"00 08 07 08 02 00 02 00"}},
    {CALL(TRAX_SetTimingSynchronization(1)), {"00 08 07 08 02 00 02 01"}},
    {CALL(TRAX_SetTimingSynchronization(2)), {}},
    {CALL(TRAX_SetToleranceComparatorOutputFormat(0)), {"00 08 07 08 02 00 03 00"}},
    {CALL(TRAX_SetToleranceComparatorOutputFormat(2)), {"00 08 07 08 02 00 03 02"}},
    {CALL(TRAX_SetToleranceComparatorOutputFormat(3)), {}},
    {CALL(TRAX_SetStorobeTime(0)), {"00 08 07 08 02 00 04 00"}},
    {CALL(TRAX_SetStorobeTime(3)), {"00 08 07 08 02 00 04 03"}},
    {CALL(TRAX_SetStorobeTime(4)), {}},
    {CALL(TRAX_SetDataStorage(1, 300, 2)),
     {"00 08 07 08 02 00 05 01", "00 0C 07 08 02 00 06 30 30 33 30 30", "00 08 07 08 02 00 07 02"}},
    {CALL(TRAX_SetDataStorage(3, 65536, 9)),
     {"00 08 07 08 02 00 05 03", "00 0C 07 08 02 00 06 36 35 35 33 36", "00 08 07 08 02 00 07 09"}},
    {CALL(TRAX_SetDataStorage(0, 1, 0)),
     {"00 08 07 08 02 00 05 00", "00 0C 07 08 02 00 06 30 30 30 30 31", "00 08 07 08 02 00 07 00"}},
    {CALL(TRAX_SetDataStorage(4, 300, 2)), {}},
    {CALL(TRAX_SetDataStorage(-1, 300, 2)), {}},
    {CALL(TRAX_SetDataStorage(1, 0, 2)), {}},
    {CALL(TRAX_SetDataStorage(1, 65537, 2)), {}},
    {CALL(TRAX_SetDataStorage(1, 300, 10)), {}},
    {CALL(TRAX_SetDataStorage(1, 300, -1)), {}},
    {CALL(TRAX_SetPanelLock(0)), {"00 08 07 08 03 00 05 00"}},
    {CALL(TRAX_SetPanelLock(1)), {"00 08 07 08 03 00 05 01"}},
    {CALL(TRAX_SetPanelLock(2)), {}},
    {CALL(TRAX_SetProgramNo(0)), {"00 08 07 08 04 FF 00 00"}},
    {CALL(TRAX_SetProgramNo(7)), {"00 08 07 08 04 FF 00 07"}},
    {CALL(TRAX_SetProgramNo(8)), {}},
    {CALL(TRAX_SetProgramNo(-1)), {}},
};

const std::vector<RequestCase> kGetterCases = {
    {CALL(TRAX_GetAbleMode(1, &o1)), {"00 08 07 0A 00 01 00 00"}},
    {CALL(TRAX_GetAbleMinMax(0, &o1, &o2)), {"00 08 07 0A 00 00 01 00"}},
    {CALL(TRAX_GetMeasureMode(1, &o1)), {"00 08 07 0A 00 01 04 00"}},
    {CALL(TRAX_GetNumAlarm(0, &o1)), {"00 08 07 0A 00 00 05 00"}},
    {CALL(TRAX_GetAlarmLevel(1, &o1)), {"00 08 07 0A 00 01 06 00"}},
    {CALL(TRAX_GetReflectionMode(0, &o1)), {"00 08 07 0A 00 00 0A 00"}},
    {CALL(TRAX_GetCalcMethod(1, &o1, &o2)), {"00 08 07 0A 01 01 00 00", "00 08 07 0A 01 01 01 00"}},
    {CALL(TRAX_GetScaling(0, 0, &o1, &o2, &o3, &o4)), {"00 08 07 0A 01 00 02 00"}},
    {CALL(TRAX_GetScaling(1, 1, &o1, &o2, &o3, &o4)), {"00 08 07 0A 01 01 03 00"}},
    {CALL(TRAX_GetFilterMode(0, &o1)), {"00 08 07 0A 01 00 04 00"}},
    {CALL(TRAX_GetAverage(1, &o1)), {"00 08 07 0A 01 01 05 00"}},
    {CALL(TRAX_GetCutOffFrequency(0, &o1)), {"00 08 07 0A 01 00 06 00"}},
    {CALL(TRAX_GetCalcMode(1, &o1)), {"00 08 07 0A 01 01 07 00"}},
    {CALL(TRAX_GetTriggerMode(0, &o1)), {"00 08 07 0A 01 00 08 00"}},
    {CALL(TRAX_GetOffset(1, &o1)), {"00 08 07 0A 01 01 09 00"}},
    {CALL(TRAX_GetDisplayUnit(0, &o1)), {"00 08 07 0A 01 00 0A 00"}},
    {CALL(TRAX_GetAnalogScaling(1, &o1, &o2, &o3, &o4)), {"00 08 07 0A 01 01 0B 00"}},
    {CALL(TRAX_GetAnalogThrough(0, &o1)), {"00 08 07 0A 01 00 0C 00"}},
    {CALL(TRAX_GetTolerance(1, &o1, &o2, &o3)), {"00 08 07 0A 01 01 0D 00", "00 08 07 0A 01 01 0E 00"}},
    {CALL(TRAX_GetSamplingCycle(&o1)), {"00 08 07 0A 02 00 00 00"}},
    {CALL(TRAX_GetMutualInterferencePrevention(&o1)), {"00 08 07 0A 02 00 01 00"}},
    {CALL(TRAX_GetTimingSynchronization(&o1)), {"00 08 07 0A 02 00 02 00"}},
    {CALL(TRAX_GetToleranceComparatorOutputFormat(&o1)), {"00 08 07 0A 02 00 03 00"}},
    {CALL(TRAX_GetStorobeTime(&o1)), {"00 08 07 0A 02 00 04 00"}},
    {CALL(TRAX_GetDataStorage(&o1, &o2, &o3)),
     {"00 08 07 0A 02 00 05 00", "00 08 07 0A 02 00 06 00", "00 08 07 0A 02 00 07 00"}},
    {CALL(TRAX_GetProgramNo(&o1)), {"00 08 07 0A 04 FF 00 00"}},
    {CALL(TRAX_GetOffset(2, &o1)), {}},
    {CALL(TRAX_GetAbleMode(-1, &o1)), {}},
    {CALL(TRAX_GetScaling(0, 2, &o1, &o2, &o3, &o4)), {}},
    {CALL(TRAX_GetScaling(0, -1, &o1, &o2, &o3, &o4)), {}},
};

#undef CALL

class SettingRequestTest : public DriverTest {
protected:
    // Only the setting writes (8) and reads (10); the mode switches around
    // them are covered by the sequence tests.
    std::vector<std::string> SettingTraffic() {
        std::vector<std::string> out;
        for (const Bytes& request : driver().Requests()) {
            if (request.size() > 3 && (request[3] == 0x08 || request[3] == 0x0A)) out.push_back(Hex(request));
        }
        return out;
    }

    void Check(const std::vector<RequestCase>& cases) {
        for (const RequestCase& c : cases) {
            SCOPED_TRACE(c.call);
            driver().Reset();
            const bool accepted = !c.settingTraffic.empty();
            EXPECT_EQ(c.run(), accepted ? 1 : 0);
            if (accepted) {
                EXPECT_EQ(SettingTraffic(), c.settingTraffic);
                EXPECT_EQ(driver().mode, 0) << "not back in measurement mode";
            } else {
                EXPECT_TRUE(driver().Requests().empty());
            }
        }
    }
};

TEST_F(SettingRequestTest, SettersWriteTheirItemsAndRejectValuesOutsideTheirRanges) { Check(kSetterCases); }

TEST_F(SettingRequestTest, GettersReadTheirItemsAndRejectBadSelectors) { Check(kGetterCases); }

TEST_F(SettingRequestTest, WriteIsBracketedBySwitchToSettingModeAndBack) {
    EXPECT_EQ(TRAX_SetStorobeTime(3), 1);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{
                                 "00 04 07 2A",
                                 "00 04 07 06",
                                 "00 04 07 2A",
                                 "00 06 07 1A 00 FF",
                                 "00 08 07 08 02 00 04 03",
                                 "00 04 07 04",
                             }));
}

}  // namespace
}  // namespace trax::test
