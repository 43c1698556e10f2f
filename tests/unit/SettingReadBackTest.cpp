// How getters turn the controller's setting data into integers, and what they
// do with replies that are short, refused or partly missing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdReadSetting;

constexpr int kUntouched = -7777;

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }
Action ReadReply(const Bytes& data) { return Action::Answer(MakeReply(11, 0, data)); }
Action RefusedRead() { return Action::Answer(MakeSizedReply(11, 3, 12)); }

class SettingReadBackTest : public DriverTest {
protected:
    int ReadCount() {
        int count = 0;
        for (const Bytes& request : driver().Requests()) count += request.size() > 3 && request[3] == CmdReadSetting;
        return count;
    }
    bool SwitchedBack() {
        const std::vector<Bytes> requests = driver().Requests();
        return !requests.empty() && Hex(requests.back()) == "00 04 07 04";
    }
};

TEST_F(SettingReadBackTest, TextFieldsLoseTheirPointAndConvertAsDecimal) {
    struct Case {
        const char* data;
        int expected;
    };
    const Case cases[] = {
        {"+001.234", 1234}, {"-000.500", -500}, {"+0012345", 12345}, {"-0000001", -1},
        {"+.......", 0},    {"        ", 0},    {"abcdefgh", 0},     {"  -12.34", -1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        driver().Reset();
        driver().QueueFor(CmdReadSetting, ReadReply(Text(c.data)));
        int offset = kUntouched;
        EXPECT_EQ(TRAX_GetOffset(0, &offset), 1);
        EXPECT_EQ(offset, c.expected);
    }
}

TEST_F(SettingReadBackTest, NarrowFieldsAreConvertedWithoutPointRemoval) {
    driver().QueueFor(CmdReadSetting, ReadReply(Text("1.5")));
    int numAlarm = kUntouched;
    EXPECT_EQ(TRAX_GetNumAlarm(0, &numAlarm), 1);
    EXPECT_EQ(numAlarm, 1);

    // A reply that ends right after its last field is complete.
    driver().QueueFor(CmdReadSetting, ReadReply(Text("50,05")));
    int min = kUntouched, max = kUntouched;
    EXPECT_EQ(TRAX_GetAbleMinMax(1, &min, &max), 1);
    EXPECT_EQ(max, 50);
    EXPECT_EQ(min, 5);
}

TEST_F(SettingReadBackTest, MultiFieldItemsReadEachFieldAtItsOffset) {
    int v[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.000,-002.500,+000.003,-999.999")));
    EXPECT_EQ(TRAX_GetScaling(0, 1, &v[0], &v[1], &v[2], &v[3]), 1);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{1000, -2500, 3, -999999}));

    // Analog scaling alternates wide and narrow fields.
    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.234,-01.234,+0000.01,+99.999")));
    EXPECT_EQ(TRAX_GetAnalogScaling(0, &v[0], &v[1], &v[2], &v[3]), 1);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{1234, -1234, 1, 99999}));

    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.000,-001.000")));
    driver().QueueFor(CmdReadSetting, ReadReply(Text("00000.5")));
    EXPECT_EQ(TRAX_GetTolerance(1, &v[0], &v[1], &v[2]), 1);
    EXPECT_EQ(std::vector<int>(v, v + 3), (std::vector<int>{1000, -1000, 5}));
}

TEST_F(SettingReadBackTest, ByteItemsPassTheControllersValueThrough) {
    int value = kUntouched;
    driver().QueueFor(CmdReadSetting, ReadReply({200}));
    EXPECT_EQ(TRAX_GetStorobeTime(&value), 1);
    EXPECT_EQ(value, 200);
    driver().QueueFor(CmdReadSetting, ReadReply({0xFF}));
    EXPECT_EQ(TRAX_GetProgramNo(&value), 1);
    EXPECT_EQ(value, 255);
    driver().QueueFor(CmdReadSetting, ReadReply({9}));
    driver().QueueFor(CmdReadSetting, ReadReply({200}));
    int method = kUntouched, parameter = kUntouched;
    EXPECT_EQ(TRAX_GetCalcMethod(0, &method, &parameter), 1);
    EXPECT_EQ(method, 9);
    EXPECT_EQ(parameter, 200);
}

TEST_F(SettingReadBackTest, ReplyEndingInsideAFieldFailsAndLeavesOutputs) {
    int v[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.23")));
    EXPECT_EQ(TRAX_GetOffset(0, &v[0]), 0);
    EXPECT_EQ(v[0], kUntouched);
    EXPECT_TRUE(SwitchedBack());

    driver().QueueFor(CmdReadSetting, ReadReply({}));
    EXPECT_EQ(TRAX_GetAverage(0, &v[0]), 0);
    EXPECT_EQ(v[0], kUntouched);

    driver().QueueFor(CmdReadSetting, ReadReply(Text("50,0")));
    EXPECT_EQ(TRAX_GetAbleMinMax(0, &v[0], &v[1]), 0);

    // One byte short of the last field: the earlier fields are not taken either.
    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.234,-01.234,+0000.01,+99.99")));
    EXPECT_EQ(TRAX_GetAnalogScaling(0, &v[0], &v[1], &v[2], &v[3]), 0);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>(4, kUntouched)));
}

TEST_F(SettingReadBackTest, NullOutputsAreSkippedButEveryItemIsStillRead) {
    EXPECT_EQ(TRAX_GetTolerance(0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ReadCount(), 2);

    driver().ClearRecords();
    driver().QueueFor(CmdReadSetting, ReadReply({4}));
    driver().QueueFor(CmdReadSetting, ReadReply({6}));
    int parameter = kUntouched;
    EXPECT_EQ(TRAX_GetCalcMethod(0, nullptr, &parameter), 1);
    EXPECT_EQ(ReadCount(), 2);
    EXPECT_EQ(parameter, 6);

    int value3 = kUntouched;
    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.000,-002.500,+000.003,-999.999")));
    EXPECT_EQ(TRAX_GetScaling(1, 0, nullptr, nullptr, &value3, nullptr), 1);
    EXPECT_EQ(value3, 3);
}

TEST_F(SettingReadBackTest, RefusedReadStopsTheRowAndKeepsEarlierOutputs) {
    int v1 = kUntouched, v2 = kUntouched, v3 = kUntouched;
    driver().QueueFor(CmdReadSetting, RefusedRead());
    EXPECT_EQ(TRAX_GetTolerance(0, &v1, &v2, &v3), 0);
    EXPECT_EQ(ReadCount(), 1);
    EXPECT_EQ(v1, kUntouched);
    EXPECT_TRUE(SwitchedBack());

    driver().ClearRecords();
    driver().QueueFor(CmdReadSetting, ReadReply(Text("+001.000,-001.000")));
    driver().QueueFor(CmdReadSetting, RefusedRead());
    EXPECT_EQ(TRAX_GetTolerance(0, &v1, &v2, &v3), 0);
    EXPECT_EQ(ReadCount(), 2);
    EXPECT_EQ(v1, 1000);
    EXPECT_EQ(v2, -1000);
    EXPECT_EQ(v3, kUntouched);

    driver().ClearRecords();
    driver().QueueFor(CmdReadSetting, RefusedRead());
    EXPECT_EQ(TRAX_GetCalcMethod(0, &v1, &v2), 0);
    EXPECT_EQ(ReadCount(), 1);
}

}  // namespace
}  // namespace trax::test
