// The reason tap as its readers see it: the shared fixture of tap lines, and
// traxctl as a child of a process that owns a tap, run again and again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Support.h"
#include "client/Failure.h"

namespace {

using traxctl_test::ReadFile;
using traxctl_test::Result;
using traxctl_test::TempDir;
using traxctl_test::Traxctl;

constexpr uint32_t kFixtureProcess = 4242;

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) n += entry.path().empty() ? 0 : 1;
    return n;
}

// Every reader (C++, Python, C#) answers the same questions about the same
// lines; fed whole or a few bytes at a time, as a file that grows.
TEST(ReasonTap, TheSharedFixtureGivesEachThreadItsOwnLastReason) {
    const std::string lines = ReadFile(TRAX_TEST_DATA "/reason-tap.jsonl");
    std::istringstream takes(ReadFile(TRAX_TEST_DATA "/reason-tap-takes.jsonl"));
    std::vector<nlohmann::json> questions;
    for (std::string line; std::getline(takes, line);) questions.push_back(nlohmann::json::parse(line));
    ASSERT_GT(questions.size(), 2u);
    for (const size_t piece : {lines.size(), size_t{7}}) {
        trax::client::ReasonReader reader(kFixtureProcess);
        for (size_t at = 0; at < lines.size(); at += piece) reader.Feed(lines.substr(at, piece));
        EXPECT_EQ(reader.Startup().version, questions[0].at("startup")) << piece;
        EXPECT_EQ(reader.Startup().usable, questions[0].at("usable")) << piece;
        for (size_t i = 1; i < questions.size(); ++i) {
            const nlohmann::json& q = questions[i];
            const std::string call = q.at("call");
            const trax::client::Failure f = reader.Take(call.c_str(), q.at("thread").get<uint32_t>());
            EXPECT_EQ(f.reason, q.at("reason")) << q.dump() << " fed in pieces of " << piece;
            if (q.at("error").is_null()) {
                EXPECT_FALSE(f.errorNumber.has_value()) << q.dump();
            } else {
                EXPECT_EQ(f.errorNumber, q.at("error").get<int>()) << q.dump();
            }
        }
        EXPECT_EQ(reader.Held(), 0u) << "lines of threads that asked are used up";
    }
}

TEST(ReasonTap, LinesOfThreadsThatNeverAskAreBounded) {
    trax::client::ReasonReader reader(1);
    std::string lines;
    for (int i = 0; i < 2000; ++i) {
        lines += R"({"thread":)" + std::to_string(i) + R"(,"process":1,"call":"TRAX_GetCalcData","reason":"r"})" + "\n";
    }
    reader.Feed(lines);
    EXPECT_LE(reader.Held(), 512u);
    EXPECT_EQ(reader.Take("TRAX_GetCalcData", 1999).reason, "r");
}

// A child of a process that owns a tap (traxctl run from a script) makes its
// own: it knows its reasons, and no file appears under the parent's name.
TEST(ReasonTap, AChildOfATapOwnerKnowsItsReasonsAndLeavesTheParentsName) {
    TempDir dir;
    const std::string parents = dir.Path("parent-tap.jsonl");
    Result r = Traxctl({"mode", "setting"}, {{"TRAX_LOG_TAP", parents},
                                             {"TRAX_LOG_TAP_PROCESS", "1"},
                                             {"TRAX_SIM_ERROR_REPLY", "7"},
                                             {"TRAX_SIM_ERROR_COMMAND", "6"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("TRAX_SetMode failed: refused by the controller (error reply, error 7, command 6)"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(parents));
}

// A user's own tap (no owner named) still gets every failure, with the
// process and thread, and the tool reads its reasons from it.
TEST(ReasonTap, AUsersOwnTapIsSharedAndKept) {
    TempDir dir;
    const std::string tap = dir.Path("mine.jsonl");
    for (int run = 0; run < 2; ++run) {
        Result r = Traxctl({"values"}, {{"TRAX_LOG_TAP", tap}, {"TRAX_SIM_ERROR_REPLY", "7"}});
        EXPECT_NE(r.err.find("refused by the controller (error reply, error 7, command 20)"), std::string::npos)
            << r.err;
    }
    std::istringstream lines(ReadFile(tap));
    int calls = 0;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line);
        EXPECT_TRUE(object.at("process").is_number_integer()) << line;
        if (!object.contains("call")) continue;
        ++calls;
        EXPECT_TRUE(object.at("thread").is_number_integer()) << line;
    }
    EXPECT_EQ(calls, 2);
}

// However many runs fail, the temporary folder is as it was.
TEST(ReasonTap, TwentyFailingRunsLeaveNoFileBehind) {
    TempDir temporary;
    const std::string folder = temporary.Path("");
    const size_t before = FilesIn(folder);
    for (int run = 0; run < 20; ++run) {
        Result r = Traxctl({"values"}, {{"TMPDIR", folder}, {"TRAX_SIM_ERROR_REPLY", "7"}});
        ASSERT_EQ(r.status, 1) << r.err;
        ASSERT_NE(r.err.find("refused by the controller"), std::string::npos) << r.err;
    }
    EXPECT_EQ(FilesIn(folder), before);
}

}  // namespace
