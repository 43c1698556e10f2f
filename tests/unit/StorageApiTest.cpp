#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "protocol/Command.h"
#include "tests/support/DriverTest.h"
#include "trax.h"

namespace trax::test {
namespace {

using protocol::CmdReadSetting;
using protocol::CmdStatus;
using protocol::CmdStorageData;
using protocol::CmdWriteSetting;

void PutBE32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A storage reply claiming `claimed` values and carrying `carried` slots,
// slot i holding i * 100 raw counts. Its 16-bit length field is not looked at.
Bytes StorageReply(uint32_t claimed, uint32_t carried, uint8_t code = 5, uint8_t system = 0) {
    Bytes reply(16 + 4 * static_cast<size_t>(carried), 0);
    reply[2] = 7;
    reply[3] = 37;
    reply[8] = code;
    reply[9] = system;
    PutBE32(reply, 12, claimed);
    for (uint32_t i = 0; i < carried; ++i) PutBE32(reply, 16 + 4 * i, i * 100);
    return reply;
}

Bytes StatusReply(uint32_t countA, uint32_t countB, uint8_t state) {
    Bytes reply = MakeSizedReply(43, 0, 20);
    PutBE32(reply, 8, countA);
    PutBE32(reply, 12, countB);
    reply[16] = state;
    return reply;
}

constexpr FloatValue kUntouched{77, 7.5f};
constexpr int kNoCount = -12345;

const std::vector<std::string> kToSettingMode = {"00 04 07 2A", "00 04 07 06", "00 04 07 2A", "00 06 07 1A 00 FF"};
const std::string kToMeasureMode = "00 04 07 04";

class StorageApiTest : public DriverTest {
protected:
    std::vector<FloatValue> values = std::vector<FloatValue>(100, kUntouched);
    int returned = kNoCount;

    int Read(int head, int maxCount) { return TRAX_DataStorageGetData(head, maxCount, values.data(), &returned); }
    bool UntouchedFrom(size_t first) const {
        for (size_t i = first; i < values.size(); ++i) {
            if (values[i].status != kUntouched.status || values[i].value != kUntouched.value) return false;
        }
        return true;
    }
};

// ---- storage commands ------------------------------------------------------

struct CommandCase {
    const char* name;
    int(TRAX_CALL* call)();
    uint8_t code;
    const char* request;
};

const CommandCase kCommands[] = {
    {"init", &TRAX_DataStorageInit, 34, "00 04 07 22"},
    {"start", &TRAX_DataStorageStart, 38, "00 04 07 26"},
    {"stop", &TRAX_DataStorageStop, 40, "00 04 07 28"},
};

TEST_F(StorageApiTest, CommandsSendHeaderOnlyAndNeedAnAcceptedReply) {
    for (const CommandCase& c : kCommands) {
        SCOPED_TRACE(c.name);
        driver().ClearRecords();
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(RequestsHex(), std::vector<std::string>{c.request});

        driver().QueueFor(c.code, Action::Answer(MakeSizedReply(static_cast<uint8_t>(c.code + 1), 6, 8)));
        EXPECT_EQ(c.call(), 0);
        driver().QueueFor(c.code, Action::Answer(MakeSizedReply(255, 6, 8)));
        EXPECT_EQ(c.call(), 0);
        driver().QueueFor(c.code, Action::Answer(Bytes{0, 4, 7, static_cast<uint8_t>(c.code + 1)}));
        EXPECT_EQ(c.call(), 0);
    }
}

// ---- status ----------------------------------------------------------------

TEST_F(StorageApiTest, StatusTakesTheHeadsCountAndStoringOnlyOnExactlyOne) {
    struct Case {
        int head;
        uint8_t state;
        int count;
        int storing;
    };
    const Case cases[] = {{0, 1, 4660, 1}, {1, 1, 65536, 1}, {1, 2, 65536, 0}, {0, 0, 4660, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "head " << c.head << " state " << int(c.state));
        driver().QueueFor(CmdStatus, Action::Answer(StatusReply(4660, 65536, c.state)));
        int state = -1, count = -1;
        EXPECT_EQ(TRAX_DataStorageGetStatus(c.head, &state, &count), 1);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(state, c.storing);
    }
    EXPECT_EQ(TRAX_DataStorageGetStatus(0, nullptr, nullptr), 1);
}

TEST_F(StorageApiTest, StatusFailuresWriteNothing) {
    Bytes shortReply = StatusReply(1, 2, 1);
    shortReply.resize(16);
    shortReply[1] = 16;
    Bytes refused = StatusReply(1, 2, 1);
    refused[4] = 5;
    for (const Bytes& reply : {shortReply, refused, MakeSizedReply(255, 3, 8)}) {
        driver().QueueFor(CmdStatus, Action::Answer(reply));
        int state = -1, count = -1;
        EXPECT_EQ(TRAX_DataStorageGetStatus(1, &state, &count), 0);
        EXPECT_EQ(state, -1);
        EXPECT_EQ(count, -1);
    }
    driver().ClearRecords();
    EXPECT_EQ(TRAX_DataStorageGetStatus(2, nullptr, nullptr), 0);
    EXPECT_EQ(TRAX_DataStorageGetStatus(-1, nullptr, nullptr), 0);
    EXPECT_TRUE(driver().Requests().empty());
}

// ---- reading stored values -------------------------------------------------

TEST_F(StorageApiTest, ReadSendsHeadAndConvertsWithReplyUnit) {
    driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(3, 3, 1, 0)));
    ASSERT_EQ(Read(1, 100), 1);
    EXPECT_EQ(RequestsHex(), std::vector<std::string>{"00 05 07 24 01"});
    EXPECT_EQ(returned, 3);
    // Metric column 1: 0.001 mm steps.
    EXPECT_EQ(values[2].status, 0);
    EXPECT_FLOAT_EQ(values[1].value, 0.001f);
    EXPECT_FLOAT_EQ(values[2].value, 0.002f);

