// Settings files as a user meets them: saved from one simulated controller,
// loaded into another and compared; every refusal of a file that cannot be
// trusted; a load that fails half way and what it reports; and the
// controller back in measurement mode after each failure.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "Support.h"
#include "client/SettingsFile.h"

using namespace traxctl_test;
using json = nlohmann::json;

namespace {

std::map<std::string, std::string> Controller(const TempDir& dir, const std::string& name,
                                              std::map<std::string, std::string> more = {}) {
    more["TRAX_SIM_STATE"] = dir.Path(name + ".state");
    return more;
}

// The last request of a traced run is the switch to measurement mode, and the
// controller accepted it.
bool EndsInMeasurementMode(const Result& r) {
    std::string lastRequest, lastReply;
    for (const std::string& line : Lines(r.err)) {
        if (line.rfind("trax-sim > ", 0) == 0) lastRequest = line, lastReply.clear();
        if (line.rfind("trax-sim < ", 0) == 0) lastReply = line;
    }
    return lastRequest == "trax-sim > 00 04 07 04" && lastReply.rfind("trax-sim < 00 08 07 05 00", 0) == 0;
}

// Setting writes (command 8) among the requests of a traced run.
int SettingWrites(const Result& r) {
    int n = 0;
    for (const std::string& line : Lines(r.err)) n += std::regex_match(line, std::regex("trax-sim > 00 .. 07 08.*"));
    return n;
}

TEST(SettingsFile, SavedFromOneControllerLoadsIntoAnotherWithNoDifference) {
    TempDir dir;
    const std::string first = dir.Path("first.json"), second = dir.Path("second.json");
    Result changed = Traxctl({"batch"}, Controller(dir, "one"),
                             "set offset A -1500\nset able-min-max B 20 80\nset storage 2 500 3\n"
                             "set sampling-cycle 4\nsettings save " +
                                 first + "\n");
    ASSERT_EQ(changed.status, 0) << changed.err;

    const json saved = json::parse(ReadFile(first));
    EXPECT_EQ(saved.at("format"), "trax-settings");
    EXPECT_EQ(saved.at("version"), 1);
    EXPECT_TRUE(std::regex_match(saved.at("written").get<std::string>(),
                                 std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")));
    EXPECT_FALSE(saved.at("library").get<std::string>().empty());
    EXPECT_EQ(saved.at("program"), 0);
    EXPECT_EQ(saved.at("heads").at("A").at("offset"), -1500);
    EXPECT_EQ(saved.at("heads").at("B").at("able-min-max"), (json{{"min", 20}, {"max", 80}}));
    EXPECT_EQ(saved.at("system").at("storage"), (json{{"target", 2}, {"count", 500}, {"cycle", 3}}));
    // Every readable setting, the program number apart and the write-only panel lock left out.
    EXPECT_EQ(saved.at("heads").at("A").size(), 19u);
    EXPECT_EQ(saved.at("system").size(), 7u);
    EXPECT_FALSE(saved.at("system").contains("panel-lock"));

    // As diff(1): 1 when there are differences, 0 when there are none.
    Result before = Traxctl({"settings", "diff", first}, Controller(dir, "two"));
    EXPECT_EQ(before.status, 1) << before.err;
    EXPECT_NE(before.out.find("offset                           A    file -1500  controller 0\n"), std::string::npos)
        << before.out;

    Result dry = Traxctl({"settings", "load", first, "--dry-run"}, Controller(dir, "two", {{"TRAX_SIM_TRACE", "1"}}));
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("4 of 45 settings would change"), std::string::npos) << dry.out;
    EXPECT_EQ(SettingWrites(dry), 0) << "a dry run wrote";

    Result load = Traxctl({"settings", "load", first}, Controller(dir, "two", {{"TRAX_SIM_TRACE", "1"}}));
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.out, "wrote 45 of 45 settings\n");
    EXPECT_TRUE(EndsInMeasurementMode(load));

    Result after =
        Traxctl({"batch"}, Controller(dir, "two"), "settings diff " + first + "\nsettings save " + second + "\n");
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(Lines(after.out).at(0), "no differences");
    Result files = Traxctl({"settings", "diff", first, second});
    EXPECT_EQ(files.out, "no differences\n");
    EXPECT_EQ(files.status, 0);
    EXPECT_EQ(Traxctl({"settings", "diff", first, dir.Path("none.json")}).status, 2);
}

TEST(SettingsFile, AFileWithSomeSettingsWritesOnlyThose) {
    TempDir dir;
    const std::string path = dir.Path("part.json");
    std::ofstream(path)
        << R"({"format":"trax-settings","version":1,"heads":{"B":{"num-alarm":12}},"system":{"panel":1}})";
    Result load = Traxctl({"settings", "load", path}, Controller(dir, "c"));
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.out, "wrote 2 of 2 settings\n");
    Result read = Traxctl({"batch"}, Controller(dir, "c"), "get num-alarm\nget panel\n");
    EXPECT_TRUE(std::regex_search(read.out, std::regex("num-alarm +A +7\\nnum-alarm +B +12\\npanel +- +1\\n")))
        << read.out;
}

