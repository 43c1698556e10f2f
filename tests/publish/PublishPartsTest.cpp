#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "publish/Backoff.h"
#include "publish/Commands.h"
#include "publish/Link.h"
#include "publish/MetricsEndpoint.h"
#include "publish/Outbox.h"
#include "tests/publish/FakeController.h"

namespace trax::publish {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

Record Message(std::uint64_t seq, std::size_t size = 100, Kind kind = Kind::Values) {
    Record r;
    r.kind = kind;
    r.seq = seq;
    r.topic = "t/values";
    r.payload = std::string(size, 'x') + std::to_string(seq);
    return r;
}

class SpoolFolder : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("trax-spool-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<fs::path> Segments() const {
        std::vector<fs::path> files;
        for (const auto& f : fs::directory_iterator(dir))
            if (f.path().filename().string().rfind("seg-", 0) == 0) files.push_back(f.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    fs::path dir;
};

// Acknowledgements may come in any order; messages leave in order.
TEST(Outbox, LeavesInOrderWhenAcknowledgedOutOfOrder) {
    Outbox box(1 << 20, "");
    for (std::uint64_t s = 1; s <= 5; ++s) box.Push(Message(s));
    EXPECT_EQ(box.Next(0)->seq, 1u);
    box.Ack(3);
    box.Ack(2);
    EXPECT_EQ(box.Count(), 5u);  // 1 still out
    EXPECT_EQ(box.Next(2)->seq, 4u) << "acknowledged ones are not sent again";
    box.Ack(1);
    EXPECT_EQ(box.Count(), 2u);
    EXPECT_EQ(box.FrontId(), 4u) << "a reconnect starts again at the oldest unacknowledged";
    box.Ack(99);  // not ours: ignored
    box.Ack(4);
    box.Ack(5);
    EXPECT_EQ(box.Count(), 0u);
    EXPECT_FALSE(box.Next(0));
    EXPECT_EQ(box.Bytes(), 0u);
}

// Full: the oldest go, counted per topic with the exact seqs, sent ones apart.
TEST(Outbox, OverflowDropsTheOldestAndReportsThem) {
    const std::size_t each = Message(1).Bytes();
    Outbox box(each * 10 + 20, "");  // seqs above 9 are a byte longer
    for (std::uint64_t s = 1; s <= 10; ++s) box.Push(Message(s));
    ASSERT_EQ(box.NextToSend(0)->seq, 1u);
    ASSERT_EQ(box.NextToSend(2)->seq, 2u);
    box.Ack(2);
    for (std::uint64_t s = 11; s <= 14; ++s) box.Push(Message(s));
    box.Push(Message(1, 100, Kind::Events));
    const DropReport report = box.TakeDrops();
    ASSERT_EQ(report.count(Kind::Values), 1u);
    const DropRange& values = report.at(Kind::Values);
    // 1 was sent without an answer, 2 acknowledged (not a drop), 3..5 never sent.
    EXPECT_EQ(values.unconfirmed, 1u);
    EXPECT_EQ(values.count, 3u);
    EXPECT_EQ(values.firstSeq, 1u);
    EXPECT_EQ(values.lastSeq, 5u);
    EXPECT_EQ(box.Next(0)->seq, 6u);
    EXPECT_TRUE(box.TakeDrops().empty()) << "a report is given once";
    EXPECT_LE(box.Bytes(), each * 10 + 20);
}

TEST(Outbox, AMessageLargerThanTheBoundIsDroppedItself) {
    Outbox box(1000, "");
    box.Push(Message(1));
    EXPECT_EQ(box.Push(Message(2, 5000)), 0u);
    EXPECT_EQ(box.Count(), 1u);
    EXPECT_EQ(box.TakeDrops().at(Kind::Values).count, 1u);
}

TEST_F(SpoolFolder, UnsentMessagesSurviveIntoTheNextRun) {
    {
        Outbox box(1 << 20, dir.string());
        for (std::uint64_t s = 1; s <= 10; ++s) box.Push(Message(s));
        box.Ack(1);
        box.Ack(2);
        box.Ack(3);
        box.Sync();
    }
    Outbox again(1 << 20, dir.string());
    EXPECT_EQ(again.Recovered(), 7u);
    const auto first = again.Next(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->seq, 4u);
    EXPECT_EQ(first->payload, Message(4).payload);
    EXPECT_GT(again.Push(Message(11)), 10u) << "ids go on after the recovered ones";
}

// A crash in the middle of a write leaves part of a record: cut off, and
// what comes after it stays readable.
TEST_F(SpoolFolder, ATornTailIsCutAndTheRestRecovered) {
    {
        Outbox box(1 << 20, dir.string());
        for (std::uint64_t s = 1; s <= 5; ++s) box.Push(Message(s));
        box.Sync();
    }
    const fs::path segment = Segments().back();
    const auto whole = fs::file_size(segment);
    fs::resize_file(segment, whole - 7);
    {
        Outbox box(1 << 20, dir.string());
        EXPECT_EQ(box.Recovered(), 4u);
        box.Push(Message(6));
    }
    Outbox last(1 << 20, dir.string());
    EXPECT_EQ(last.Recovered(), 5u);
}

TEST_F(SpoolFolder, ARecordWithABadChecksumEndsTheRecovery) {
    {
        Outbox box(1 << 20, dir.string());
        for (std::uint64_t s = 1; s <= 5; ++s) box.Push(Message(s));
    }
    const fs::path segment = Segments().back();
    std::fstream file(segment, std::ios::in | std::ios::out | std::ios::binary);
    const auto recordSize = static_cast<std::streamoff>(fs::file_size(segment) / 5);
    file.seekp(recordSize * 2 + 40);  // inside the third record's body
    file.put('!');
    file.close();
    Outbox box(1 << 20, dir.string());
    EXPECT_EQ(box.Recovered(), 2u);
}

// The disk holds no more than the bound and one segment, however long the outage.
TEST_F(SpoolFolder, TheDiskStaysWithinTheBound) {
    const std::size_t limit = 64 * 1024;
    Outbox box(limit, dir.string());
    for (std::uint64_t s = 1; s <= 5000; ++s) box.Push(Message(s, 200));
    std::uintmax_t onDisk = 0;
    for (const auto& f : Segments()) onDisk += fs::file_size(f);
    EXPECT_LE(onDisk, limit + 16 * 1024);
    EXPECT_EQ(box.TakeDrops().at(Kind::Values).count + box.Count(), 5000u);
    box.Sync();
    Outbox again(limit, dir.string());
    EXPECT_EQ(again.Recovered(), box.Count()) << "dropped ones do not come back after a restart";
}

TEST_F(SpoolFolder, AFolderThatCannotBeMadeIsAClearError) {
    std::ofstream(dir.string()) << "a file, not a folder";
    try {
        Outbox box(1 << 20, (dir / "sub").string());
        FAIL() << "no error";
    } catch (const SpoolError& e) {
        EXPECT_NE(e.message.find("cannot make the spool folder"), std::string::npos) << e.message;
    }
    fs::remove(dir);
}

TEST(ParseSize, Table) {
    const std::vector<std::pair<std::string, std::size_t>> good = {
        {"4096", 4096}, {"512k", 512 * 1024}, {"64M", 64u << 20}, {"1G", 1u << 30}};
    for (const auto& [text, bytes] : good) EXPECT_EQ(ParseSize(text), bytes) << text;
    for (const char* bad : {"", "k", "12q", "-5", "1.5M", "99999999999999999999", "2000G", "12 M"})
        EXPECT_THROW(ParseSize(bad), std::invalid_argument) << bad;
}

TEST(Backoff, DoublesFromOneSecondToThirtyAndStartsAgain) {
    Backoff b;
    std::vector<long long> waits;
    for (int i = 0; i < 8; ++i) waits.push_back(b.Next().count());
    EXPECT_EQ(waits, (std::vector<long long>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    b.Reset();
    EXPECT_EQ(b.Next().count(), 1000);
}

TEST(ParseBroker, Table) {
    struct Row {
        const char* url;
        const char* host;
        int port;
        bool tls;
    };
    for (const Row& r :
         {Row{"mqtt://broker", "broker", 1883, false}, Row{"mqtts://broker:8884/", "broker", 8884, true},
          Row{"mqtt://10.0.0.5:1884", "10.0.0.5", 1884, false}, Row{"mqtt://[::1]:1885", "::1", 1885, false}}) {
        const BrokerAddress a = ParseBroker(r.url);
        EXPECT_EQ(a.host, r.host) << r.url;
        EXPECT_EQ(a.port, r.port) << r.url;
        EXPECT_EQ(a.tls, r.tls) << r.url;
    }
    for (const char* bad : {"broker", "http://x", "mqtt://", "mqtt://:1883", "mqtt://h:0", "mqtt://h:65536",
                            "mqtt://h:12a", "mqtt://u@h", "mqtt://[::1", "mqtt://h/x"})
        EXPECT_THROW(ParseBroker(bad), std::invalid_argument) << bad;
}

TEST(CommandName, OnlyKnownNamesOneLevelBelowCmd) {
    EXPECT_EQ(CommandName("line/pc1", "line/pc1/cmd/zero"), "zero");
    EXPECT_EQ(CommandName("line/pc1", "line/pc1/cmd/settings-file"), "settings-file");
    for (const char* topic : {"line/pc1/cmd/", "line/pc1/cmd/zero/x", "line/pc1/cmd/+", "line/pc1/cmd/format-disk",
                              "line/pc2/cmd/zero", "line/pc1/zero", "line/pc1cmd/zero"})
        EXPECT_EQ(CommandName("line/pc1", topic), "") << topic;
}

TEST(UsableResponseTopic, Table) {
    EXPECT_TRUE(UsableResponseTopic("replies/me"));
    EXPECT_TRUE(UsableResponseTopic("r\xc3\xa9ponses/1"));
    for (const std::string& bad : {std::string(""), std::string("a/#"), std::string("a/+/b"), std::string("a\x01"),
                                   std::string("a\xff"), std::string(600, 'a'), std::string("a\0b", 3)})
        EXPECT_FALSE(UsableResponseTopic(bad)) << bad;
}

// command, payload, status, words in the error ("" for none), calls made
struct CommandRow {
    const char* name;
    std::string payload;
    int status;
    const char* words;
    std::vector<std::string> calls;
};

TEST(RunCommand, CheckedBeforeAnyCallAndCarriedOut) {
    const std::vector<CommandRow> rows = {
        {"zero", R"({"head":"both","on":true})", 200, "", {"Zero 2 1"}},
        {"timing", R"({"head":"B","on":false})", 200, "", {"Timing 1 0"}},
        {"reset", R"({"head":"a"})", 200, "", {"Reset 0"}},
        {"reset", "", 400, "missing member 'head'", {}},
        {"zero", R"({"head":"C","on":true})", 400, "head: 'C' is not A, B or both", {}},
        {"zero", R"({"head":"A","on":1})", 400, "on: true or false is needed", {}},
        {"zero", R"({"head":"A","on":true,"x":1})", 400, "unknown member 'x'", {}},
        {"storage-start", "{}", 200, "", {"StorageStart"}},
        {"storage-stop", R"({"now":true})", 400, "unknown member 'now'", {}},
        {"settings",
         R"({"setting":"offset","head":"A","values":{"offset":100}})",
         200,
         "",
         {"WriteSetting offset 0 100"}},
        {"settings", R"({"setting":"offset","head":"A","values":1000000})", 400, "out of range", {}},
        {"settings", R"({"setting":"offset","head":"A","values":18446744073709551615})", 400, "offset", {}},
        {"settings", R"({"setting":"offset","head":"A","values":-1e400})", 400, "", {}},
        {"settings", R"({"setting":"able-min-max","head":"A","values":{"min":50,"max":10}})", 400, "above", {}},
        {"settings", R"({"setting":"sampling-cycle","values":[2]})", 200, "", {"WriteSetting sampling-cycle 0 2"}},
        {"settings", R"({"setting":"sampling-cycle","head":"A","values":2})", 400, "takes no head", {}},
        {"settings-read", "{}", 200, "", {}},
        {"settings-file",
         R"({"format":"trax-settings","version":1,"heads":{"A":{"offset":5}}})",
         200,
         "",
         {"LoadSettings 1"}},
        {"settings-file",
         R"({"format":"trax-settings","version":1,"heads":{"A":{"offset":5000000}}})",
         400,
         "settings file:",
         {}},
        {"zero", "[1,2]", 400, "must be a JSON object", {}},
        {"zero", "{\"head\":\"\xff\"}", 400, "not valid JSON", {}},
        {"zero", std::string(20 * 1024, ' ') + "{}", 413, "too large", {}},
        {"zero", std::string(100, '[') + std::string(100, ']'), 400, "", {}},
        {"nope", "{}", 404, "unknown command", {}},
    };
    for (const CommandRow& row : rows) {
        FakeController fake;
        const CommandOutcome out = RunCommand(row.name, row.payload, fake);
        EXPECT_EQ(out.status, row.status) << row.name << " " << row.payload.substr(0, 60) << ": " << out.Text();
        if (*row.words != '\0') {
            EXPECT_NE(out.body.value("error", "").find(row.words), std::string::npos) << out.Text();
        }
        EXPECT_EQ(fake.calls, row.calls) << row.name << " " << row.payload.substr(0, 60);
        EXPECT_TRUE(json::accept(out.Text()));
    }
}

TEST(RunCommand, AFailedCallAnswersWithItsFunctionAndReason) {
    FakeController fake;
    fake.fail = true;
    const CommandOutcome out = RunCommand("zero", R"({"head":"A","on":true})", fake);
    EXPECT_EQ(out.status, 502);
    EXPECT_EQ(out.body["function"], "TRAX_SetZero");
    EXPECT_EQ(out.body["errorNumber"], 5);
    EXPECT_NE(out.body["reason"].get<std::string>().find("refused"), std::string::npos);
}

// request, status
TEST(MetricsReply, OnlyGetMetricsFromALoopbackHost) {
    const auto text = [] { return std::string("trax_up 1\n"); };
    const std::vector<std::pair<std::string, int>> rows = {
        {"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\n\r\n", 200},
        {"GET /metrics?x=1 HTTP/1.1\r\nHost: localhost:9100\r\n\r\n", 200},
        {"GET /metrics HTTP/1.1\r\nhost: [::1]:9100\r\n\r\n", 200},
        {"GET /metrics HTTP/1.1\r\nHost: evil.example:9100\r\n\r\n", 421},
        {"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9101\r\n\r\n", 421},
        {"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\nHost: evil\r\n\r\n", 421},
        {"GET /metrics HTTP/1.1\r\n\r\n", 421},
        {"POST /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\n\r\n", 405},
        {"GET /api HTTP/1.1\r\nHost: 127.0.0.1:9100\r\n\r\n", 404},
        {"GET /metrics HTTP/1.1\r\nno colon here\r\n\r\n", 400},
        {"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\n", 400},
    };
    for (const auto& [request, status] : rows) {
        const std::string reply = MetricsReply(request, 9100, text);
        EXPECT_EQ(reply.substr(9, 3), std::to_string(status)) << request;
        if (status == 200) {
            EXPECT_NE(reply.find("\r\n\r\ntrax_up 1\n"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace trax::publish