    // Inch column 5: 0.0001 mil per count.
    driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(3, 3, 5, 1)));
    ASSERT_EQ(Read(0, 100), 1);
    EXPECT_FLOAT_EQ(values[2].value, 0.02f);
}

TEST_F(StorageApiTest, ReturnedCountIsTheSmallerOfStoredAndMaxCount) {
    struct Case {
        uint32_t stored;
        int maxCount;
        int expected;
    };
    const Case cases[] = {{5000, 100, 100}, {20, 100, 20}, {0, 100, 0}, {65536, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.stored << " stored, max " << c.maxCount);
        values.assign(100, kUntouched);
        returned = kNoCount;
        driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(c.stored, c.stored)));
        ASSERT_EQ(Read(0, c.maxCount), 1);
        EXPECT_EQ(returned, c.expected);
        for (int i = 0; i < c.expected; ++i) ASSERT_EQ(values[i].status, 0) << i;
        if (c.expected > 0) {
            EXPECT_FLOAT_EQ(values[c.expected - 1].value, float(c.expected - 1));
        }
        EXPECT_TRUE(UntouchedFrom(static_cast<size_t>(c.expected)));
    }
}

TEST_F(StorageApiTest, FullStoreOf65536IsReadEntirely) {
    std::vector<FloatValue> all(65536, kUntouched);
    // Metric column 0: 0.01 mm steps, so the last slot's 6553500 counts read 65.54.
    driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(65536, 65536, 0, 0)));
    ASSERT_EQ(TRAX_DataStorageGetData(0, 65536, all.data(), &returned), 1);
    EXPECT_EQ(returned, 65536);
    EXPECT_EQ(all[65535].status, 0);
    EXPECT_FLOAT_EQ(all[65535].value, 65.54f);
}

// A count the controller cannot hold is a malformed reply, not a fault of
// the library: the call fails without an assertion report.
TEST_F(StorageApiTest, ImpossibleCountFailsTheCallAndWritesNothing) {
    for (uint32_t claimed : {65537u, 0xFFFFFFFFu, 0x80000000u}) {
        SCOPED_TRACE(claimed);
        driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(claimed, 65536)));
        EXPECT_EQ(Read(0, 100), 0);
        EXPECT_TRUE(Assertions().empty());
        EXPECT_EQ(returned, kNoCount);
        EXPECT_TRUE(UntouchedFrom(0));
    }
}

TEST_F(StorageApiTest, ShortOrRefusedReadWritesNothing) {
    Bytes refused = StorageReply(10, 10);
    refused[4] = 2;
    struct Case {
        const char* name;
        Bytes reply;
    };
    const Case cases[] = {
        {"one slot missing", StorageReply(100, 99)},
        {"half a slot missing",
         [] {
             Bytes r = StorageReply(10, 10);
             r.resize(r.size() - 2);
             return r;
         }()},
        {"no count",
         [] {
             Bytes r = StorageReply(1, 1);
             r.resize(15);
             return r;
         }()},
        {"error byte", refused},
        {"error reply", MakeSizedReply(255, 2, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver().QueueFor(CmdStorageData, Action::Answer(c.reply));
        EXPECT_EQ(Read(0, 100), 0);
        EXPECT_EQ(returned, kNoCount);
        EXPECT_TRUE(UntouchedFrom(0));
    }
    EXPECT_TRUE(Assertions().empty());
}

TEST_F(StorageApiTest, UnknownUnitSystemConvertsAsMetricButFails) {
    driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(3, 3, 1, 2)));
    EXPECT_EQ(Read(0, 100), 0);
    EXPECT_EQ(returned, 3);
    EXPECT_EQ(values[2].status, 0);
    EXPECT_FLOAT_EQ(values[2].value, 0.002f);
    EXPECT_TRUE(UntouchedFrom(3));
}