TEST(SettingsFile, AFileThatCannotBeTrustedIsRefusedBeforeAnythingIsSent) {
    const std::string head = R"({"format":"trax-settings","version":1,)";
    struct Refusal {
        std::string text;
        const char* message;  // after "traxctl settings: FILE: "
    } const refusals[] = {
        {"", "not JSON"},
        {"[1]", "a JSON object is expected"},
        {R"({"version":1})", "format: missing"},
        {R"({"format":"other","version":1})", "format: \"other\" is not \"trax-settings\""},
        {R"({"format":"trax-settings","version":2})", "version: 2 is not a version this program reads (1)"},
        {R"({"format":"trax-settings"})", "version: missing"},
        {head + R"("heads":{"A":{"offsett":1}}})", "heads.A.offsett: no such setting"},
        {head + R"("heads":{"C":{}}})", "heads.C: no such head (A or B)"},
        {head + R"("heads":{"A":{"offset":1000000}}})", "heads.A.offset: 1000000 is out of range -999999..999999"},
        {head + R"("heads":{"A":{"offset":1.5}}})", "heads.A.offset: a whole number is expected, not 1.5"},
        {head + R"("heads":{"A":{"offset":true}}})", "heads.A.offset: a whole number is expected, not true"},
        {head + R"("heads":{"A":{"offset":"5"}}})", "heads.A.offset: a whole number is expected, not \"5\""},
        {head + R"("heads":{"A":{"offset":99999999999}}})", "heads.A.offset: 99999999999 is out of range"},
        {head + R"("heads":{"A":{"offset":18446744073709551615}}})",
         "heads.A.offset: 18446744073709551615 is out of range"},
        {head + R"("heads":{"B":{"able-min-max":{"min":50,"max":10}}}})",
         "heads.B.able-min-max: min 50 is above max 10"},
        {head + R"("heads":{"B":{"able-min-max":{"min":50}}}})", "heads.B.able-min-max.max: missing"},
        {head + R"("heads":{"B":{"able-min-max":{"min":5,"max":9,"mid":7}}}})",
         "heads.B.able-min-max.mid: no such value of able-min-max"},
        {head + R"("heads":{"B":{"able-min-max":7}}})",
         "heads.B.able-min-max: an object with \"min\", \"max\" is expected"},
        {head + R"("heads":{"A":{"sampling-cycle":1}}})", "heads.A.sampling-cycle: belongs to the controller"},
        {head + R"("system":{"offset":1}})", "system.offset: belongs to a head"},
        {head + R"("system":{"panel-lock":1}})", "system.panel-lock: can be written but not read back"},
        {head + R"("system":{"program":3}})", "system.program: the program number is where the settings belong"},
        {head + R"("program":8})", "program: 8 is out of range 0..7"},
        {head + R"("profile":{}})", "profile: not part of a settings file"},
        // A key given twice would leave one of them unseen.
        {head + R"("heads":{"A":{"offset":5,"offset":250}}})", "heads.A.offset: given twice"},
        {head + R"("heads":{"A":{"offset":5}},"heads":{"B":{"offset":5}}})", "heads: given twice"},
        {head + R"("format":"trax-settings"})", "format: given twice"},
        {head + R"("heads":{"B":{"able-min-max":{"min":1,"max":9,"min":2}}}})",
         "heads.B.able-min-max.min: given twice"},
        {std::string(trax::client::kMaxSettingsFileBytes, ' ') + head + "}", "too large for a settings file"},
        // Hostile files: nothing deeper than the limit is built, nothing is
        // echoed whole, and the parser's words become plain ones.
        {head + R"("heads":{"A":{"offset":1e999}}})",
         "not JSON: line 1, column 67: 1e999 is beyond the range of any number"},
        {head + R"("heads":{"A":{"offs)", "not JSON: line 1, column 58: the text ends before the JSON is complete"},
        {head + "\n\"written\":\"\xff\"}", "not JSON: line 2, column 13: a string holds bytes that are not UTF-8"},
        {head + R"("heads":{"A":{"offset":)" + std::string(100000, '['),
         "not JSON: heads.A.offset[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]"
         "[0][0]: nested deeper than 32 levels"},
        {head + R"("heads":{"A":{"offset":[[[[[[1]]]]]]}}})",
         "heads.A.offset: a whole number is expected, not an array"},
        {head + "\"" + std::string(5000, 'k') + "\":1}", "kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk...: not part of"},
    };
    TempDir dir;
    const std::string path = dir.Path("bad.json");
    for (const Refusal& r : refusals) {
        std::ofstream(path, std::ios::trunc) << r.text;
        for (const char* action : {"load", "diff"}) {
            Result run = Traxctl({"settings", action, path}, {{"TRAX_SIM_TRACE", "1"}});
            EXPECT_EQ(run.status, 2) << r.text;  // wrong input
            EXPECT_EQ(run.err.rfind("traxctl settings: " + path + ": " + r.message, 0), 0u) << r.text << "\n"
                                                                                            << run.err;
            EXPECT_EQ(TracedRequests(run), 0) << r.text;
        }
    }
    Result missing = Traxctl({"settings", "load", dir.Path("none.json")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
}

TEST(SettingsFile, ALoadThatFailsSaysWhatWasWrittenAndLeavesTheControllerMeasuring) {
    TempDir dir;
    const std::string path = dir.Path("all.json");
    ASSERT_EQ(Traxctl({"batch"}, Controller(dir, "source"), "set offset B 250\nsettings save " + path + "\n").status,
              0);
    struct Fault {
        const char* failAfter;  // TRAX_SIM_FAIL_AFTER
        const char* report;     // in stderr
        bool someWritten;
    } const faults[] = {
        {"0", "did not enter setting mode; nothing was written", false},
        {"100", "  written:     able-mode A, ", true},
        {"400", "could not be read back", true},
    };
    for (const Fault& f : faults) {
        TempDir target;
        Result load = Traxctl({"settings", "load", path},
                              Controller(target, "c", {{"TRAX_SIM_FAIL_AFTER", f.failAfter}, {"TRAX_SIM_TRACE", "1"}}));
        EXPECT_EQ(load.status, 1) << f.failAfter;
        EXPECT_NE(load.err.find(f.report), std::string::npos) << f.failAfter << "\n" << load.err;
        EXPECT_TRUE(EndsInMeasurementMode(load)) << f.failAfter;
        // What the report calls written is on the controller, and the rest is not.
        std::smatch wrote;
        ASSERT_TRUE(std::regex_search(load.out, wrote, std::regex("^wrote (\\d+) of 45 settings\\n"))) << load.out;
        EXPECT_EQ(std::stoi(wrote[1]) > 0, f.someWritten) << f.failAfter;
        if (std::string(f.failAfter) == "100") {
            EXPECT_NE(load.err.find("  failed:      scaling-1 A"), std::string::npos) << load.err;
            EXPECT_NE(load.err.find("  not written: scaling-1 B, "), std::string::npos) << load.err;
            Result diff = Traxctl({"settings", "diff", path}, Controller(target, "c"));
            EXPECT_NE(diff.out.find("offset                           B    file 250  controller 0"), std::string::npos)
                << diff.out;
        }
    }
}

TEST(SettingsFile, TheFileIsWrittenWholeOrNotAtAll) {
    TempDir dir;
    const std::string path = dir.Path("kept.json");
    std::ofstream(path) << "previous";
    // A failed read leaves the old file as it was.
    Result failed = Traxctl({"settings", "save", path}, {{"TRAX_SIM_FAIL_AFTER", "40"}});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("nothing written to '" + path + "'"), std::string::npos) << failed.err;
    EXPECT_EQ(ReadFile(path), "previous");
    // The system's own words when the disk is full.
    Result full = Traxctl({"settings", "save", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
    Result noDir = Traxctl({"settings", "save", dir.Path("no/such/dir.json")});
    EXPECT_EQ(noDir.status, 1);
    EXPECT_NE(noDir.err.find("No such file or directory"), std::string::npos) << noDir.err;
}

TEST(SettingsFile, ParsedAndWrittenBackTheTextIsTheSame) {
    using namespace trax::client;
    TempDir dir;
    const std::string path = dir.Path("s.json");
    ASSERT_EQ(Traxctl({"settings", "save", path}).status, 0);
    const std::string text = ReadFile(path);
    EXPECT_EQ(SettingsJson(ParseSettings(text)), text);
}

}  // namespace
