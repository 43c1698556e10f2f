#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdCalcData;
using protocol::CmdFigureClear;
using protocol::CmdFigureData;

void PutBE32(Bytes& bytes, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
}

// Payload from byte 8: two unread bytes, unit codes, unit system, A, B.
Bytes CalcReply(uint8_t codes, uint8_t system, int32_t rawA, int32_t rawB) {
    Bytes payload{0, 0, codes, system};
    PutBE32(payload, rawA);
    PutBE32(payload, rawB);
    return MakeReply(21, 0, payload);
}

Bytes FigureReply(uint8_t code, uint8_t system, const int32_t (&values)[7], const int32_t (&integers)[4]) {
    Bytes payload{0, 0, code, system, 0, 0, 0, 0};
    for (int32_t v : values) PutBE32(payload, v);
    for (int32_t v : integers) PutBE32(payload, v);
    return MakeReply(47, 0, payload);
}

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

constexpr FloatValue kUntouched{77, 7.5f};

bool Untouched(const FloatValue& v) { return v.status == kUntouched.status && v.value == kUntouched.value; }

class MeasureApiTest : public DriverTest {};

// ---- requests on the wire --------------------------------------------------

struct RequestCase {
    const char* name;
    std::function<int()> call;
    const char* request;
};

TEST_F(MeasureApiTest, EachReaderSendsItsExactRequest) {
    FigureData figure{};
    const RequestCase cases[] = {
        {"calc data, both heads", [] { return TRAX_GetCalcData(nullptr, nullptr); }, "00 06 07 14 00 FF"},
        {"figure data head A", [&] { return TRAX_GetFigureData(0, &figure); }, "00 06 07 2E 00 FF"},
        {"figure data head B", [&] { return TRAX_GetFigureData(1, &figure); }, "00 06 07 2E 01 FF"},
        {"clear figure data", [] { return TRAX_ClearFigureData(); }, "00 04 07 2C"},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        driver().ClearRecords();
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(RequestsHex(), std::vector<std::string>{c.request});
    }
}

TEST_F(MeasureApiTest, FigureHeadOutOfRangeSendsNothing) {
    FigureData figure{};
    for (int head : {2, -1, 255}) {
        SCOPED_TRACE(head);
        EXPECT_EQ(TRAX_GetFigureData(head, &figure), 0);
    }
    EXPECT_TRUE(driver().Requests().empty());
}

// Every output that must be valid: a NULL there is refused before anything
// is sent, instead of being written through.
TEST_F(MeasureApiTest, NullRequiredOutputReturnsZeroWithNothingSent) {
    LightData light{};
    unsigned char profile[1024];
    const std::pair<const char*, std::function<int()>> calls[] = {
        {"GetFigureData", [] { return TRAX_GetFigureData(0, nullptr); }},
        {"GetLight data", [&] { return TRAX_GetLight(0, 0, nullptr, nullptr, profile); }},
        {"GetLight profile", [&] { return TRAX_GetLight(1, 3, &light, nullptr, nullptr); }},
        {"GetPanel", [] { return TRAX_GetPanel(nullptr); }},
        {"GetProgramNo", [] { return TRAX_GetProgramNo(nullptr); }},
        {"GetAbleMode", [] { return TRAX_GetAbleMode(0, nullptr); }},
        {"GetMeasureMode", [] { return TRAX_GetMeasureMode(0, nullptr); }},
        {"GetNumAlarm", [] { return TRAX_GetNumAlarm(1, nullptr); }},
        {"GetAlarmLevel", [] { return TRAX_GetAlarmLevel(0, nullptr); }},
        {"GetReflectionMode", [] { return TRAX_GetReflectionMode(0, nullptr); }},
        {"GetFilterMode", [] { return TRAX_GetFilterMode(0, nullptr); }},
        {"GetAverage", [] { return TRAX_GetAverage(0, nullptr); }},
        {"GetCutOffFrequency", [] { return TRAX_GetCutOffFrequency(0, nullptr); }},
        {"GetCalcMode", [] { return TRAX_GetCalcMode(0, nullptr); }},
        {"GetTriggerMode", [] { return TRAX_GetTriggerMode(0, nullptr); }},
        {"GetOffset", [] { return TRAX_GetOffset(0, nullptr); }},
        {"GetDisplayUnit", [] { return TRAX_GetDisplayUnit(0, nullptr); }},
        {"GetAnalogThrough", [] { return TRAX_GetAnalogThrough(0, nullptr); }},
        {"GetSamplingCycle", [] { return TRAX_GetSamplingCycle(nullptr); }},
        {"GetMutualInterferencePrevention", [] { return TRAX_GetMutualInterferencePrevention(nullptr); }},
        {"GetTimingSynchronization", [] { return TRAX_GetTimingSynchronization(nullptr); }},
        {"GetToleranceComparatorOutputFormat", [] { return TRAX_GetToleranceComparatorOutputFormat(nullptr); }},
        {"GetStorobeTime", [] { return TRAX_GetStorobeTime(nullptr); }},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.first);
        EXPECT_EQ(call.second(), 0);
        EXPECT_TRUE(driver().Requests().empty());
    }
    // Several outputs: NULLs are skipped and the call goes ahead.
    EXPECT_EQ(TRAX_GetAbleMinMax(0, nullptr, nullptr), 1);
    EXPECT_EQ(TRAX_GetLight(0, 0, &light, nullptr, profile), 1);
}

