// Control actions: their request bytes, the result byte of zero, timing and
// reset, the panel code, and how the Able adjustment departs from the usual
// switch to setting mode and back.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdPanel;
using protocol::CmdReset;
using protocol::CmdStatus;
using protocol::CmdTiming;
using protocol::CmdWriteSetting;
using protocol::CmdZero;

const std::vector<std::string> kToSettingMode = {"00 04 07 2A", "00 04 07 06", "00 04 07 2A", "00 06 07 1A 00 FF"};
const std::string kToMeasureMode = "00 04 07 04";

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ControlCase {
    const char* call;
    std::function<int()> run;
    std::vector<std::string> requests;  // empty: rejected, nothing sent
};

#define CALL(expression) #expression, [] { return expression; }

int panelOut;

const std::vector<ControlCase> kControlCases = {
    {CALL(TRAX_SetZero(2, 1)), {"00 06 07 0C 01 FF"}},
    {CALL(TRAX_SetZero(0, 0)), {"00 06 07 0C 00 00"}},
    {CALL(TRAX_SetZero(0, 2)), {}},
    {CALL(TRAX_SetZero(3, 1)), {}},
    {CALL(TRAX_SetZero(-1, 0)), {}},
    {CALL(TRAX_SetTiming(0, 0)), {"00 06 07 0E 01 00", "00 06 07 0E 00 00"}},
    {CALL(TRAX_SetTiming(0, 1)), {"00 06 07 0E 01 00"}},
    {CALL(TRAX_SetTiming(2, 0)), {"00 06 07 0E 01 FF", "00 06 07 0E 00 FF"}},
    {CALL(TRAX_SetTiming(0, -1)), {}},
    {CALL(TRAX_SetTiming(3, 0)), {}},
    {CALL(TRAX_SetReset(1)), {"00 05 07 10 01"}},
    {CALL(TRAX_SetReset(2)), {"00 05 07 10 FF"}},
    {CALL(TRAX_SetReset(3)), {}},
    {CALL(TRAX_SetPanel(2)), {"00 06 07 14 01 FF"}},
    {CALL(TRAX_SetPanel(0)), {"00 06 07 14 01 00"}},
    {CALL(TRAX_SetPanel(3)), {}},
    {CALL(TRAX_SetPanel(-1)), {}},
    {CALL(TRAX_SetPanelLock(1)), Join(kToSettingMode, {"00 08 07 08 03 00 05 01", kToMeasureMode})},
    {CALL(TRAX_SetPanelLock(2)), {}},
    {CALL(TRAX_SetProgramNo(3)), Join(kToSettingMode, {"00 08 07 08 04 FF 00 03", kToMeasureMode})},
    {CALL(TRAX_SetProgramNo(8)), {}},
    {CALL(TRAX_GetProgramNo(&panelOut)), Join(kToSettingMode, {"00 08 07 0A 04 FF 00 00", kToMeasureMode})},
    {CALL(TRAX_AbleStart(0)), Join(kToSettingMode, {"00 07 07 08 00 00 07"})},
    {CALL(TRAX_AbleStart(1)), Join(kToSettingMode, {"00 07 07 08 00 01 07"})},
    {CALL(TRAX_AbleStart(2)), {}},
    {CALL(TRAX_AbleStart(-1)), {}},
};

#undef CALL

class ControlActionTest : public DriverTest {};

TEST_F(ControlActionTest, RequestBytesAndRejectedArguments) {
    for (const ControlCase& c : kControlCases) {
        SCOPED_TRACE(c.call);
        driver().Reset();
        EXPECT_EQ(c.run(), c.requests.empty() ? 0 : 1);
        EXPECT_EQ(RequestsHex(), c.requests);
    }
}

TEST_F(ControlActionTest, ZeroTimingAndResetSucceedOnlyWithResultByteZero) {
    struct ReplyCase {
        const char* what;
        Bytes (*make)(uint8_t code);
        int expected;
    };
    const ReplyCase replies[] = {
        {"result 0",
         [](uint8_t code) {
             return MakeReply(code, 0, {0, 0, 0, 0});
         },
         1},
        {"result 1",
         [](uint8_t code) {
             return MakeReply(code, 0, {1, 0, 0, 0});
         },
         0},
        {"error byte",
         [](uint8_t code) {
             return MakeReply(code, 2, {0, 0, 0, 0});
         },
         0},
        {"no result byte", [](uint8_t code) { return MakeReply(code, 0); }, 0},
    };
    struct ActionCase {
        uint8_t code;
        int (*run)();
    };
    const ActionCase actions[] = {
        {CmdZero, [] { return TRAX_SetZero(1, 1); }},
        {CmdTiming, [] { return TRAX_SetTiming(1, 1); }},
        {CmdReset, [] { return TRAX_SetReset(0); }},
    };
    for (const ActionCase& a : actions) {
        for (const ReplyCase& r : replies) {
            SCOPED_TRACE(std::to_string(a.code) + " " + r.what);
            driver().Reset();
            driver().QueueFor(a.code, Action::Answer(r.make(static_cast<uint8_t>(a.code + 1))));
            EXPECT_EQ(a.run(), r.expected);
        }
    }
}

