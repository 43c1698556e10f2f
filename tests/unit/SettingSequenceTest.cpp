// The order of a setting call's commands and how a failure at each step
// changes what follows: the mode switches around the items, multi-item rows
// stopping at the first refused write, and the text length guard.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/SettingTable.h"
#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdMeasureMode;
using protocol::CmdReadSetting;
using protocol::CmdStatus;
using protocol::CmdWriteSetting;

const std::vector<std::string> kToSettingMode = {"00 04 07 2A", "00 04 07 06", "00 04 07 2A", "00 06 07 1A 00 FF"};
const std::string kToMeasureMode = "00 04 07 04";

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Action WriteResult(uint8_t result) { return Action::Answer(MakeReply(9, 0, {result, 0, 0, 0})); }
Action RefusedMeasureMode() { return Action::Answer(MakeSizedReply(5, 3, 8)); }

class SettingSequenceTest : public DriverTest {};

TEST_F(SettingSequenceTest, ToleranceClearsItem14BeforeWritingLimitsThenItem14) {
    EXPECT_EQ(TRAX_SetTolerance(0, 100, -100, 5), 1);
    EXPECT_EQ(RequestsHex(),
              Join(kToSettingMode, {
                                       "00 0D 07 08 01 00 0E 30 30 30 30 30 30",
                                       "00 16 07 08 01 00 0D 2B 30 30 30 31 30 30 2C 2D 30 30 30 31 30 30",
                                       "00 0D 07 08 01 00 0E 30 30 30 30 30 35",
                                       kToMeasureMode,
                                   }));
}

TEST_F(SettingSequenceTest, RefusedLimitsLeaveItem14AtZeroAndStillSwitchBack) {
    driver().QueueFor(CmdWriteSetting, WriteResult(0));
    driver().QueueFor(CmdWriteSetting, Action::Answer(MakeSizedReply(9, 4, 12)));
    EXPECT_EQ(TRAX_SetTolerance(1, 100, -100, 5), 0);
    EXPECT_EQ(RequestsHex(),
              Join(kToSettingMode, {
                                       "00 0D 07 08 01 01 0E 30 30 30 30 30 30",
                                       "00 16 07 08 01 01 0D 2B 30 30 30 31 30 30 2C 2D 30 30 30 31 30 30",
                                       kToMeasureMode,
                                   }));
}

TEST_F(SettingSequenceTest, WriteResultByteDecidesAcceptance) {
    struct Case {
        uint8_t result;
        int expected;
    };
    for (const Case c : {Case{0, 1}, Case{2, 1}, Case{1, 0}, Case{3, 0}}) {
        SCOPED_TRACE(c.result);
        driver().Reset();
        driver().QueueFor(CmdWriteSetting, WriteResult(c.result));
        EXPECT_EQ(TRAX_SetCalcMethod(0, 1, 1), c.expected);
        // A refused first item stops the row before its second.
        int writes = 0;
        for (const Bytes& r : driver().Requests()) writes += r[3] == CmdWriteSetting;
        EXPECT_EQ(writes, c.expected == 1 ? 2 : 1);
        EXPECT_EQ(Hex(driver().Requests().back()), kToMeasureMode);
    }
}

TEST_F(SettingSequenceTest, FailedSwitchToSettingModeSendsNoItemAndNoSwitchBack) {
    int value = -1;
    for (int getter = 0; getter < 2; ++getter) {
        SCOPED_TRACE(getter);
        driver().Reset();
        driver().QueueFor(CmdStatus, Action::Answer(MakeSizedReply(43, 3, 20)));
        EXPECT_EQ(getter ? TRAX_GetAverage(0, &value) : TRAX_SetAverage(0, 3), 0);
        EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 2A"}));
    }
    EXPECT_EQ(value, -1);
}

// A switch back that failed once is made again, so the controller ends in
// measurement mode, but the call reports the failure.
// The controller answered the switch back: it is where it said, and the
// request is not repeated.
TEST_F(SettingSequenceTest, SwitchBackRefusedIsNotAskedAgain) {
    driver().QueueFor(CmdMeasureMode, RefusedMeasureMode());
    EXPECT_EQ(TRAX_SetSamplingCycle(5), 0);
    EXPECT_EQ(RequestsHex(), Join(kToSettingMode, {"00 08 07 08 02 00 00 05", kToMeasureMode}));
    EXPECT_EQ(driver().mode, 1);
}

