// The opt-in trace log: the reason of every kind of failed call, the byte
// lines, the first line, silence when off and whole lines from many threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/UsbDriver.h"
#include "tests/support/DriverTest.h"
#include "trace/Trace.h"
#include "trax.h"

namespace trax::test {
namespace {

// The environment the library reads at load, set and cleared the same way
// on every platform.
void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}
void ClearVariable(const char* name) {
#if defined(_WIN32)
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

std::mutex linesMutex;
std::vector<std::string> lines;

void Capture(const char* line, int length) {
    std::lock_guard<std::mutex> guard(linesMutex);
    lines.emplace_back(line, static_cast<size_t>(length));
}

std::vector<std::string> Captured() {
    std::lock_guard<std::mutex> guard(linesMutex);
    return lines;
}

class TraceLogTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        {
            std::lock_guard<std::mutex> guard(linesMutex);
            lines.clear();
        }
        trace::StartForTesting(trace::LevelCalls, &Capture);
    }
    void TearDown() override {
        trace::StopForTesting();
        session::SetLibraryUsableForTesting(true);
        session::SessionOpenParams.kind = 0;
        ClearVariable("TRAX_LOG");
        ClearVariable("TRAX_LOG_FILE");
        DriverTest::TearDown();
    }
    // The one call line the log holds (request and reply lines aside).
    std::string CallLine() {
        std::string found;
        for (const std::string& line : Captured()) {
            if (line.find("TRAX_") == std::string::npos) continue;
            EXPECT_TRUE(found.empty()) << "second call line: " << line;
            found = line;
        }
        return found;
    }
};

Bytes WithLengthField(Bytes reply, int length) {
    reply[0] = static_cast<uint8_t>(length >> 8);
    reply[1] = static_cast<uint8_t>(length);
    return reply;
}