TEST_F(ControlActionTest, TimingOffSendsNoOffWhenTheOnFails) {
    driver().QueueFor(CmdTiming, Action::Answer(MakeReply(15, 0, {1})));
    EXPECT_EQ(TRAX_SetTiming(1, 0), 0);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 06 07 0E 01 01"}));

    driver().ClearRecords();
    driver().QueueFor(CmdTiming, Action::Answer(MakeReply(15, 0, {0})));
    driver().QueueFor(CmdTiming, Action::Answer(MakeReply(15, 0, {1})));
    EXPECT_EQ(TRAX_SetTiming(1, 0), 0);
    EXPECT_EQ(driver().Requests().size(), 2u);
}

TEST_F(ControlActionTest, PanelCodeComesFromBitsTwoAndThreeOfByteNine) {
    struct Case {
        uint8_t byte9;
        int result;
        int panel;
    };
    const int untouched = -3;
    const Case cases[] = {
        {0x04, 1, 0}, {0x08, 1, 1}, {0x0C, 1, 2}, {0xF4, 1, 0}, {0x00, 0, untouched}, {0xF3, 0, untouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte9));
        driver().Reset();
        Bytes reply = MakeSizedReply(23, 0, 28);
        reply[9] = c.byte9;
        driver().QueueFor(CmdPanel, Action::Answer(reply));
        int panel = untouched;
        EXPECT_EQ(TRAX_GetPanel(&panel), c.result);
        EXPECT_EQ(panel, c.panel);
        EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 16"}));
    }
}

TEST_F(ControlActionTest, PanelReplyThatIsShortOrRefusedLeavesPanel) {
    int panel = -3;
    Bytes shortReply = MakeSizedReply(23, 0, 12);
    shortReply[9] = 0x08;
    driver().QueueFor(CmdPanel, Action::Answer(shortReply));
    EXPECT_EQ(TRAX_GetPanel(&panel), 0);
    Bytes refused = MakeSizedReply(23, 1, 28);
    refused[9] = 0x08;
    driver().QueueFor(CmdPanel, Action::Answer(refused));
    EXPECT_EQ(TRAX_GetPanel(&panel), 0);
    EXPECT_EQ(panel, -3);

    driver().QueueFor(protocol::CmdCalcData, Action::Answer(MakeSizedReply(21, 6, 20)));
    EXPECT_EQ(TRAX_SetPanel(1), 0);
}

TEST_F(ControlActionTest, AbleStartStaysInSettingModeOnlyWhenItsWriteSucceeds) {
    EXPECT_EQ(TRAX_AbleStart(1), 1);
    EXPECT_EQ(driver().mode, 1);

    driver().Reset();
    driver().QueueFor(CmdWriteSetting, Action::Answer(MakeReply(9, 0, {1})));
    EXPECT_EQ(TRAX_AbleStart(0), 0);
    EXPECT_EQ(RequestsHex(), Join(kToSettingMode, {"00 07 07 08 00 00 07", kToMeasureMode}));

    driver().Reset();
    driver().QueueFor(CmdStatus, Action::Answer(MakeSizedReply(43, 3, 20)));
    EXPECT_EQ(TRAX_AbleStart(0), 0);
    EXPECT_EQ(RequestsHex(), (std::vector<std::string>{"00 04 07 2A"}));
}

TEST_F(ControlActionTest, AbleStopAndCancelAlwaysSwitchBackWithoutEnteringSettingMode) {
    struct Case {
        int(TRAX_CALL* run)();
        const char* write;
    };
    const Case cases[] = {{TRAX_AbleStop, "00 07 07 08 00 00 08"}, {TRAX_AbleCancel, "00 07 07 08 00 00 09"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.write);
        driver().Reset();
        driver().mode = 1;
        EXPECT_EQ(c.run(), 1);
        EXPECT_EQ(RequestsHex(), (std::vector<std::string>{c.write, kToMeasureMode}));

        driver().Reset();
        driver().mode = 1;
        driver().QueueFor(CmdWriteSetting, Action::Answer(MakeSizedReply(9, 4, 12)));
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(RequestsHex(), (std::vector<std::string>{c.write, kToMeasureMode}));
        EXPECT_EQ(driver().mode, 0);

        driver().Reset();
        driver().mode = 1;
        driver().AlwaysFor(protocol::CmdMeasureMode, Action::Answer(MakeSizedReply(5, 3, 8)));
        EXPECT_EQ(c.run(), 0);
        // A refusal is an answer: the switch back is not asked twice.
        EXPECT_EQ(RequestsHex(), (std::vector<std::string>{c.write, kToMeasureMode}));
    }
}

}  // namespace
}  // namespace trax::test