// ---- measured values -------------------------------------------------------

struct CalcCase {
    const char* name;
    uint8_t codes;
    uint8_t system;
    int32_t rawA, rawB;
    int32_t statusA, statusB;
    float valueA, valueB;
};

TEST_F(MeasureApiTest, CalcDataSplitsUnitByteBetweenHeads) {
    const float inf = INFINITY;
    const CalcCase cases[] = {
        // 0x15: head A metric column 1 (mm, step 0.001), head B column 5 (um, step 0.01).
        {"metric 1 and 5", 0x15, 0, 123456, 123456, 0, 0, 1.235f, 1234.56f},
        // Inch row: column 3 is mil at 0.01, column 2 mil at 0.1.
        {"inch 3 and 2", 0x32, 1, 123456, 123456, 0, 0, 12.35f, 12.3f},
        {"head A marker", 0x15, 0, 0x7FFFFFFF, -50, 3, 0, 0, -0.5f},
        {"over range both sides", 0x11, 0, 100000000, -100000000, 1, 2, inf, -inf},
        {"codes beyond the table", 0xF7, 0, 100, 100, 3, 3, 0, 0},
    };
    for (const CalcCase& c : cases) {
        SCOPED_TRACE(c.name);
        driver().QueueFor(CmdCalcData, Action::Answer(CalcReply(c.codes, c.system, c.rawA, c.rawB)));
        FloatValue a = kUntouched, b = kUntouched;
        ASSERT_EQ(TRAX_GetCalcData(&a, &b), 1);
        EXPECT_EQ(a.status, c.statusA);
        EXPECT_EQ(b.status, c.statusB);
        if (c.statusA == 3)
            EXPECT_EQ(Bits(a.value), 0xFFFFFFFFu);
        else
            EXPECT_FLOAT_EQ(a.value, c.valueA);
        if (c.statusB == 3)
            EXPECT_EQ(Bits(b.value), 0xFFFFFFFFu);
        else
            EXPECT_FLOAT_EQ(b.value, c.valueB);
    }
}

TEST_F(MeasureApiTest, CalcDataSkipsNullOutputs) {
    driver().QueueFor(CmdCalcData, Action::Answer(CalcReply(0x15, 0, 100, 200)));
    FloatValue b = kUntouched;
    EXPECT_EQ(TRAX_GetCalcData(nullptr, &b), 1);
    EXPECT_FLOAT_EQ(b.value, 2.0f);
}

// ---- failures leave every output as it was --------------------------------

struct FailureCase {
    const char* name;
    uint8_t code;
    Bytes reply;
};

TEST_F(MeasureApiTest, CalcDataFailuresWriteNothing) {
    Bytes shortReply = CalcReply(0x15, 0, 100, 200);
    shortReply.pop_back();
    shortReply[1] = static_cast<uint8_t>(shortReply.size());
    Bytes refused = CalcReply(0x15, 0, 100, 200);
    refused[4] = 3;
    const FailureCase cases[] = {
        {"unit system 2", CmdCalcData, CalcReply(0x15, 2, 100, 200)},
        {"unit system 255", CmdCalcData, CalcReply(0x15, 255, 100, 200)},
        {"error byte", CmdCalcData, refused},
        {"error reply", CmdCalcData, MakeSizedReply(255, 12, 8)},
        {"one byte short", CmdCalcData, shortReply},
        {"header and error byte only", CmdCalcData, MakeSizedReply(21, 0, 5)},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        driver().QueueFor(c.code, Action::Answer(c.reply));
        FloatValue a = kUntouched, b = kUntouched;
        EXPECT_EQ(TRAX_GetCalcData(&a, &b), 0);
        EXPECT_TRUE(Untouched(a));
        EXPECT_TRUE(Untouched(b));
    }
}

