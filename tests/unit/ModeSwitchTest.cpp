#include <gtest/gtest.h>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdProbeSettingMode;
using protocol::CmdStatus;
using protocol::CmdWriteSetting;

class ModeSwitchTest : public DriverTest {};

TEST_F(ModeSwitchTest, SettingModeFromMeasurementQueriesSwitchesAndConfirms) {
    EXPECT_EQ(TRAX_SetMode(1), 1);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{
                                 "00 04 07 2A",        // status: measurement mode
                                 "00 04 07 06",        // to setting mode
                                 "00 04 07 2A",        // status: other mode
                                 "00 06 07 1A 00 FF",  // probe: setting mode
                             }));
    EXPECT_EQ(driver().mode, 1);
}

TEST_F(ModeSwitchTest, SettingModeWhenAlreadyThereSendsNoSwitch) {
    driver().mode = 1;
    EXPECT_EQ(TRAX_SetMode(1), 1);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 2A", "00 06 07 1A 00 FF"}));
}

TEST_F(ModeSwitchTest, MeasurementModeAcceptedAtOnce) {
    driver().mode = 1;
    EXPECT_EQ(TRAX_SetMode(0), 1);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 04"}));
}

TEST_F(ModeSwitchTest, MeasurementModeRefusedWithOtherModeFallsBackToQuery) {
    driver().QueueFor(protocol::CmdMeasureMode, Action::Answer(MakeSizedReply(5, 5, 8)));
    EXPECT_EQ(TRAX_SetMode(0), 1);  // the status query then reports measurement mode
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 04", "00 04 07 2A"}));
}

TEST_F(ModeSwitchTest, OutOfRangeModeSendsNothing) {
    EXPECT_EQ(TRAX_SetMode(2), 0);
    EXPECT_EQ(TRAX_SetMode(-1), 0);
    EXPECT_TRUE(driver().Requests().empty());
}

TEST_F(ModeSwitchTest, ProbeThatFailsLeavesModeUndeterminedAndBothDirectionsFail) {
    ShortEngineLimits limits;
    driver().mode = 1;
    driver().AlwaysFor(CmdProbeSettingMode, Action::Answer(MakeSizedReply(255, 9, 8)));
    driver().AlwaysFor(protocol::CmdMeasureMode, Action::Answer(MakeSizedReply(5, 5, 8)));
    EXPECT_EQ(TRAX_SetMode(1), 0);
    EXPECT_EQ(TRAX_SetMode(0), 0);
}

TEST_F(ModeSwitchTest, AbleCancelWriteDecidesWhenProbeSaysOtherMode) {
    driver().mode = 1;
    driver().QueueFor(CmdProbeSettingMode, Action::Answer(MakeSizedReply(27, 5, 8)));
    EXPECT_EQ(TRAX_SetMode(1), 1);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 2A", "00 06 07 1A 00 FF", "00 07 07 08 00 FF 09"}));
}

TEST_F(ModeSwitchTest, StatusErrorOtherThanFiveFails) {
    driver().QueueFor(CmdStatus, Action::Answer(MakeSizedReply(43, 3, 20)));
    EXPECT_EQ(TRAX_SetMode(1), 0);
    EXPECT_EQ(driver().Requests().size(), 1u);
}

TEST_F(ModeSwitchTest, NoStartedDriverMeansNoTraffic) {
    session::SetLibraryUsableForTesting(false);
    EXPECT_EQ(TRAX_SetMode(1), 0);
    EXPECT_TRUE(driver().Requests().empty());
    EXPECT_EQ(CmdWriteSetting, 8);
}

}  // namespace
}  // namespace trax::test

namespace trax::test {
namespace {

// The probe says "other mode": the Able cancel write decides, and when it is
// refused, the error byte it left behind does.
struct CancelWriteCase {
    const char* name;
    Action cancelAnswer;
    int expected;
};

class CancelWriteTest : public DriverTest, public ::testing::WithParamInterface<CancelWriteCase> {};

TEST_P(CancelWriteTest, DecidesTheMode) {
    ShortEngineLimits limits(100, 100);
    driver().mode = 1;
    driver().QueueFor(protocol::CmdProbeSettingMode, Action::Answer(MakeSizedReply(27, 5, 8)));
    driver().QueueFor(protocol::CmdWriteSetting, GetParam().cancelAnswer);
    EXPECT_EQ(TRAX_SetMode(1), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Probe, CancelWriteTest,
    ::testing::Values(CancelWriteCase{"Accepted", Action::Answer(MakeReply(9, 0, {0, 0, 0, 0})), 1},
                      CancelWriteCase{"RefusedAsOtherMode", Action::Answer(MakeReply(9, 5, {0, 0, 0, 0})), 1},
                      CancelWriteCase{"RefusedOtherwise", Action::Answer(MakeReply(9, 3, {0, 0, 0, 0})), 0},
                      CancelWriteCase{"ResultByteNotDone", Action::Answer(MakeReply(9, 0, {1, 0, 0, 0})), 0},
                      CancelWriteCase{"UnexpectedReply", Action::Answer(MakeSizedReply(99, 0, 8)), 0},
                      // Nothing read: the probe's own "other mode" still stands in the record.
                      CancelWriteCase{"ExchangeLost", Action::Failure(), 1}),
    [](const ::testing::TestParamInfo<CancelWriteCase>& info) { return info.param.name; });

}  // namespace
}  // namespace trax::test
