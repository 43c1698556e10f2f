// Replaying a recording through the stand-in driver: the reader's answers to
// bad recordings, and how the replay plays, diverges and runs out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "driver/QelUsbDrv.h"
#include "sim/Replay.h"
#include "sim/StandInDriver.h"

extern "C" unsigned QelUsbStandInReplayWaitMs(void);
extern "C" const char* QelUsbStandInReplayStatus(void);

namespace trax::sim::test {
namespace {

const std::string kHeader =
    R"({"format":"trax-recording","version":1,"library":"2.2.0","system":"linux","stand_in":true})";

std::string Line(int n, uint32_t thread, const char* call, const char* end, const char* request, const char* reply) {
    char text[512];
    std::snprintf(text, sizeof text,
                  R"({"n":%d,"t_ms":1.000,"took_ms":2.500,"thread":%u,"call":"%s","call_n":%d,"args":[0,"*",null],)"
                  R"("end":"%s","request":"%s","reply":"%s"})",
                  n, thread, call, n, end, request, reply);
    return text;
}

const std::string kValues = Line(1, 7, "TRAX_GetCalcData", "answered", "00 06 07 14 00 FF", "00 08 07 15 00 00 00 00");

struct BadRecording {
    const char* name;
    std::string text;
    bool accepted;
    const char* said;  // in the problem, or in the warning of an accepted one
};

TEST(RecordingReaderTest, BadRecordingsGetAClearAnswer) {
    const std::string good = kHeader + "\n" + kValues + "\n";
    const std::vector<BadRecording> cases = {
        {"a good one", good, true, ""},
        {"newer format version",
         R"({"format":"trax-recording","version":2,"library":"3.0.0"})"
         "\n" +
             kValues,
         false, "format version 2 (made by library 3.0.0), newer than this driver reads (version 1)"},
        {"not a recording",
         R"({"trax":"2.2.0","log":"calls"})"
         "\n",
         false, "line 1: not a trax recording"},
        {"empty", "", false, "the recording is empty"},
        {"version not a number",
         R"({"format":"trax-recording","version":"1"})"
         "\n",
         false, "format version is missing"},
        {"last line cut by a crash", good + kValues.substr(0, 40), true,
         "line 3 is cut short, as a crash while writing it leaves it; the 1 exchanges before it are replayed"},
        {"line cut in the middle", kHeader + "\n" + kValues.substr(0, 40) + "\n" + kValues + "\n", false,
         "line 2: a string is not closed"},
        {"bad hex digit", kHeader + "\n" + Line(1, 7, "TRAX_GetCalcData", "answered", "00 06 07 1G", "") + "\n", false,
         "line 2: the request's bytes hold 'G' at character 11, which is not a hexadecimal digit"},
        {"hex without spaces",
         kHeader + "\n" + Line(1, 7, "TRAX_GetCalcData", "answered", "00 06 07 14", "0008") + "\n", false,
         "line 2: the reply's bytes are not bytes in hexadecimal"},
        {"hex with two spaces", kHeader + "\n" + Line(1, 7, "X", "answered", "00  06 07", "") + "\n", false,
         "line 2: the request's bytes are not bytes in hexadecimal"},
        {"empty request", kHeader + "\n" + Line(1, 7, "X", "answered", "", "") + "\n", false,
         "line 2: the request has no bytes"},
        {"unknown ending", kHeader + "\n" + Line(1, 7, "X", "lost", "00 04 07 2A", "") + "\n", false,
         "line 2: \"end\" is missing or not one of"},
        {"key twice",
         kHeader + "\n" +
             R"({"n":1,"n":2})"
             "\n",
         false, "line 2: \"n\" appears twice"},
        {"nested object",
         kHeader + "\n" +
             R"({"n":{"x":1}})"
             "\n",
         false, "objects inside objects"},
        {"arrays in arrays",
         kHeader + "\n" +
             R"({"args":[[[[1]]]]})"
             "\n",
         false, "arrays inside arrays"},
        {"number beyond any range",
         kHeader + "\n" +
             R"({"n":1e999})"
             "\n",
         false, "the number 1e999 is out of range"},
        {"negative exchange number",
         kHeader + "\n" +
             R"({"n":-1,"thread":1})"
             "\n",
         false, "\"n\" is missing"},
        {"control character", kHeader + "\n{\"call\":\"a\x01\"}\n", false, "a control character inside a string"},
        {"text after the object", kHeader + "\n" + kValues + " x\n", false, "line 2: text after the object"},
        {"not an object", kHeader + "\n[1,2]\n", false, "line 2: not a JSON object"},
    };
    for (const BadRecording& c : cases) {
        SCOPED_TRACE(c.name);
        Recording recording;
        std::string problem;
        const bool ok = ParseRecording(c.text, &recording, &problem);
        EXPECT_EQ(ok, c.accepted) << problem;
        const std::string& said = c.accepted ? recording.warning : problem;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
}

Replay Make(const std::vector<std::string>& lines, bool timing = false) {
    std::string text = kHeader + "\n";
    for (const std::string& l : lines) text += l + "\n";
    Recording recording;
    std::string problem;
    EXPECT_TRUE(ParseRecording(text, &recording, &problem)) << problem;
    return Replay("test.jsonl", recording, timing);
}

struct Played {
    unsigned long result;
    std::vector<uint8_t> reply;
    unsigned long length;
    std::string report;
};

Played Play(Replay& replay, const std::vector<uint8_t>& request, unsigned long capacity = 4096) {
    Played p{0, std::vector<uint8_t>(capacity), capacity, ""};
    const Replay::Answer a =
        replay.Exchange(request.data(), static_cast<unsigned long>(request.size()), p.reply.data(), &p.length);
    p.result = a.result;
    p.report = a.report;
    if (p.length <= capacity) p.reply.resize(p.length);
    return p;
}

const std::vector<uint8_t> kValuesRequest = {0x00, 0x06, 0x07, 0x14, 0x00, 0xFF};
const std::vector<uint8_t> kStatusRequest = {0x00, 0x04, 0x07, 0x2A};

TEST(ReplayTest, EachEndingIsReproduced) {
    Replay replay = Make({
        Line(1, 7, "A", "answered", "00 04 07 2A", "00 08 07 2B 00 00 00 00"),
        Line(2, 7, "B", "no reply", "00 04 07 2A", "00 08 07 44 00 00 00 00"),
        Line(3, 7, "C", "no reply", "00 04 07 2A", ""),
        Line(4, 7, "D", "not sent", "00 04 07 2A", ""),
        Line(5, 7, "E", "driver failure", "00 04 07 2A", ""),
        Line(6, 7, "F", "cut reply", "00 04 07 2A", ""),
    });
    Played p = Play(replay, kStatusRequest);
    EXPECT_EQ(p.result, 1u);
    EXPECT_EQ(p.reply, (std::vector<uint8_t>{0, 8, 7, 0x2B, 0, 0, 0, 0}));
    p = Play(replay, kStatusRequest);  // what came before the wait ran out: a busy reply
    EXPECT_EQ(p.result, 1u);
    EXPECT_EQ(p.reply.size(), 8u);
    p = Play(replay, kStatusRequest);  // nothing at all
    EXPECT_EQ(p.result, 1u);
    EXPECT_EQ(p.length, 0u);
    p = Play(replay, kStatusRequest);  // "not sent" never reached the driver: skipped
    EXPECT_EQ(p.result, 0u);
    p = Play(replay, kStatusRequest, 100);
    EXPECT_EQ(p.result, 1u);
    EXPECT_GT(p.length, 100u);  // more than the buffer holds
    EXPECT_NE(replay.StatusJson().find("\"complete\":true"), std::string::npos) << replay.StatusJson();
}

TEST(ReplayTest, DivergenceFailsTheExchangeAndIsReportedOnceWithPositionCallAndBytes) {
    Replay replay =
        Make({kValues, Line(2, 7, "TRAX_GetProgramNo", "answered", "00 04 07 2A", "00 08 07 2B 00 00 00 00")});
    Played p = Play(replay, {0x00, 0x06, 0x07, 0x14, 0x00, 0x00});
    EXPECT_EQ(p.result, 0u);
    EXPECT_EQ(p.report,
              "replay of 'test.jsonl' diverges at exchange 1 (line 2), TRAX_GetCalcData: expected 00 06 07 14 00 FF, "
              "sent 00 06 07 14 00 00");
    EXPECT_EQ(Play(replay, kStatusRequest).report, "");  // only the first is reported
    // The recording stays where it was: the expected request still plays.
    EXPECT_EQ(Play(replay, kValuesRequest).result, 1u);
    EXPECT_EQ(Play(replay, kStatusRequest).result, 1u);
    const std::string status = replay.StatusJson();
    EXPECT_NE(status.find("\"complete\":false"), std::string::npos) << status;
    EXPECT_NE(status.find("\"played\":2"), std::string::npos) << status;
}

TEST(ReplayTest, AfterTheLastExchangeEveryRequestFailsWithRecordingExhausted) {
    Replay replay = Make({kValues});
    EXPECT_EQ(Play(replay, kValuesRequest).result, 1u);
    const Played p = Play(replay, kValuesRequest);
    EXPECT_EQ(p.result, 0u);
    EXPECT_NE(p.report.find("recording exhausted after 1 exchanges"), std::string::npos) << p.report;
    EXPECT_EQ(Play(replay, kStatusRequest).result, 0u);
    EXPECT_NE(replay.StatusJson().find("\"exhausted\":true"), std::string::npos);
}

TEST(ReplayTest, EachChannelFollowsTheRecordedThreadItsFirstRequestPicks) {
    // Thread 7 read values twice, thread 9 the status twice, interleaved.
    Replay replay = Make({
        Line(1, 7, "TRAX_GetCalcData", "answered", "00 06 07 14 00 FF", "00 08 07 15 00 00 00 01"),
        Line(2, 9, "TRAX_DataStorageGetStatus", "answered", "00 04 07 2A", "00 08 07 2B 00 00 00 02"),
        Line(3, 7, "TRAX_GetCalcData", "answered", "00 06 07 14 00 FF", "00 08 07 15 00 00 00 03"),
        Line(4, 9, "TRAX_DataStorageGetStatus", "answered", "00 04 07 2A", "00 08 07 2B 00 00 00 04"),
    });
    // Played in another order of the threads: each gets its own next reply.
    replay.ChannelStarted();
    EXPECT_EQ(Play(replay, kStatusRequest).reply.back(), 2);
    replay.ChannelStarted();
    EXPECT_EQ(Play(replay, kStatusRequest).reply.back(), 4);
    replay.ChannelStarted();
    EXPECT_EQ(Play(replay, kValuesRequest).reply.back(), 1);
    // Within a channel the bound thread's sequence must continue.
    EXPECT_EQ(Play(replay, kStatusRequest).result, 0u);
    EXPECT_EQ(Play(replay, kValuesRequest).reply.back(), 3);
}

TEST(ReplayTest, TimingDelaysAnswersButNeverANoReply) {
    Replay timed = Make({kValues, Line(2, 7, "X", "no reply", "00 04 07 2A", "")}, true);
    std::vector<uint8_t> reply(64);
    unsigned long length = reply.size();
    EXPECT_EQ(timed.Exchange(kValuesRequest.data(), 6, reply.data(), &length).delayUs, 2500u);
    length = reply.size();
    EXPECT_EQ(timed.Exchange(kStatusRequest.data(), 4, reply.data(), &length).delayUs, 0u);
    Replay untimed = Make({kValues});
    length = reply.size();
    EXPECT_EQ(untimed.Exchange(kValuesRequest.data(), 6, reply.data(), &length).delayUs, 0u);
}

TEST(ReplayTest, RefusedRecordingFailsEveryRequestAndSaysWhyOnce) {
    Replay replay = Replay::Refused("bad.jsonl", "line 2: a value is missing");
    Played p = Play(replay, kValuesRequest);
    EXPECT_EQ(p.result, 0u);
    EXPECT_EQ(p.report, "replay of 'bad.jsonl' refused: line 2: a value is missing");
    EXPECT_EQ(Play(replay, kValuesRequest).report, "");
}

TEST(ReplayTest, StandInAnswersFromTheFileAndTellsTheLibraryHowLongToWait) {
    const std::string path = ::testing::TempDir() + "trax-replay-test.jsonl";
    {
        std::ofstream file(path, std::ios::binary);
        file << kHeader << "\n" << kValues << "\n";
    }
    for (const bool timing : {false, true}) {
        DriverConfig config;
        config.replayPath = path;
        config.replayTiming = timing;
        ResetStandInDriver(config);
        EXPECT_EQ(QelUsbStandInReplayWaitMs(), timing ? 0u : kReplayAnswerWaitMs);
    }
    DriverConfig config;
    config.replayPath = path;
    ResetStandInDriver(config);
    sQELUSBTYPEPARAM param{};
    param.productCode = 10;
    std::strcpy(param.deviceName, "VoraxUSB_U-0");
    sUSBPARAM usb{0, 0};
    ASSERT_EQ(InitQelUsbTypeParam(&param, 1), 1);
    SetUsbType(2);
    ASSERT_NE(InitUsb(usb, param.deviceName), 0);
    ASSERT_NE(InitPid(usb, 10), 0);
    ASSERT_EQ(CheckUsbDllStatus(0), 1);
    std::vector<uint8_t> request = kValuesRequest;
    std::vector<uint8_t> reply(64);
    unsigned long length = reply.size();
    EXPECT_EQ(QelUsbPtrIoPtr(request.data(), 6, reply.data(), &length), 1u);
    EXPECT_EQ(length, 8u);
    EXPECT_NE(std::string(QelUsbStandInReplayStatus()).find("\"complete\":true"), std::string::npos);
    ResetStandInDriver(DriverConfig());
    EXPECT_EQ(QelUsbStandInReplayStatus(), nullptr);
    EXPECT_EQ(QelUsbStandInReplayWaitMs(), 0u);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace trax::sim::test