TEST_F(SettingSequenceTest, FailedSwitchBackTurnsSuccessIntoFailureButKeepsOutputs) {
    driver().AlwaysFor(CmdMeasureMode, RefusedMeasureMode());
    EXPECT_EQ(TRAX_SetSamplingCycle(5), 0);
    EXPECT_EQ(RequestsHex(), Join(kToSettingMode, {"00 08 07 08 02 00 00 05", kToMeasureMode}));

    driver().Reset();
    driver().AlwaysFor(CmdMeasureMode, RefusedMeasureMode());
    driver().QueueFor(CmdReadSetting, Action::Answer(MakeReply(11, 0, {'+', '0', '0', '1', '.', '2', '3', '4'})));
    int offset = 0;
    EXPECT_EQ(TRAX_GetOffset(0, &offset), 0);
    EXPECT_EQ(offset, 1234);
}

TEST_F(SettingSequenceTest, AlreadyInSettingModeStillEndsInMeasurementMode) {
    driver().mode = 1;
    EXPECT_EQ(TRAX_SetFilterMode(1, 2), 1);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 2A", "00 06 07 1A 00 FF", "00 08 07 08 01 01 04 02",
                                                       kToMeasureMode}));
    EXPECT_EQ(driver().mode, 0);
}

TEST(SettingEncodingTest, TextThatDoesNotFitItsLengthIsNeverEncoded) {
    // A six-digit value in a five-digit signed field grows the text by one.
    api::Step step{};
    step.item = 11;
    step.itemArgument = api::kNoArgument;
    step.use = api::StepWrite;
    step.format = "%+06d";
    step.length = 6;
    step.fieldCount = 1;
    step.fields[0] = api::Field{0, 0, 7};
    api::EncodedStep encoded{};
    const int32_t fits[1] = {-99999};
    ASSERT_TRUE(api::EncodeStep(step, fits, &encoded));
    EXPECT_EQ(std::string(encoded.data, encoded.data + encoded.length), "-99999");
    const int32_t tooWide[1] = {100000};
    EXPECT_FALSE(api::EncodeStep(step, tooWide, &encoded));
}

// A lost exchange ends the channel's I/O thread; the switch back is made on a
// fresh channel in the same call, so the controller does not stay in setting
// mode. The call still fails, and a step after the lost one is never sent.
TEST_F(SettingSequenceTest, LostExchangeInsideTheBracketSwitchesBackOnAFreshChannel) {
    struct Case {
        const char* name;
        uint8_t lost;
        int (*run)();
        std::vector<std::string> sent;
    };
    const Case cases[] = {
        {"setter", CmdWriteSetting, [] { return TRAX_SetCalcMethod(0, 1, 1); },
         Join(kToSettingMode, {"00 08 07 08 01 00 00 01"})},
        {"getter", CmdReadSetting,
         [] {
             int method = -1, parameter = -1;
             return TRAX_GetCalcMethod(0, &method, &parameter);
         },
         Join(kToSettingMode, {"00 08 07 0A 01 00 00 00"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver().Reset();
        driver().QueueFor(c.lost, Action::Failure());
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(RequestsHex(), Join(c.sent, {kToMeasureMode}));
        EXPECT_EQ(driver().mode, 0);
        EXPECT_EQ(session::TheSession().OpenCount(), 0);
    }
}

// Losing the switch back itself: it is made once more, on a fresh channel.
TEST_F(SettingSequenceTest, LostSwitchBackIsMadeAgainOnAFreshChannel) {
    driver().QueueFor(CmdMeasureMode, Action::Failure());
    EXPECT_EQ(TRAX_SetSamplingCycle(2), 0);
    EXPECT_EQ(RequestsHex(), Join(kToSettingMode, {"00 08 07 08 02 00 00 02", kToMeasureMode, kToMeasureMode}));
    EXPECT_EQ(driver().mode, 0);
}

// Once the request to enter setting mode went out, a failed switch may still
// have left the controller there: it is switched back, the call fails.
TEST_F(SettingSequenceTest, SwitchThatFailsAfterItsRequestIsUndone) {
    struct Case {
        const char* name;
        int (*run)();
    };
    const Case cases[] = {
        {"setter", [] { return TRAX_SetAverage(0, 3); }},
        {"mode", [] { return TRAX_SetMode(1); }},
        {"able", [] { return TRAX_AbleStart(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver().Reset();
        // The status after the request is lost: the controller did switch.
        driver().Queue(Action::Answer(MakeSizedReply(43, 0, 20)));
        driver().Queue(Action::Answer(MakeSizedReply(7, 0, 8)));
        driver().Queue(Action::Failure());
        driver().mode = 1;
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(RequestsHex(),
                  (std::vector<std::string>{"00 04 07 2A", "00 04 07 06", "00 04 07 2A", kToMeasureMode}));
        EXPECT_EQ(driver().mode, 0);
    }
}

}  // namespace
}  // namespace trax::test
