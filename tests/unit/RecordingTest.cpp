// The exchange recording (TRAX_RECORD): each way an exchange can end, written
// by the library and read back by the replay's reader, byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/Command.h"
#include "record/Recording.h"
#include "sim/RecordingFile.h"
#include "tests/support/DriverTest.h"
#include "trace/Trace.h"
#include "trax.h"

namespace trax::test {
namespace {

std::vector<std::string> traceLines;
void KeepTraceLine(const char* line, int length) { traceLines.emplace_back(line, static_cast<size_t>(length)); }

class RecordingTest : public DriverTest {
protected:
    // One file a test: ctest runs the tests of this suite side by side.
    std::string path = ::testing::TempDir() + "trax-recording-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";

    void SetUp() override {
        DriverTest::SetUp();
        traceLines.clear();
        // The call records name each exchange's call, as at load.
        trace::StartForTesting(trace::LevelCalls, &KeepTraceLine);
        std::remove(path.c_str());
        record::StartForTesting(path.c_str());
    }
    void TearDown() override {
        record::StartForTesting(nullptr);
        trace::StopForTesting();
        std::remove(path.c_str());
        DriverTest::TearDown();
    }
    sim::Recording ReadBack() {
        sim::Recording recording;
        std::string problem;
        EXPECT_TRUE(sim::ReadRecordingFile(path, &recording, &problem)) << problem;
        return recording;
    }
};

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A reply whose length field says `field` while `total` bytes come.
Bytes WrongLength(int total, uint16_t field) {
    Bytes bytes = MakeSizedReply(21, 0, total);
    bytes[0] = static_cast<uint8_t>(field >> 8);
    bytes[1] = static_cast<uint8_t>(field & 0xFF);
    return bytes;
}

struct EndingCase {
    const char* name;
    std::vector<Action> actions;  // queued for the values read's one exchange
    int result;
    sim::RecordedEnding ending;
    Bytes reply;  // recorded, as it came over the wire
};

TEST_F(RecordingTest, EachEndingIsRecordedWithTheWholeReply) {
    const Bytes answer = MakeReply(21, 0, {0x00, 0x00, 0x11, 0x00, 0x00, 0x01, 0xE2, 0x4E, 0xFF, 0xFC, 0xEF, 0x20});
    const Bytes busy = MakeSizedReply(68, 0, 8);
    // Longer than an ordinary reply record: read in two pieces, both recorded.
    const Bytes oversized = WrongLength(2000, 2000);
    const Bytes malformed = WrongLength(20, 30);
    const std::vector<EndingCase> cases = {
        {"answered", {Action::Answer(answer)}, 1, sim::RecordedEnding::Answered, answer},
        {"refused",
         {Action::Answer(MakeSizedReply(255, 5, 8))},
         0,
         sim::RecordedEnding::Answered,
         MakeSizedReply(255, 5, 8)},
        {"driver failure", {Action::Failure()}, 0, sim::RecordedEnding::DriverFailure, {}},
        {"cut reply", {Action::TooLong()}, 0, sim::RecordedEnding::CutReply, {}},
        {"nothing came", {Action::Empty()}, 0, sim::RecordedEnding::NoReply, {}},
        {"busy, then nothing", {Action::Answer(busy)}, 0, sim::RecordedEnding::NoReply, busy},
        {"wrong length field", {Action::Answer(malformed)}, 0, sim::RecordedEnding::NoReply, malformed},
        {"longer than the record", {Action::Answer(oversized)}, 0, sim::RecordedEnding::NoReply, oversized},
    };
    ShortEngineLimits limits(100, 100);
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        record::StartForTesting(path.c_str());
        driver().Reset();
        for (const Action& a : c.actions) driver().Queue(a);
        FloatValue a{}, b{};
        EXPECT_EQ(TRAX_GetCalcData(&a, &b), c.result);
        const sim::Recording recording = ReadBack();
        ASSERT_EQ(recording.exchanges.size(), 1u);
        const sim::RecordedExchange& e = recording.exchanges[0];
        EXPECT_EQ(e.ending, c.ending);
        EXPECT_EQ(Hex(e.request), Hex(driver().Requests().at(0)));
        EXPECT_EQ(Hex(e.reply), Hex(c.reply));
        EXPECT_EQ(e.call, "TRAX_GetCalcData");
        EXPECT_EQ(e.thread, platform::CurrentThreadId());
        ASSERT_EQ(e.pointerArguments, (std::vector<bool>{true, true}));
    }
}

TEST_F(RecordingTest, ExchangesOfOneCallShareItsNumberAndArguments) {
    int cycle = -1;
    ASSERT_EQ(TRAX_GetSamplingCycle(&cycle), 1);
    ASSERT_EQ(TRAX_SetZero(1, 0), 1);
    const sim::Recording recording = ReadBack();
    ASSERT_GE(recording.exchanges.size(), 3u);
    EXPECT_EQ(recording.version, record::kFormatVersion);
    EXPECT_EQ(recording.library, "2.2.0");
    const sim::RecordedExchange& last = recording.exchanges.back();
    EXPECT_EQ(last.call, "TRAX_SetZero");
    EXPECT_EQ(last.arguments, (std::vector<long long>{1, 0}));
    for (size_t i = 0; i + 1 < recording.exchanges.size(); ++i) {
        EXPECT_EQ(recording.exchanges[i].call, "TRAX_GetSamplingCycle");
        EXPECT_EQ(recording.exchanges[i].callNumber + 1, last.callNumber);
        EXPECT_EQ(recording.exchanges[i].number, i + 1);
    }
    // Every request the driver saw is in the file, in order.
    const std::vector<Bytes> sent = driver().Requests();
    ASSERT_EQ(sent.size(), recording.exchanges.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(Hex(recording.exchanges[i].request), Hex(sent[i]));
}

TEST_F(RecordingTest, RequestAfterTheChannelEndedIsRecordedAsNotSent) {
    session::DeviceSession& s = session::TheSession();
    ASSERT_EQ(s.Open(session::SessionOpenParams), 1);
    uint8_t bytes[protocol::kReplyRecordSize];
    protocol::Reply reply{bytes, protocol::kReplyRecordSize, 0};
    driver().Queue(Action::Failure());
    {
        platform::ExclusiveGuard guard(session::CallLock());
        EXPECT_EQ(protocol::RunCommand(s, protocol::CmdStatus, nullptr, 0, reply), 0);
        EXPECT_EQ(protocol::RunCommand(s, protocol::CmdStatus, nullptr, 0, reply), 0);
    }
    s.Close();
    const sim::Recording recording = ReadBack();
    ASSERT_EQ(recording.exchanges.size(), 2u);
    EXPECT_EQ(recording.exchanges[0].ending, sim::RecordedEnding::DriverFailure);
    EXPECT_EQ(recording.exchanges[1].ending, sim::RecordedEnding::NotSent);
    EXPECT_EQ(recording.exchanges[1].call, "");  // made outside an exported call
}

TEST_F(RecordingTest, StorageReadKeepsEveryByteOfItsLongReply) {
    Bytes payload(65536 * 4);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    Bytes storage = Cat(MakeReply(37, 0, Bytes(12, 0)), payload);
    storage[0] = 0xFF;  // the 16-bit length field cannot say the length
    storage[1] = 0xFF;
    driver().QueueFor(protocol::CmdStorageData, Action::Answer(storage));
    std::vector<FloatValue> values(65536);
    int count = 0;
    (void)TRAX_DataStorageGetData(0, 65536, values.data(), &count);
    const sim::Recording recording = ReadBack();
    const sim::RecordedExchange* read = nullptr;
    for (const auto& e : recording.exchanges) {
        if (e.request.size() > 3 && e.request[3] == protocol::CmdStorageData) read = &e;
    }
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->reply.size(), storage.size());
    EXPECT_TRUE(read->reply == storage);
}

TEST_F(RecordingTest, WriteFailureIsReportedOnceAndNeverFailsACall) {
    if (std::FILE* full = std::fopen("/dev/full", "wb")) {
        std::fclose(full);
    } else {
        GTEST_SKIP() << "no /dev/full on this system";
    }
    record::StartForTesting("/dev/full");
    FloatValue a{}, b{};
    EXPECT_EQ(TRAX_GetCalcData(&a, &b), 1);
    EXPECT_EQ(TRAX_GetCalcData(&a, &b), 1);
    EXPECT_FALSE(record::On());
    int reports = 0;
    for (const std::string& line : traceLines)
        reports += line.find("recording to '/dev/full' stopped") != std::string::npos;
    EXPECT_EQ(reports, 1);
}

TEST_F(RecordingTest, NothingIsWrittenWhenOff) {
    record::StartForTesting(nullptr);
    FloatValue a{}, b{};
    EXPECT_EQ(TRAX_GetCalcData(&a, &b), 1);
    EXPECT_FALSE(record::On());
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);  // the first line from SetUp, and nothing after it
    int lines = 0;
    for (int c; (c = std::fgetc(file)) != EOF;) lines += c == '\n';
    std::fclose(file);
    EXPECT_EQ(lines, 1);
}

}  // namespace
}  // namespace trax::test
