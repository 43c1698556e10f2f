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
                      // The cancel never arrived: what the probe left in the
                      // record says nothing about the cancel, so the mode is
                      // not decided from it.
                      CancelWriteCase{"ExchangeLost", Action::Failure(), 0},
                      CancelWriteCase{"NothingArrives", Action::Empty(), 0}),
    [](const ::testing::TestParamInfo<CancelWriteCase>& info) { return info.param.name; });

}  // namespace
}  // namespace trax::test

namespace trax::test {
namespace {

// What goes on the wire when a step of a mode switch fails. Where the
// controller answered (a refusal, an error reply, a status that says where it
// is), it is in a known state and exactly the listed packets go out; only an
// exchange that got no answer (the driver failed, or nothing came back) is
// followed by a switch back, on a fresh channel when the old one died.
struct RecoveryCase {
    const char* name;
    int (*run)();
    std::vector<std::pair<uint8_t, Action>> script;
    int startMode;
    int expected;
    std::vector<std::string> requests;
};

const std::string kStatus = "00 04 07 2A";
const std::string kProbe = "00 06 07 1A 00 FF";
const std::string kToSetting = "00 04 07 06";
const std::string kToMeasure = "00 04 07 04";
const std::string kProgramWrite = "00 08 07 08 04 FF 00 03";
const std::string kAbleStop = "00 07 07 08 00 00 08";
const std::string kAbleCancel = "00 07 07 08 00 00 09";
const std::string kAbleStart = "00 07 07 08 00 00 07";

int SetMode1() { return TRAX_SetMode(1); }
int SetProgram() { return TRAX_SetProgramNo(3); }
int AbleStop() { return TRAX_AbleStop(); }
int AbleCancel() { return TRAX_AbleCancel(); }
int AbleStart() { return TRAX_AbleStart(0); }

Action Refusal(uint8_t replyCode, uint8_t error) { return Action::Answer(MakeSizedReply(replyCode, error, 12)); }
Action ErrorReply(uint8_t error) { return Action::Answer(MakeSizedReply(255, error, 8)); }

const std::vector<RecoveryCase>& RecoveryCases() {
    static const std::vector<RecoveryCase> cases = {
        {"SwitchBackRefused",
         SetProgram,
         {{4, Refusal(5, 9)}},
         0,
         0,
         {kStatus, kToSetting, kStatus, kProbe, kProgramWrite, kToMeasure}},
        {"SwitchBackErrorReply",
         SetProgram,
         {{4, ErrorReply(9)}},
         0,
         0,
         {kStatus, kToSetting, kStatus, kProbe, kProgramWrite, kToMeasure}},
        {"SwitchBackLost",
         SetProgram,
         {{4, Action::Failure()}},
         0,
         0,
         {kStatus, kToSetting, kStatus, kProbe, kProgramWrite, kToMeasure, kToMeasure}},
        {"SettingRequestRefused", SetMode1, {{6, Refusal(7, 3)}}, 0, 0, {kStatus, kToSetting}},
        {"SettingRequestErrorReply", SetMode1, {{6, ErrorReply(3)}}, 0, 0, {kStatus, kToSetting}},
        {"StatusStillSaysMeasurement", SetMode1, {{6, Refusal(7, 0)}}, 0, 0, {kStatus, kToSetting, kStatus}},
        // Accepted, the status says "other mode", and the probe gets an error
        // reply: undetermined, but answered, so no switch back.
        {"ProbeAfterRequestErrorReply",
         SetMode1,
         {{CmdProbeSettingMode, ErrorReply(9)}},
         0,
         0,
         {kStatus, kToSetting, kStatus, kProbe}},
        {"StatusAfterRequestRefused",
         SetMode1,
         {{CmdStatus, Action::Answer(MakeSizedReply(43, 0, 20))},
          {CmdStatus, Action::Answer(MakeSizedReply(43, 3, 20))}},
         0,
         0,
         {kStatus, kToSetting, kStatus}},
        {"SettingRequestLost", SetMode1, {{6, Action::Failure()}}, 0, 0, {kStatus, kToSetting, kToMeasure}},
        {"SettingRequestUnanswered", SetMode1, {{6, Action::Empty()}}, 0, 0, {kStatus, kToSetting, kToMeasure}},
        {"AbleStopSwitchBackRefused", AbleStop, {{4, Refusal(5, 3)}}, 1, 0, {kAbleStop, kToMeasure}},
        {"AbleCancelSwitchBackRefused", AbleCancel, {{4, Refusal(5, 3)}}, 1, 0, {kAbleCancel, kToMeasure}},
        {"AbleCancelSwitchBackErrorReply", AbleCancel, {{4, ErrorReply(3)}}, 1, 0, {kAbleCancel, kToMeasure}},
        {"AbleStopSwitchBackLost", AbleStop, {{4, Action::Failure()}}, 1, 0, {kAbleStop, kToMeasure, kToMeasure}},
        {"AbleStartWriteRefused",
         AbleStart,
         {{8, Refusal(9, 3)}},
         0,
         0,
         {kStatus, kToSetting, kStatus, kProbe, kAbleStart, kToMeasure}},
        {"AbleStartWriteLost",
         AbleStart,
         {{8, Action::Failure()}},
         0,
         0,
         {kStatus, kToSetting, kStatus, kProbe, kAbleStart, kToMeasure}},
    };
    return cases;
}

class RecoveryTest : public DriverTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(RecoveryTest, SendsExactlyTheListedPackets) {
    const RecoveryCase& c = RecoveryCases().at(GetParam());
    ShortEngineLimits limits(100, 100);
    driver().mode = c.startMode;
    for (const auto& step : c.script) driver().QueueFor(step.first, step.second);
    EXPECT_EQ(c.run(), c.expected);
    EXPECT_EQ(RequestsHex(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(AfterAFailedStep, RecoveryTest, ::testing::Range<size_t>(0, RecoveryCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return RecoveryCases().at(info.param).name;
                         });

}  // namespace
}  // namespace trax::test