TEST_F(TraceLogTest, EveryReasonAppearsForACallThatFailsThatWay) {
    FloatValue a{}, b{};
    FigureData figure{};
    int value = 0;
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::function<int()> call;
        std::string reason;  // expected after "= 0 in ... ms: "
    };
    const Case cases[] = {
        {"argument", [] {}, [&] { return TRAX_GetFigureData(5, &figure); },
         "argument out of range (head=5, allowed 0..1)"},
        {"second argument", [] {}, [&] { return TRAX_SetZero(1, 7); }, "argument out of range (onOff=7, allowed 0..1)"},
        {"argument order", [] {}, [&] { return TRAX_SetAbleMinMax(0, 50, 10); },
         "argument out of range (min must not be above max)"},
        {"unusable", [] { session::SetLibraryUsableForTesting(false); }, [&] { return TRAX_GetCalcData(&a, &b); },
         "library unusable: the USB driver did not start"},
        {"no channel", [] { session::SessionOpenParams.kind = 1; }, [&] { return TRAX_GetCalcData(&a, &b); },
         "channel could not be created"},
        {"exchange", [this] { driver().Queue(Action::Failure()); }, [&] { return TRAX_GetCalcData(&a, &b); },
         "exchange failed (the driver returned 0, command 20)"},
        {"silent",
         [this] {
             driver().AlwaysFor(20, Action{Action::NoAnswer, {}, 0, nullptr});
         },
         [&] { return TRAX_GetCalcData(&a, &b); }, "no reply within the reply limit (300 ms, command 20)"},
        {"busy", [this] { driver().QueueFor(20, Action::Answer(MakeReply(68, 0), 80)); },
         [&] { return TRAX_GetCalcData(&a, &b); }, "busy past the busy limit (40 ms, command 20)"},
        {"length field",
         [this] { driver().QueueFor(20, Action::Answer(WithLengthField(MakeSizedReply(21, 0, 20), 30))); },
         [&] { return TRAX_GetCalcData(&a, &b); },
         "malformed reply (length field 30, 20 bytes arrived: 00 1E 07 15 00 00 00 00 00 00 00 00 00 00 00 00 ...); "
         "then no reply within the reply limit (300 ms, command 20)"},
        {"header",
         [this] {
             driver().QueueFor(20, Action::Answer({0x00, 0x03, 0x07}));
         },
         [&] { return TRAX_GetCalcData(&a, &b); },
         "malformed reply (3 bytes arrived, too few for a reply header: 00 03 07); then no reply within the reply "
         "limit (300 ms, command 20)"},
        {"reply code", [this] { driver().QueueFor(20, Action::Answer(MakeSizedReply(33, 0, 20))); },
         [&] { return TRAX_GetCalcData(&a, &b); }, "malformed reply (reply code 33 where 21 was expected, command 20)"},
        {"unit system",
         [this] {
             Bytes reply = MakeSizedReply(21, 0, 20);
             reply[11] = 7;
             driver().QueueFor(20, Action::Answer(reply));
         },
         [&] { return TRAX_GetCalcData(&a, &b); },
         "malformed reply (unit system 7 is neither metric (0) nor inch (1))"},
        {"short", [this] { driver().QueueFor(20, Action::Answer(MakeSizedReply(21, 0, 12))); },
         [&] { return TRAX_GetCalcData(&a, &b); },
         "reply too short for its fields (12 bytes arrived, its fields need 20, command 20)"},
        {"short setting", [this] { driver().QueueFor(10, Action::Answer(MakeSizedReply(11, 0, 8))); },
         [&] { return TRAX_GetAverage(0, &value); },
         "reply too short for its fields (8 bytes arrived, the setting's fields need 9, command 10)"},
        {"error reply", [this] { driver().QueueFor(20, Action::Answer(MakeSizedReply(255, 12, 8))); },
         [&] { return TRAX_GetCalcData(&a, &b); }, "refused by the controller (error reply, error 12, command 20)"},
        {"error byte", [this] { driver().QueueFor(46, Action::Answer(MakeSizedReply(47, 9, 60))); },
         [&] { return TRAX_GetFigureData(1, &figure); }, "refused by the controller (error 9, command 46)"},
        {"action result", [this] { driver().QueueFor(12, Action::Answer(MakeReply(13, 0, {3}))); },
         [&] { return TRAX_SetZero(0, 1); }, "refused by the controller (action result 3, command 12)"},
        {"setting write", [this] { driver().QueueFor(8, Action::Answer(MakeReply(9, 0, {1}))); },
         [&] { return TRAX_SetAverage(0, 3); },
         "refused by the controller (setting write result 1, category 1 item 5)"},
        {"mode switch", [this] { driver().QueueFor(6, Action::Answer(MakeSizedReply(7, 3, 8))); },
         [&] { return TRAX_GetAverage(0, &value); },
         "refused by the controller (error 3, command 6); then switch of the operating mode failed (to setting "
         "mode, at the request (command 6))"},
        {"mode switch back", [this] { driver().QueueFor(4, Action::Failure()); },
         [&] { return TRAX_GetAverage(0, &value); },
         "exchange failed (the driver returned 0, command 4); then switch of the operating mode failed (to "
         "measurement mode, at the request (command 4))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver().Reset();
        {
            std::lock_guard<std::mutex> guard(linesMutex);
            lines.clear();
        }
        // The busy reply comes 80 ms after the request: past the busy limit, well within the reply wait.
        ShortEngineLimits limits(300, 40);
        c.arrange();
        EXPECT_EQ(c.call(), 0);
        session::SetLibraryUsableForTesting(true);
        session::SessionOpenParams.kind = 0;
        const std::string line = CallLine();
        const size_t at = line.find(" = 0 in ");
        ASSERT_NE(at, std::string::npos) << line;
        const size_t colon = line.find(" ms: ", at);
        ASSERT_NE(colon, std::string::npos) << line;
        EXPECT_EQ(line.substr(colon + 5), c.reason + "\n");

        // The same failure as a JSON object carries the same reason text,
        // which is what the tools show in their own errors.
        driver().Reset();
        {
            std::lock_guard<std::mutex> guard(linesMutex);
            lines.clear();
        }
        trace::SetJsonForTesting(true);
        c.arrange();
        EXPECT_EQ(c.call(), 0);
        trace::SetJsonForTesting(false);
        session::SetLibraryUsableForTesting(true);
        session::SessionOpenParams.kind = 0;
        const std::string object = CallLine();
        EXPECT_EQ(object.rfind("{\"t_ms\":", 0), 0u) << object;
        EXPECT_NE(object.find(",\"result\":0,"), std::string::npos) << object;
        EXPECT_NE(object.find(",\"reason\":\"" + c.reason + "\","), std::string::npos) << object;
        const bool controllerSentNumber = c.reason.rfind("refused by the controller (error", 0) == 0;
        EXPECT_EQ(object.find("\"error\":") != std::string::npos, controllerSentNumber) << object;
    }
}