TEST_F(StorageApiTest, NullOutputsAreSkipped) {
    driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(7, 7)));
    EXPECT_EQ(TRAX_DataStorageGetData(0, 100, nullptr, &returned), 1);
    EXPECT_EQ(returned, 7);
    driver().QueueFor(CmdStorageData, Action::Answer(StorageReply(7, 7)));
    EXPECT_EQ(TRAX_DataStorageGetData(0, 100, values.data(), nullptr), 1);
    EXPECT_EQ(values[6].status, 0);
    EXPECT_TRUE(UntouchedFrom(7));
}

TEST_F(StorageApiTest, ReadArgumentsOutOfRangeSendNothing) {
    struct Case {
        int head;
        int maxCount;
    };
    for (const Case& c : {Case{0, 0}, Case{0, -1}, Case{2, 100}, Case{-1, 100}, Case{1, INT32_MIN}}) {
        SCOPED_TRACE(testing::Message() << c.head << ", " << c.maxCount);
        EXPECT_EQ(Read(c.head, c.maxCount), 0);
    }
    EXPECT_TRUE(driver().Requests().empty());
    EXPECT_EQ(returned, kNoCount);
}

// ---- storage settings ------------------------------------------------------

std::vector<std::string> Bracketed(std::vector<std::string> inner) {
    std::vector<std::string> all = kToSettingMode;
    all.insert(all.end(), inner.begin(), inner.end());
    all.push_back(kToMeasureMode);
    return all;
}

TEST_F(StorageApiTest, RefusedWriteStopsTheRestButSwitchesBack) {
    // Reply byte 8 = 1: the controller did not take the value.
    driver().QueueFor(CmdWriteSetting, Action::Answer(MakeReply(9, 0, {0})));
    driver().QueueFor(CmdWriteSetting, Action::Answer(MakeReply(9, 0, {1})));
    EXPECT_EQ(TRAX_SetDataStorage(1, 300, 2), 0);
    EXPECT_EQ(RequestsHex(), Bracketed({"00 08 07 08 02 00 05 01", "00 0C 07 08 02 00 06 30 30 33 30 30"}));
}

Bytes SettingReply(const std::string& data) { return MakeReply(11, 0, Bytes(data.begin(), data.end())); }

TEST_F(StorageApiTest, SettingsAreReadBack) {
    driver().QueueFor(CmdReadSetting, Action::Answer(SettingReply(std::string(1, '\x01'))));
    driver().QueueFor(CmdReadSetting, Action::Answer(SettingReply("00300")));
    driver().QueueFor(CmdReadSetting, Action::Answer(SettingReply(std::string(1, '\x02'))));
    int target = -1, count = -1, cycle = -1;
    EXPECT_EQ(TRAX_GetDataStorage(&target, &count, &cycle), 1);
    EXPECT_EQ(target, 1);
    EXPECT_EQ(count, 300);
    EXPECT_EQ(cycle, 2);
    EXPECT_EQ(RequestsHex(),
              Bracketed({"00 08 07 0A 02 00 05 00", "00 08 07 0A 02 00 06 00", "00 08 07 0A 02 00 07 00"}));
}

TEST_F(StorageApiTest, FailedReadKeepsEarlierOutputsAndSwitchesBack) {
    driver().QueueFor(CmdReadSetting, Action::Answer(SettingReply(std::string(1, '\x03'))));
    driver().QueueFor(CmdReadSetting, Action::Answer(SettingReply("003")));  // too short for five digits
    int target = -1, count = -1, cycle = -1;
    EXPECT_EQ(TRAX_GetDataStorage(&target, &count, &cycle), 0);
    EXPECT_EQ(target, 3);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(cycle, -1);
    EXPECT_EQ(driver().Requests().back(), (Bytes{0, 4, 7, 4}));
}

}  // namespace
}  // namespace trax::test