TEST_F(MeasureApiTest, ShortReplyIsNotFilledFromAnEarlierOne) {
    // A full reply first leaves its values in the shared record.
    driver().QueueFor(CmdCalcData, Action::Answer(CalcReply(0x15, 0, 100, 200)));
    FloatValue a{}, b{};
    ASSERT_EQ(TRAX_GetCalcData(&a, &b), 1);
    driver().QueueFor(CmdCalcData, Action::Answer(MakeReply(21, 0, {0, 0, 0x15, 0, 0, 0, 0, 1})));
    a = kUntouched;
    b = kUntouched;
    EXPECT_EQ(TRAX_GetCalcData(&a, &b), 0);
    EXPECT_TRUE(Untouched(a));
    EXPECT_TRUE(Untouched(b));
}

// ---- figure data -----------------------------------------------------------

TEST_F(MeasureApiTest, FigureDataConvertsAllValuesWithOneUnitAndCopiesIntegers) {
    const int32_t values[7] = {123456, -123450, 49, 50, INT32_MIN, 99999999, 100000000};
    const int32_t integers[4] = {0, -1, 0x7FFFFFFF, -123456789};
    driver().QueueFor(CmdFigureData, Action::Answer(FigureReply(1, 0, values, integers)));
    FigureData figure;
    std::memset(&figure, 0x5A, sizeof figure);
    ASSERT_EQ(TRAX_GetFigureData(1, &figure), 1);

    const int32_t statuses[7] = {0, 0, 0, 0, 3, 0, 1};
    const float expected[7] = {1.235f, -1.235f, 0.0f, 0.001f, 0, 1000.0f, INFINITY};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(figure.values[i].status, statuses[i]);
        if (statuses[i] == 3)
            EXPECT_EQ(Bits(figure.values[i].value), 0xFFFFFFFFu);
        else
            EXPECT_FLOAT_EQ(figure.values[i].value, expected[i]);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(figure.integers[i], integers[i]);
}

TEST_F(MeasureApiTest, FigureDataFailuresLeaveRecordUntouched) {
    const int32_t values[7] = {1, 2, 3, 4, 5, 6, 7};
    const int32_t integers[4] = {1, 2, 3, 4};
    Bytes shortReply = FigureReply(1, 0, values, integers);
    shortReply.pop_back();
    shortReply[1] = static_cast<uint8_t>(shortReply.size());
    Bytes refused = FigureReply(1, 0, values, integers);
    refused[4] = 1;
    const FailureCase cases[] = {
        {"unit system 2", CmdFigureData, FigureReply(1, 2, values, integers)},
        {"error byte", CmdFigureData, refused},
        {"error reply", CmdFigureData, MakeSizedReply(255, 4, 8)},
        {"one byte short", CmdFigureData, shortReply},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        driver().QueueFor(c.code, Action::Answer(c.reply));
        FigureData figure;
        std::memset(&figure, 0x5A, sizeof figure);
        FigureData before = figure;
        EXPECT_EQ(TRAX_GetFigureData(0, &figure), 0);
        EXPECT_EQ(std::memcmp(&figure, &before, sizeof figure), 0);
    }
}

TEST_F(MeasureApiTest, ClearFigureDataNeedsAnAcceptedReply) {
    const FailureCase cases[] = {
        {"error byte", CmdFigureClear, MakeSizedReply(45, 2, 8)},
        {"error reply", CmdFigureClear, MakeSizedReply(255, 2, 8)},
        {"no error byte", CmdFigureClear, Bytes{0, 4, 7, 45}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        driver().QueueFor(c.code, Action::Answer(c.reply));
        EXPECT_EQ(TRAX_ClearFigureData(), 0);
    }
    EXPECT_EQ(TRAX_ClearFigureData(), 1);
}

}  // namespace
}  // namespace trax::test