TEST_F(TraceLogTest, CallLineNamesFunctionArgumentsResultAndDuration) {
    int unit = 0;
    EXPECT_EQ(TRAX_GetDisplayUnit(1, &unit), 1);
    EXPECT_EQ(TRAX_ClearFigureData(), 1);
    int count = 0;
    EXPECT_EQ(TRAX_DataStorageGetStatus(0, nullptr, &count), 1);  // the skipped output shows as NULL
    const std::vector<std::string> got = Captured();
    ASSERT_EQ(got.size(), 3u);
    const std::regex shape(R"(trax \[ *\d+\.\d{3} ms\] thread \d+: (TRAX_\w+\(.*\)) = (\d) in \d+\.\d{3} ms.*\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[0], m, shape)) << got[0];
    EXPECT_TRUE(m[1].str().rfind("TRAX_GetDisplayUnit(head=1, displayUnit=0x", 0) == 0) << m[1];
    EXPECT_EQ(m[2], "1");
    ASSERT_TRUE(std::regex_match(got[1], m, shape)) << got[1];
    EXPECT_EQ(m[1], "TRAX_ClearFigureData()");
    EXPECT_NE(got[2].find("TRAX_DataStorageGetStatus(head=0, storageState=NULL, storedCount=0x"), std::string::npos);
    // A nested exported call inside a setting function adds no line of its own.
    for (const std::string& line : got) EXPECT_EQ(line.find("TRAX_SetMode"), std::string::npos);
}

TEST_F(TraceLogTest, BytesShowRequestsAndRepliesInHexAndCutLongReplies) {
    trace::StartForTesting(trace::LevelBytes, &Capture);
    LightData light{};
    unsigned char profile[1024];
    EXPECT_EQ(TRAX_GetLight(0, 2, &light, nullptr, profile), 1);
    const std::vector<std::string> got = Captured();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NE(got[0].find(": request, command 24, 6 bytes: 00 06 07 18 00 02\n"), std::string::npos) << got[0];
    const size_t hex = got[1].find(": reply, code 25, 1046 bytes: 04 16 07 19 00");
    ASSERT_NE(hex, std::string::npos) << got[1];
    const std::string tail = " ... (1046 bytes in all)\n";
    ASSERT_GT(got[1].size(), tail.size());
    EXPECT_EQ(got[1].substr(got[1].size() - tail.size()), tail);
    const size_t start = got[1].find(": ", hex + 2) + 2;
    EXPECT_EQ(got[1].size() - tail.size() - start, 64u * 3 - 1) << "first 64 bytes, space separated";
    EXPECT_NE(got[2].find("TRAX_GetLight(head=0, selector=2, "), std::string::npos);
}

TEST_F(TraceLogTest, NothingIsWrittenWhenTheLogIsOff) {
    trace::StopForTesting();
    FloatValue a{}, b{};
    int unit = 0;
    ShortEngineLimits limits(50, 50);
    driver().QueueFor(20, Action::Answer(MakeSizedReply(255, 3, 8)));
    EXPECT_EQ(TRAX_GetCalcData(&a, &b), 0);
    EXPECT_EQ(TRAX_GetDisplayUnit(9, &unit), 0);
    EXPECT_EQ(TRAX_GetDisplayUnit(0, &unit), 1);
    // Load time without TRAX_LOG: no first line either.
    ClearVariable("TRAX_LOG");
    EXPECT_EQ(session::ProcessAttach(), 1);
    EXPECT_EQ(TRAX_SetZero(9, 9), 0);
    EXPECT_TRUE(Captured().empty());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(TraceLogTest, FirstLineFromTheEnvironmentTellsVersionPlatformAndDriverStartup) {
    trace::StopForTesting();
    const std::string path = ::testing::TempDir() + "trace-first-line.log";
    std::remove(path.c_str());
    SetVariable("TRAX_LOG_FILE", path);
    struct Case {
        const char* level;
        int initUsb;
        std::string expected;  // in the first line
        bool callsLogged;
    };
    const Case cases[] = {
        {"calls", 1, "trace log (calls); ", true},
        {"bytes", 0, "InitUsb=0 InitPid=1, library unusable", true},
        {"everything", 1, "TRAX_LOG='everything' is neither 'calls' nor 'bytes', so the log stays off", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        trace::StopForTesting();  // closes the file of the case before, so that it can go
        std::remove(path.c_str());
        driver().Reset();
        driver().initUsbResult = c.initUsb;
        SetVariable("TRAX_LOG", c.level);
        (void)session::ProcessAttach();  // the log set-up is what is looked at
        EXPECT_EQ(TRAX_SetZero(9, 0), 0);
        const std::string text = ReadAll(path);
        EXPECT_EQ(text.rfind("trax 2.2.0 trace log", 0), 0u) << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        EXPECT_NE(text.find("driver start-up: "), std::string::npos) << text;
        EXPECT_NE(text.find("; driver: the maker's USB driver (not the stand-in)"), std::string::npos) << text;
        EXPECT_EQ(text.find("TRAX_SetZero(head=9, onOff=0) = 0") != std::string::npos, c.callsLogged) << text;
    }
    ClearVariable("TRAX_LOG");
    (void)session::ProcessAttach();  // closes the file and leaves the log off
    std::remove(path.c_str());
}

TEST_F(TraceLogTest, TapGetsStartupAndFailedCallsWhateverTheLogSays) {
    trace::StopForTesting();
    const std::string tap = ::testing::TempDir() + "trace-tap.jsonl";
    const std::string log = ::testing::TempDir() + "trace-tap-log.txt";
    struct Case {
        const char* level;   // the user's own TRAX_LOG, untouched by the tap
        const char* format;  // TRAX_LOG_FORMAT
        const char* inLog;   // what the user's log shows of the failed call ("" none)
    };
    const Case cases[] = {
        {"", "", ""},
        {"calls", "", "TRAX_SetZero(head=9, onOff=0) = 0 in "},
        {"calls", "json", "\"call\":\"TRAX_SetZero\",\"args\":{\"head\":9,\"onOff\":0},\"result\":0,"},
        {"calls", "yaml", ""},  // a wrong format keeps the log off, not the tap
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.level) + "/" + c.format);
        trace::StopForTesting();
        std::remove(tap.c_str());
        std::remove(log.c_str());
        SetVariable("TRAX_LOG_TAP", tap);
        SetVariable("TRAX_LOG_FILE", log);
        SetVariable("TRAX_LOG", c.level);
        SetVariable("TRAX_LOG_FORMAT", c.format);
        (void)session::ProcessAttach();  // the tap is what is looked at here
        int unit = 0;
        EXPECT_EQ(TRAX_GetDisplayUnit(0, &unit), 1);
        EXPECT_EQ(TRAX_SetZero(9, 0), 0);
        trace::StopForTesting();
        const std::vector<std::string> objects = Lines(ReadAll(tap));
        ASSERT_EQ(objects.size(), 2u) << ReadAll(tap);
        EXPECT_EQ(objects[0].rfind("{\"trax\":\"2.2.0\",\"log\":\"calls\",", 0), 0u) << objects[0];
        EXPECT_NE(objects[0].find("\"startup\":{\"InitQelUsbTypeParam\":1,"), std::string::npos) << objects[0];
        EXPECT_NE(objects[1].find("\"reason\":\"argument out of range (head=9, allowed 0..2)\""), std::string::npos)
            << objects[1];
        const std::string text = ReadAll(log);
        if (c.inLog[0] == '\0') {
            EXPECT_EQ(text.find("TRAX_SetZero"), std::string::npos) << text;
        } else {
            EXPECT_NE(text.find(c.inLog), std::string::npos) << text;
            EXPECT_NE(text.find("TRAX_GetDisplayUnit"), std::string::npos) << "the log still has every call";
        }
    }
    for (const char* name : {"TRAX_LOG_TAP", "TRAX_LOG_FILE", "TRAX_LOG", "TRAX_LOG_FORMAT"}) ClearVariable(name);
    (void)session::ProcessAttach();  // the tap is what is looked at here
    std::remove(tap.c_str());
    std::remove(log.c_str());
}

TEST_F(TraceLogTest, LinesOfFourThreadsAreNeverInterleaved) {
    trace::StopForTesting();
    const std::string path = ::testing::TempDir() + "trace-threads.log";
    std::remove(path.c_str());
    SetVariable("TRAX_LOG_FILE", path);
    SetVariable("TRAX_LOG", "bytes");
    (void)session::ProcessAttach();  // the log set-up is what is looked at
    constexpr int kCalls = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            FloatValue a{}, b{};
            for (int i = 0; i < kCalls; ++i) {
                // Out-of-range calls take no lock of the library, so their
                // lines race with the others' byte and call lines.
                if (i % 3 == 0) {
                    TRAX_GetCalcData(&a, &b);
                } else {
                    TRAX_SetZero(100 + t, i);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    ClearVariable("TRAX_LOG");
    (void)session::ProcessAttach();  // the log set-up is what is looked at
    const std::string text = ReadAll(path);
    std::remove(path.c_str());
    const std::regex whole(
        R"(trax \[ *\d+\.\d{3} ms\] thread \d+: ((request|reply), (command|code) \d+, \d+ bytes: [0-9A-F ]+|TRAX_(GetCalcData\(valueA=0x[0-9a-f]+, valueB=0x[0-9a-f]+\) = 1|SetZero\(head=10[0-3], onOff=\d+\) = 0) in \d+\.\d{3} ms, called at \d+\.\d{3} ms(: argument out of range \(head=10[0-3], allowed 0\.\.2\))?))");
    const std::regex stamp(R"(trax \[ *(\d+)\.(\d{3}) ms\] thread (\d+): .*)");
    std::map<std::string, long long> lastStampOfThread;
    size_t start = text.find('\n') + 1;  // after the first line
    int count = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "last line not ended";
        const std::string line = text.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
        // A call's line follows its requests and replies: one thread's stamps never go back.
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, stamp)) << line;
        const long long us = std::stoll(m[1]) * 1000 + std::stoll(m[2]);
        long long& last = lastStampOfThread[m[3]];
        EXPECT_GE(us, last) << line;
        last = us;
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(lastStampOfThread.size(), 4u);
    EXPECT_EQ(count, 4 * kCalls + 4 * 50 * 2);
}

// TRAX_ASSERT=log sends assertion reports to the trace log's output instead
// of showing them; without it they are shown the usual way.
TEST_F(TraceLogTest, AssertionReportsGoToTheLogWhenAsked) {
    const platform::AssertionHook previous = platform::SetAssertionHook(nullptr);
    SetVariable("TRAX_ASSERT", "log");
    (void)session::ProcessAttach();  // the log set-up is what is looked at
    trace::StartForTesting(trace::LevelCalls, &Capture);
    platform::ReportAssertion("/x/transport/RingBuffer.cpp", 55);
    ClearVariable("TRAX_ASSERT");
    (void)session::ProcessAttach();  // the log set-up is what is looked at
    platform::SetAssertionHook(previous);
    const std::vector<std::string> captured = Captured();
    ASSERT_FALSE(captured.empty());
    EXPECT_NE(captured.back().find("Fatal error: assert[RingBuffer][55]"), std::string::npos) << captured.back();
}

}  // namespace
}  // namespace trax::test
