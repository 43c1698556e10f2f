// Every reader against replies cut short at every length: a reply that ends
// before the last field its function reads must fail the call and leave the
// outputs as they were, even when the reply record still holds a complete
// earlier reply. Lengths at and above the full one must succeed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

struct Outputs {
    FloatValue a{}, b{};
    FigureData figure{};
    LightData light{};
    unsigned char profile[1024] = {};
    FloatValue stored[8] = {};
    int i1 = 0, i2 = 0, i3 = 0, i4 = 0;
};

struct ReaderCase {
    const char* name;
    uint8_t command;
    int fullLength;  // the shortest reply that carries every field read
    uint8_t fill;    // payload byte that decodes to a valid answer
    std::function<int(Outputs&)> call;
    int attempts = 1;  // requests the call makes before it gives up
};

const std::vector<ReaderCase> kReaders = {
    {"GetCalcData", 20, 20, 0, [](Outputs& o) { return TRAX_GetCalcData(&o.a, &o.b); }},
    {"GetFigureData", 46, 60, 0, [](Outputs& o) { return TRAX_GetFigureData(1, &o.figure); }},
    {"GetLight", 24, 1046, 0, [](Outputs& o) { return TRAX_GetLight(0, 0, &o.light, &o.i1, o.profile); }, 3},
    {"DataStorageGetStatus", 42, 17, 0, [](Outputs& o) { return TRAX_DataStorageGetStatus(1, &o.i1, &o.i2); }},
    {"GetProgramNo", 10, 9, 0, [](Outputs& o) { return TRAX_GetProgramNo(&o.i1); }},
    {"GetAverage", 10, 9, 0, [](Outputs& o) { return TRAX_GetAverage(0, &o.i1); }},
    {"GetStorobeTime", 10, 9, 0, [](Outputs& o) { return TRAX_GetStorobeTime(&o.i1); }},
    {"GetNumAlarm", 10, 11, '0', [](Outputs& o) { return TRAX_GetNumAlarm(0, &o.i1); }},
    {"GetAbleMinMax", 10, 13, '0', [](Outputs& o) { return TRAX_GetAbleMinMax(0, &o.i1, &o.i2); }},
    {"GetOffset", 10, 16, '0', [](Outputs& o) { return TRAX_GetOffset(1, &o.i1); }},
    {"GetScaling", 10, 43, '0', [](Outputs& o) { return TRAX_GetScaling(0, 1, &o.i1, &o.i2, &o.i3, &o.i4); }},
    {"GetAnalogScaling", 10, 41, '0', [](Outputs& o) { return TRAX_GetAnalogScaling(0, &o.i1, &o.i2, &o.i3, &o.i4); }},
    {"SetZero", 12, 9, 0, [](Outputs&) { return TRAX_SetZero(0, 1); }},
    {"SetReset", 16, 9, 0, [](Outputs&) { return TRAX_SetReset(2); }},
};

class ShortReplyTest : public DriverTest, public ::testing::WithParamInterface<ReaderCase> {};

Bytes Reply(const ReaderCase& c, int length) {
    Bytes payload(static_cast<size_t>(length > 8 ? length - 8 : 0), c.fill);
    return MakeReply(static_cast<uint8_t>(c.command + 1), 0, payload);
}

TEST_P(ShortReplyTest, FailsBelowFullLengthWithoutTouchingOutputs) {
    const ReaderCase& c = GetParam();
    for (int length = 5; length < c.fullLength; ++length) {
        // A complete reply first, so the record holds everything a careless
        // decoder could pick up from the earlier answer.
        Outputs primed;
        driver().QueueFor(c.command, Action::Answer(Reply(c, c.fullLength)));
        ASSERT_EQ(c.call(primed), 1) << c.name;

        Outputs outputs;
        std::memset(static_cast<void*>(&outputs), 0x5A, sizeof outputs);
        Outputs before = outputs;
        for (int attempt = 0; attempt < c.attempts; ++attempt) {
            driver().QueueFor(c.command, Action::Answer(Reply(c, length)));
        }
        EXPECT_EQ(c.call(outputs), 0) << c.name << " accepted a reply of " << length << " bytes";
        EXPECT_EQ(0, std::memcmp(&outputs, &before, sizeof outputs)) << c.name << " wrote outputs at " << length;
    }
    Outputs outputs;
    driver().QueueFor(c.command, Action::Answer(Reply(c, c.fullLength)));
    EXPECT_EQ(c.call(outputs), 1) << c.name << " refused its full reply";
}

TEST_P(ShortReplyTest, SurvivesRandomPayloadsOfEveryLength) {
    const ReaderCase& c = GetParam();
    // Replies longer than the reply maximum are dropped and waited out.
    ShortEngineLimits limits(50, 50);
    std::mt19937 random(1234);
    for (int length = 4; length <= c.fullLength + 4; ++length) {
        Bytes reply = Reply(c, length);
        for (size_t i = 5; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(random());
        driver().QueueFor(c.command, Action::Answer(reply));
        Outputs outputs;
        const int result = c.call(outputs);
        EXPECT_TRUE(result == 0 || result == 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, ShortReplyTest, ::testing::ValuesIn(kReaders),
                         [](const ::testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

}  // namespace
}  // namespace trax::test
