// traxctl as a user runs it: one representative command of each family,
// wrong input, failing library calls, and --json read back; and the JSON
// writer behind --json on its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "JsonWriter.h"
#include "Support.h"
#include "client/ValueText.h"

using namespace traxctl_test;

namespace {

const std::map<std::string, std::string> kTrace = {{"TRAX_SIM_TRACE", "1"}};

struct Case {
    std::vector<std::string> args;
    const char* pattern;  // ECMAScript regex searched in stdout
};

std::string Joined(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) s += (s.empty() ? "" : " ") + a;
    return s;
}

TEST(TraxctlCommands, EachFamilySucceedsAndPrintsWhatItDid) {
    const Case cases[] = {
        {{"values"}, "^A  1\\.235\\nB  -2\\.009\\n$"},
        {{"--unit", "mm", "values"}, "^A  1\\.235 mm\\nB  -2\\.009 mm\\n$"},
        {{"values", "--units", "metric", "--read-unit"}, "^A  1\\.235 mm\\nB  -2\\.009 mm\\n$"},
        {{"watch", "--count", "3", "--interval", "0"},
         "^(\\d+\\.\\d{3}  A  -?\\d+(\\.\\d+)?    B  -?\\d+(\\.\\d+)?\\n){3}$"},
        {{"watch", "--count", "2", "--interval", "0", "--iso", "--unit", "mm"},
         "^(\\d{4}-\\d\\d-\\d\\dT[\\d:.]{12}Z  \\d+\\.\\d{3}  A  -?\\d+\\.\\d+ mm    B  -?\\d+\\.\\d+ mm\\n){2}$"},
        {{"figure", "B", "--unit", "um"},
         "figure data of head B\\n(  value \\d    -?\\d+(\\.\\d+)? um\\n){7}(  integer \\d  -?\\d+\\n){4}$"},
        {{"clear-figure"}, "^figure data cleared\\n$"},
        {{"light", "A", "--selector", "2"}, "selector 2\\n.*\\n 255 \\|[ #]{64}\\n(.|\\n)*     \\+-{64}\\n"},
        {{"storage", "status"}, "^storing  no\\nA  0 values\\nB  0 values\\n$"},
        {{"storage", "setup", "--count", "10"}, "^storage ready: target 0, count 10, cycle 0\\n$"},
        {{"get", "num-alarm", "B"}, "^num-alarm +B +7\\n$"},
        {{"get", "storage"}, "^storage +- +target=0 count=1000 cycle=0\\n$"},
        {{"set", "calc-method", "A", "3", "7"}, "^calc-method +A +method=3 parameter=7\\n$"},
        {{"set", "strobe-time", "2"}, "^strobe-time +- +2\\n$"},
        {{"zero", "both"}, "^zero set on both heads\\n$"},
        {{"zero", "A"}, "^zero set on head A\\n$"},
        {{"zero", "BOTH", "off"}, "^zero cleared on both heads\\n$"},
        {{"timing", "A", "off"}, "^timing input off for head A\\n$"},
        {{"timing", "both", "on"}, "^timing input on for both heads\\n$"},
        {{"reset", "B"}, "^head B reset\\n$"},
        {{"reset", "both"}, "^both heads reset\\n$"},
        {{"set", "panel-lock", "1"}, "^panel-lock written: 1 \\(write-only: it cannot be read back\\)\\n$"},
        {{"panel", "B"}, "^panel B\\n$"},
        {{"panel"}, "^panel both\\n$"},
        {{"lock", "on"}, "^panel locked\\n$"},
        {{"program", "5"}, "^program 5\\n$"},
        {{"program"}, "^program 0\\n$"},
        {{"able", "start", "A"}, "^Able adjustment started on head A\\n$"},
        {{"mode", "setting"}, "^controller in setting mode\\n$"},
    };
    for (const Case& c : cases) {
        Result r = Traxctl(c.args);
        EXPECT_EQ(r.status, 0) << Joined(c.args) << "\n" << r.err;
        EXPECT_TRUE(std::regex_search(r.out, std::regex(c.pattern))) << Joined(c.args) << " printed:\n" << r.out;
    }
}

TEST(TraxctlCommands, SettingsListsEveryReadableSettingOfBothHeads) {
    Result r = Traxctl({"settings"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    // Header, 19 head settings for A and B, 8 controller settings (the panel lock cannot be read).
    ASSERT_EQ(lines.size(), 1u + 19 * 2 + 8);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("SETTING +HEAD +VALUE")));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("able-mode +A +0")));
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("able-mode +B +0")));
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("program +- +0")));

    Result onlyB = Traxctl({"settings", "B"});
    ASSERT_EQ(onlyB.status, 0);
    EXPECT_EQ(Lines(onlyB.out).size(), 1u + 19 + 8);
    EXPECT_EQ(onlyB.out.find(" A "), std::string::npos);
}

TEST(TraxctlCommands, BatchKeepsOneControllerSoASettingReadsBack) {
    Result r = Traxctl({"batch"}, {}, "# comment\nset offset A -1500\n\ntraxctl get offset\nvalues\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("offset +A +-1500\\noffset +A +-1500\\noffset +B +0\\n")));
    // The offset counts in um: head A's first value 1.235 mm moves down by 1.5 mm.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\\nA  -0\\.265\\n"))) << r.out;

    // A failing line is named by its number, without the whole usage.
    Result stops = Traxctl({"batch"}, {}, "set offset A 5\n\nset offset A 1000000\nset offset A 7\n");
    EXPECT_EQ(stops.status, 2);
    EXPECT_EQ(stops.out.find(" 7\n"), std::string::npos) << "the line after the failure ran";
    EXPECT_EQ(stops.err, "traxctl batch: line 3: set: offset: 1000000 is out of range -999999..999999\n");
    // Every line is checked before anything is sent: a typo on line 2 leaves line 1 unsent.
    TempDir steps;
    std::ofstream(steps.Path("steps")) << "set offset A 5\nset ofset A 5\n";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"batch"}, {"batch", steps.Path("steps")}}) {
        Result typo = Traxctl(args, kTrace, "set offset A 5\nset ofset A 5\n");
        EXPECT_EQ(typo.status, 2) << Joined(args);
        EXPECT_NE(typo.err.find("traxctl batch: line 2: set: unknown setting 'ofset'"), std::string::npos) << typo.err;
        EXPECT_EQ(TracedRequests(typo), 0) << Joined(args) << " sent line 1:\n" << typo.err;
    }
    // A file name with a space, quoted either way.
    TempDir dir;
    Result quoted = Traxctl(
        {"batch"}, {}, "light A --csv \"" + dir.Path("a b.csv") + "\"\nlight B --csv '" + dir.Path("c d.csv") + "'\n");
    EXPECT_EQ(quoted.status, 0) << quoted.err;
    EXPECT_EQ(Lines(ReadFile(dir.Path("a b.csv"))).size(), 1025u);
    EXPECT_EQ(Lines(ReadFile(dir.Path("c d.csv"))).size(), 1025u);
    Result open = Traxctl({"batch"}, {}, "# a \"comment\nvalues\nlight A --csv \"x.csv\n");
    EXPECT_EQ(open.status, 2);
    EXPECT_NE(open.err.find("line 3: unterminated quote"), std::string::npos) << open.err;
    Result refused = Traxctl({"batch"}, {{"TRAX_SIM_ERROR_REPLY", "7"}}, "get offset A\nvalues\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("\ntraxctl batch: line 2: values: TRAX_GetCalcData failed: refused by the controller "
                               "(error reply, error 7, command 20)\n"),
              std::string::npos)
        << refused.err;
    // Left in setting mode, the controller refuses values; traxctl asks it and says what to do.
    Result setting = Traxctl({"batch"}, {}, "mode setting\nvalues\n");
    EXPECT_EQ(setting.status, 1);
    EXPECT_NE(setting.err.find("traxctl batch: line 2: values: TRAX_GetCalcData failed: refused by the controller "
                               "(error 5, command 20)\ntraxctl batch: line 2: values: hint: the controller is in "
                               "setting mode; 'traxctl mode measure' brings it back to measurement\n"),
              std::string::npos)
        << setting.err;
}

TEST(TraxctlCommands, DecimalsAndUnitFollowTheDisplayUnit) {
    struct Unit {
        const char* code;
        const char* units;  // --units and TRAX_SIM_UNITS
        const char* pattern;
    } const units[] = {
        {"0", "metric", "A  1\\.2\\d mm\n"},          {"1", "metric", "A  1\\.2\\d\\d mm\n"},
        {"3", "metric", "A  1\\.2\\d{4} mm\n"},       {"4", "metric", "A  12\\d\\d\\.\\d um\n"},
        {"5", "metric", "A  12\\d\\d\\.\\d\\d um\n"}, {"1", "inch", "A  0\\.\\d{5} inch\n"},
        {"2", "inch", "A  \\d+\\.\\d mil\n"},         {"5", "inch", "A  \\d+\\.\\d{4} mil\n"},
    };
    for (const Unit& u : units) {
        std::string script = std::string("set display-unit A ") + u.code + "\nvalues\n";
        Result r = Traxctl({"--units", u.units, "--read-unit", "batch"}, {{"TRAX_SIM_UNITS", u.units}}, script);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(std::regex_search(r.out, std::regex(u.pattern))) << u.code << " " << u.units << ":\n" << r.out;
    }
}

TEST(TraxctlCommands, HelpOnEveryCommand) {
    const char* commands[] = {"values", "watch", "figure",   "clear-figure", "light",  "storage",
                              "get",    "set",   "settings", "zero",         "timing", "reset",
                              "panel",  "lock",  "program",  "able",         "mode",   "batch"};
    for (const char* c : commands) {
        Result r = Traxctl({c, "--help"}, kTrace);
        EXPECT_EQ(r.status, 0) << c;
        EXPECT_EQ(r.out.rfind(std::string("usage: traxctl ") + c, 0), 0u) << r.out;
        EXPECT_EQ(TracedRequests(r), 0) << c;
    }
    Result all = Traxctl({"--help"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(Lines(all.out).size() > std::size(commands), true);
    Result settings = Traxctl({"set", "--help"});
    EXPECT_NE(settings.out.find("analog-scaling A|B value1=-999999..999999 value2=-99999..99999"), std::string::npos);
}

struct BadInput {
    std::vector<std::string> args;
    const char* message;
};

TEST(TraxctlCommands, WrongInputIsRefusedWithUsageAndNothingIsSent) {
    const BadInput cases[] = {
        {{}, "missing command"},
        {{"fly"}, "unknown command 'fly'"},
        {{"values", "--verbose"}, "unknown option '--verbose'"},
        {{"values", "A"}, "unexpected argument 'A'"},
        {{"clear-figure", "--json"}, "unknown option '--json'"},
        {{"get", "colour", "A"}, "unknown setting 'colour'"},
        {{"set", "colour", "A", "1"}, "unknown setting 'colour'"},
        {{"get", "offset", "C"}, "unknown head 'C'"},
        {{"figure", "C"}, "unknown head 'C'"},
        {{"zero", "C"}, "unknown head 'C'"},
        {{"get", "sampling-cycle", "A"}, "takes no head"},
        {{"get", "panel-lock"}, "written but not read"},
        {{"set", "offset", "A", "1000000"}, "offset: 1000000 is out of range -999999..999999"},
        {{"set", "offset", "A", "-1000000"}, "out of range"},
        {{"set", "offset", "A", "12x"}, "not a whole number"},
        {{"set", "offset", "A"}, "takes 1 value"},
        {{"set", "offset", "1"}, "unknown head '1'"},
        {{"set", "analog-scaling", "A", "0", "100000", "0", "0"}, "analog-scaling value2: 100000 is out of range"},
        {{"set", "tolerance", "B", "1", "2", "-1"}, "tolerance value3: -1 is out of range 0..999999"},
        {{"set", "able-min-max", "A", "60", "40"}, "min 60 is above max 40"},
        {{"set", "able-min-max", "A", "0", "40"}, "min: 0 is out of range 1..99"},
        {{"set", "sampling-cycle", "6"}, "out of range 0..5"},
        {{"set", "sampling-cycle", "A", "3"}, "sampling-cycle belongs to the controller and takes no head"},
        {{"set", "sampling-cycle", "Both", "3"}, "sampling-cycle belongs to the controller and takes no head"},
        {{"settings", "A", "--dry-run"}, "--dry-run goes with settings load"},
        {{"settings", "save"}, "missing argument"},
        {{"settings", "diff", "a", "b", "c"}, "unexpected argument 'c'"},
        {{"watch", "--count", "0"}, "--count: 0 is out of range"},
        {{"set", "storage", "0", "65537", "0"}, "count: 65537 is out of range 1..65536"},
        {{"program", "8"}, "program number: 8 is out of range 0..7"},
        {{"light", "A", "--selector", "4"}, "--selector: 4 is out of range 0..3"},
        {{"storage", "read", "A", "--max", "0"}, "--max: 0 is out of range 1..65536"},
        {{"storage", "setup", "--cycle", "10"}, "--cycle: 10 is out of range 0..9"},
        {{"storage", "start", "--max", "5"}, "does not take --max"},
        {{"storage", "rewind"}, "unknown storage action"},
        {{"timing", "A", "maybe"}, "expected on or off"},
        {{"able", "start", "both"}, "unknown head 'both'"},
        {{"mode", "fast"}, "unknown mode 'fast'"},
        {{"watch", "--count", "0"}, "--count: 0 is out of range"},
        {{"--units", "furlong", "values"}, "--units takes metric or inch"},
        {{"values", "--unit", "parsec"}, "--unit takes mm, um, inch or mil"},
        {{"values", "--read-unit"}, "--read-unit needs --units metric|inch"},
    };
    // The trace does show requests when there are some, so zero below means none were sent.
    ASSERT_GT(TracedRequests(Traxctl({"values"}, kTrace)), 0);
    for (const BadInput& c : cases) {
        Result r = Traxctl(c.args, kTrace);
        EXPECT_EQ(r.status, 2) << Joined(c.args);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << Joined(c.args) << " said:\n" << r.err;
        EXPECT_NE(r.err.find("usage: traxctl"), std::string::npos) << Joined(c.args);
        EXPECT_EQ(TracedRequests(r), 0) << Joined(c.args) << " sent something:\n" << r.err;
        EXPECT_EQ(r.out, "") << Joined(c.args);
    }
}

TEST(TraxctlCommands, AFailingCallIsNamedWithExitStatusOne) {
    struct Failure {
        std::map<std::string, std::string> env;
        std::vector<std::string> args;
        const char* call;
    } const cases[] = {
        // The controller answers the measured-value request with an error.
        // The error line names the call and the library's reason, then what to do where that is known.
        {{{"TRAX_SIM_ERROR_REPLY", "7"}},
         {"values"},
         "traxctl values: TRAX_GetCalcData failed: refused by the controller (error reply, error 7, command 20)\n"},
        {{{"TRAX_SIM_STARTUP_FAIL", "1"}},
         {"values"},
         "traxctl values: TRAX_GetCalcData failed: library unusable: the USB driver did not start\n"
         "traxctl values: hint: the USB driver did not start: connect and power the controller"},
        {{{"TRAX_SIM_STARTUP_FAIL", "1"}},
         {"values", "--read-unit", "--units", "inch"},
         "TRAX_GetDisplayUnit failed: library unusable: the USB driver did not start\n"},
        {{{"TRAX_SIM_FAIL_AFTER", "0"}},
         {"values"},
         "traxctl values: TRAX_GetCalcData failed: exchange failed (the driver returned 0, command 20)\n"
         "traxctl values: hint: check the USB cable and the controller's power, and that no other program holds "
         "the controller\n"},
        {{{"TRAX_SIM_FAIL_AFTER", "3"}},
         {"set", "offset", "A", "5"},
         "traxctl set: TRAX_SetOffset failed: exchange failed (the driver returned 0, command 26); then switch of the "
         "operating mode failed (to setting mode, at the mode query after the request: undetermined mode)\n"},
        {{{"TRAX_LIBRARY", "/nonexistent-dir/libtrax.so.2"}},
         {"values"},
         "traxctl values: TRAX_GetCalcData failed: the library did not load: /nonexistent-dir/libtrax.so.2: cannot "
         "open shared object file"},
        // A file that cannot be written or read: the system's words, no usage, nothing sent.
        {{}, {"light", "A", "--svg", "/nonexistent-dir/x.svg"}, "cannot write '/nonexistent-dir/x.svg': No such file"},
        {{},
         {"storage", "read", "B", "--csv", "/nonexistent-dir/x.csv"},
         "cannot write '/nonexistent-dir/x.csv': No such"},
        {{}, {"batch", "/nonexistent-dir/steps"}, "cannot read '/nonexistent-dir/steps': No such file"},
        {{{"TRAX_SIM_STARTUP_FAIL", "1"}}, {"clear-figure"}, "TRAX_ClearFigureData failed: library unusable: "},
        {{{"TRAX_SIM_STARTUP_FAIL", "1"}}, {"set", "offset", "A", "1"}, "TRAX_SetOffset failed: library unusable: "},
        // Light-intensity requests (command 24) refused.
        {{{"TRAX_SIM_ERROR_REPLY", "3"}, {"TRAX_SIM_ERROR_COMMAND", "24"}},
         {"light", "B"},
         "traxctl light: TRAX_GetLight failed: refused by the controller (error reply, error 3, command 24); then "},
        // Storage status requests (command 42) refused.
        {{{"TRAX_SIM_ERROR_REPLY", "3"}, {"TRAX_SIM_ERROR_COMMAND", "42"}},
         {"storage", "status"},
         "TRAX_DataStorageGetStatus failed: refused by the controller (error reply, error 3, command 42)\n"},
    };
    for (const Failure& f : cases) {
        Result r = Traxctl(f.args, f.env);
        EXPECT_EQ(r.status, 1) << Joined(f.args) << "\n" << r.err;
        EXPECT_NE(r.err.find(f.call), std::string::npos) << Joined(f.args) << " said:\n" << r.err;
        EXPECT_EQ(r.err.find("usage:"), std::string::npos);
    }
}

TEST(TraxctlCommands, WatchKeepGoingCountsFailuresAndGoesOn) {
    struct Case {
        std::map<std::string, std::string> env;
        std::vector<std::string> extra;
        int status;
        int values, failed;   // value lines and FAILED lines printed
        const char* summary;  // regex for stderr
    } const cases[] = {
        {{{"TRAX_SIM_FAIL_AFTER", "2"}},
         {"--keep-going"},
         1,
         3,
         1,
         "traxctl watch: 4 readings, 1 failed; 1x TRAX_GetCalcData failed[^\\n]*\\n$"},
        {{{"TRAX_SIM_ERROR_REPLY", "7"}},
         {"--keep-going"},
         1,
         0,
         4,
         "traxctl watch: 4 readings, 4 failed; 4x TRAX_GetCalcData failed[^\\n]*\\n$"},
        {{}, {"--keep-going"}, 0, 4, 0, "traxctl watch: 4 readings, 0 failed\\n$"},
        // Without --keep-going the first failure ends the command, as it always did.
        {{{"TRAX_SIM_FAIL_AFTER", "2"}},
         {},
         1,
         2,
         0,
         "\\ntraxctl watch: TRAX_GetCalcData failed: exchange failed \\(the driver returned 0, command 20\\)\\n"
         "traxctl watch: hint: check the USB cable[^\\n]*\\n$"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::string> args = {"watch", "--count", "4", "--interval", "0", "--csv", dir.Path("w.csv")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Result r = Traxctl(args, c.env);
        EXPECT_EQ(r.status, c.status) << Joined(args) << "\n" << r.err;
        int values = 0, failed = 0;
        for (const std::string& line : Lines(r.out)) {
            values += std::regex_match(line, std::regex("\\d+\\.\\d{3}  A  .*")) ? 1 : 0;
            failed += std::regex_match(line, std::regex("\\d+\\.\\d{3}  FAILED \\(TRAX_GetCalcData.*\\)")) ? 1 : 0;
        }
        EXPECT_EQ(values, c.values) << r.out;
        EXPECT_EQ(failed, c.failed) << r.out;
        EXPECT_TRUE(std::regex_search(r.err, std::regex(c.summary))) << r.err;
        // The CSV holds every reading made, failed ones too, each with its time.
        std::vector<std::string> csv = Lines(ReadFile(dir.Path("w.csv")));
        ASSERT_EQ(csv.size(), 1u + c.values + c.failed);
        EXPECT_EQ(csv[0], "time,elapsed_s,a_status,a_value,a_unit,b_status,b_value,b_unit");
        for (size_t i = 1; i < csv.size(); ++i) {
            EXPECT_TRUE(std::regex_match(csv[i], std::regex("\\d{4}-[\\d\\-T:.]+Z,\\d+\\.\\d{3},(valid,-?\\d+\\.\\d+,,"
                                                            "valid,-?\\d+\\.\\d+,|failed,,,failed,,)")))
                << csv[i];
        }
    }
    Result full = Traxctl({"watch", "--count", "2", "--interval", "0", "--csv", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write '/dev/full': No space left on device"), std::string::npos) << full.err;
}

// Progress on standard error only when it is a terminal (here the pseudo
// terminal of script(1)), and only for a command with more than 20 exchanges.
TEST(TraxctlCommands, ProgressOnATerminalOnlyForLongCommands) {
    if (access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script(1) is not installed";
    auto onTerminal = [](const std::string& args) {
        return RunProgram("/usr/bin/script",
                          {"-qec", std::string(TRAXCTL_PATH) + " " + args + " >/dev/null", "/dev/null"});
    };
    Result all = onTerminal("settings B");
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_NE(all.out.find("\rreading settings: 1/27\033[K"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("\rreading settings: 27/27\033[K\r\033[K"), std::string::npos) << all.out;
    Result one = onTerminal("get offset A");
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out.find("reading"), std::string::npos) << one.out;
    Result piped = Traxctl({"settings", "B"});
    EXPECT_EQ(piped.err, "");
}

using nlohmann::json;

TEST(TraxctlCommands, NothingReadIsThrownAwayAndAWriteIsToldFromItsReadBack) {
    struct Case {
        std::map<std::string, std::string> env;
        std::vector<std::string> args;
        int status;
        const char* out;  // regex searched in stdout
        const char* err;  // regex searched in stderr
    } const cases[] = {
        // One failed read among 46: every row printed, the failed one marked, status 1 at the end.
        {{{"TRAX_SIM_FAIL_AFTER", "40"}},
         {"settings"},
         1,
         "^SETTING +HEAD +VALUE\\n(.+\\n){6}num-alarm +A +FAILED \\(TRAX_GetNumAlarm failed: .*\\)\\nnum-alarm +B "
         "+7\\n"
         "(.+\\n){37}program +- +0\\n$",
         "^traxctl settings: TRAX_GetNumAlarm failed: exchange failed"},
        // Every setting read refused (command 10; the panel is read otherwise): still every row, and the count.
        {{{"TRAX_SIM_ERROR_REPLY", "9"}, {"TRAX_SIM_ERROR_COMMAND", "10"}},
         {"settings", "B"},
         1,
         "^SETTING +HEAD +VALUE\\n(.+ FAILED \\(TRAX_Get\\w+ failed: refused by the controller \\(error reply, error "
         "9, command 10\\)\\)\\n){25}panel +- +2\\nprogram +- "
         "+FAILED.*\\n$",
         "^traxctl: 26 of 27 settings could not be read \\(marked FAILED\\)\\n$"},
        {{{"TRAX_SIM_FAIL_AFTER", "1"}},
         {"get", "offset"},
         1,
         "^offset +A +FAILED .*\\noffset +B +0\\n$",
         "TRAX_GetOffset"},
        // The write went through and its read-back failed: a warning, and the write's success decides.
        {{{"TRAX_SIM_FAIL_AFTER", "6"}},
         {"set", "offset", "A", "100"},
         0,
         "^offset +A +100 \\(written; not read back\\)\\n$",
         "^traxctl set: warning: offset A was written, but reading it back failed \\(TRAX_GetOffset "
         "failed: .*\\)\\n$"},
        // The write itself failed.
        {{{"TRAX_SIM_FAIL_AFTER", "3"}},
         {"set", "offset", "A", "100"},
         1,
         "^$",
         "^traxctl set: TRAX_SetOffset failed: "},
    };
    for (const Case& c : cases) {
        Result r = Traxctl(c.args, c.env);
        EXPECT_EQ(r.status, c.status) << Joined(c.args) << "\n" << r.err;
        EXPECT_TRUE(std::regex_search(r.out, std::regex(c.out))) << Joined(c.args) << " printed:\n" << r.out;
        EXPECT_TRUE(std::regex_search(r.err, std::regex(c.err))) << Joined(c.args) << " said:\n" << r.err;
    }
    Result setJson = Traxctl({"set", "offset", "A", "100", "--json"}, {{"TRAX_SIM_FAIL_AFTER", "6"}});
    EXPECT_EQ(setJson.status, 0);
    EXPECT_EQ(json::parse(setJson.out).at(0).at("values").at("offset"), 100) << setJson.out;
    // The JSON rows say which read failed, with the function.
    const json rows = json::parse(Traxctl({"settings", "--json"}, {{"TRAX_SIM_FAIL_AFTER", "40"}}).out);
    ASSERT_EQ(rows.size(), 46u);
    EXPECT_TRUE(rows.at(6).at("values").is_null());
    EXPECT_EQ(rows.at(6).at("error").at("function"), "TRAX_GetNumAlarm");
    EXPECT_EQ(rows.at(7).at("values").at("num-alarm"), 7);
}

// The value of `head` in the text output of "values": "A  1.235 mm".
double TextValue(const std::string& out, const std::string& head) {
    for (const std::string& line : Lines(out)) {
        if (line.rfind(head + "  ", 0) == 0 && line.size() > head.size() + 5 &&
            line.compare(line.size() - 3, 3, " mm") == 0) {
            return std::stod(line.substr(head.size() + 2, line.size() - head.size() - 5));
        }
    }
    ADD_FAILURE() << "no value of head " << head << " in:\n" << out;
    return 0;
}

// The requests of a run with TRAX_SIM_TRACE=1 whose command is 4 or 6 (the
// switches out of and into setting mode).
int ModeSwitchRequests(const Result& r) {
    int n = 0;
    for (const std::string& line : Lines(r.err)) {
        n += (line.rfind("trax-sim > 00 04 07 04", 0) == 0 || line.rfind("trax-sim > 00 04 07 06", 0) == 0) ? 1 : 0;
    }
    return n;
}

TEST(TraxctlOnARunningController, ReadOnlyCommandsNeverSwitchTheMode) {
    const std::vector<std::string> readOnly[] = {
        {"values"},
        {"watch", "--count", "2", "--interval", "0"},
        {"figure", "A"},
        {"light", "B"},
        {"storage", "status"},
        {"storage", "read", "A", "--max", "3"},
        {"values", "--json", "--unit", "um"},
    };
    for (const auto& args : readOnly) {
        Result r = Traxctl(args, kTrace);
        EXPECT_EQ(r.status, 0) << Joined(args) << "\n" << r.err;
        EXPECT_GT(TracedRequests(r), 0) << Joined(args);
        EXPECT_EQ(ModeSwitchRequests(r), 0) << Joined(args) << " switched the mode:\n" << r.err;
    }
    // Reading the display unit is the one query that costs a switch, and only when asked for.
    Result asked = Traxctl({"values", "--read-unit", "--units", "metric"}, kTrace);
    EXPECT_EQ(asked.status, 0);
    EXPECT_GT(ModeSwitchRequests(asked), 0);
}

TEST(TraxctlOnARunningController, UnitLabelsAreNeverGuessed) {
    struct Case {
        const char* simUnits;
        std::vector<std::string> args;
        const char* out;
    } const cases[] = {
        // The inch controller's values, shown as they are, with no metric label.
        {"inch", {"values"}, "A  0.01235\nB  -0.02009\n"},
        {"inch", {"values", "--units", "inch", "--read-unit"}, "A  0.01235 inch\nB  -0.02009 inch\n"},
        {"metric", {"--units", "inch", "values"}, "A  1.235\nB  -2.009\n"},
        {"metric", {"values", "--unit", "mm"}, "A  1.235 mm\nB  -2.009 mm\n"},
        // Named once for every run; --unit still decides.
        {"metric+env", {"values"}, "A  1.235 um\nB  -2.009 um\n"},
        {"metric+env", {"values", "--unit", "mm"}, "A  1.235 mm\nB  -2.009 mm\n"},
    };
    for (const Case& c : cases) {
        const std::string sim = c.simUnits;
        std::map<std::string, std::string> env = {{"TRAX_SIM_UNITS", sim.substr(0, sim.find('+'))}};
        if (sim.find("+env") != std::string::npos) env["TRAX_UNIT"] = "um";
        Result r = Traxctl(c.args, env);
        EXPECT_EQ(r.status, 0) << Joined(c.args) << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << Joined(c.args);
        const bool named = r.out.find(" mm") != std::string::npos || r.out.find(" inch") != std::string::npos ||
                           r.out.find(" um") != std::string::npos;
        EXPECT_EQ(
            r.err.find("traxctl: unit not known (name it: --unit mm|um|inch|mil, or TRAX_UNIT)\n") == std::string::npos,
            named)
            << r.err;
    }
    Result wrong = Traxctl({"values"}, {{"TRAX_UNIT", "furlong"}});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.err, "traxctl: TRAX_UNIT takes mm, um, inch or mil, not 'furlong'\n");
}

// Starts traxctl with its standard output on a pipe, waits for the first
// line, presses Ctrl-C and returns the exit status and everything printed.
// With holdInput the standard input stays open, so traxctl waits for more
// when the input is used up; it is closed only when traxctl did not end
// within ten seconds of the Ctrl-C (then an end of input ends it).
Result InterruptAfterFirstLine(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                               const std::string& input, bool holdInput = false) {
    int out[2];
    int in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("TRAX_LOG");
        for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        dup2(out[1], 1);
        dup2(in[0], 0);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 2);
        close(out[0]);
        close(in[1]);
        std::vector<char*> argv{const_cast<char*>(TRAXCTL_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(TRAXCTL_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    (void)!write(in[1], input.data(), input.size());
    if (!holdInput) close(in[1]);
    Result r;
    char c = 0;
    while (read(out[0], &c, 1) == 1) {
        r.out += c;
        if (c == '\n') break;
    }
    kill(pid, SIGINT);
    if (holdInput) {
        int ended = 0;
        for (int i = 0; i < 1000 && ended == 0; ++i) {
            int wstatus = 0;
            ended = waitpid(pid, &wstatus, WNOHANG);
            if (ended == pid) {
                close(in[1]);
                close(out[0]);
                r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
                return r;
            }
            usleep(10000);
        }
        close(in[1]);
    }
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) r.out.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return r;
}

TEST(TraxctlOnARunningController, CtrlCStopsAfterTheCallInFlightWithStatus130) {
    // watch runs until Ctrl-C; each exchange of the slow controller takes 0.1 s.
    Result watch = InterruptAfterFirstLine({"watch", "--interval", "0"}, {{"TRAX_SIM_LATENCY_US", "100000"}}, "");
    EXPECT_EQ(watch.status, 130) << watch.out;
    // A batch stops before its next line.
    Result batch = InterruptAfterFirstLine({"batch", "--echo"}, {{"TRAX_SIM_LATENCY_US", "100000"}},
                                           "values\nvalues\nvalues\nvalues\nvalues\nvalues\nvalues\nvalues\n");
    EXPECT_EQ(batch.status, 130) << batch.out;
    EXPECT_LT(Lines(batch.out).size(), 8u * 3) << batch.out;
    // A batch waiting for its next line ends at Ctrl-C, with 130, not only
    // when the input ends.
    Result waiting = InterruptAfterFirstLine({"batch"}, {}, "values\n", true);
    EXPECT_EQ(waiting.status, 130) << waiting.out;
}

TEST(TraxctlOnARunningController, VersionSaysLibraryAndWhetherTheDriverIsTheStandIn) {
    Result r = Traxctl({"--version"}, kTrace);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^traxctl 2\\.2\\.0\\nlibrary: libtrax 2\\.2\\.0 \\(/.*libtrax\\.so"
                                                    "\\.2\\.2\\.0\\)\\ndriver: stand-in driver with the simulated "
                                                    "controller")))
        << r.out;
    EXPECT_EQ(TracedRequests(r), 0);
}

TEST(TraxctlOnARunningController, TraceGivesTheReasonOfEachFaultOfTheSimulator) {
    struct Fault {
        std::map<std::string, std::string> env;
        std::vector<std::string> args;
        const char* line;  // regex of the failing call's log line
    } const faults[] = {
        {{{"TRAX_SIM_STARTUP_FAIL", "1"}},
         {"--trace", "values"},
         "TRAX_GetCalcData\\(valueA=0x\\w+, valueB=0x\\w+\\) = 0 in [\\d.]+ ms, called at [\\d.]+ ms: library "
         "unusable: the USB driver did "
         "not start\\n"},
        {{{"TRAX_SIM_ERROR_REPLY", "7"}},
         {"values", "--trace"},
         "TRAX_GetCalcData\\(.*\\) = 0 in [\\d.]+ ms, called at [\\d.]+ ms: refused by the controller \\(error reply, "
         "error 7, command "
         "20\\)\\n"},
        {{{"TRAX_SIM_ERROR_REPLY", "3"}, {"TRAX_SIM_ERROR_COMMAND", "42"}},
         {"--trace", "storage", "status", "A"},
         "TRAX_DataStorageGetStatus\\(head=0, .*\\) = 0 in [\\d.]+ ms, called at [\\d.]+ ms: refused by the controller "
         "\\(error reply, error "
         "3, "
         "command 42\\)\\n"},
        {{{"TRAX_SIM_FAIL_AFTER", "0"}},
         {"--trace=bytes", "figure", "B"},
         "TRAX_GetFigureData\\(head=1, data=0x\\w+\\) = 0 in [\\d.]+ ms, called at [\\d.]+ ms: exchange failed \\(the "
         "driver returned 0, "
         "command "
         "46\\)\\n"},
        {{{"TRAX_SIM_FAIL_AFTER", "3"}},
         {"--trace", "set", "offset", "A", "5"},
         "TRAX_SetOffset\\(head=0, offset=5\\) = 0 in [\\d.]+ ms, called at [\\d.]+ ms: exchange failed \\(the driver "
         "returned 0, command "
         "26\\); "
         "then switch of the operating mode failed \\(to setting mode, at the mode query after the request: "
         "undetermined mode\\)\\n"},
        {{}, {"--trace", "light", "A", "--selector", "9"}, ""},  // wrong input: nothing is called
    };
    for (const Fault& f : faults) {
        Result r = Traxctl(f.args, f.env);
        EXPECT_NE(r.err.find("trax 2.2.0 trace log ("), std::string::npos) << Joined(f.args) << "\n" << r.err;
        if (f.line[0] == '\0') {
            EXPECT_EQ(r.err.find("TRAX_"), r.err.find("TRAX_SIM")) << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 1) << Joined(f.args);
        EXPECT_TRUE(std::regex_search(r.err, std::regex(std::string("\\] thread \\d+: ") + f.line)))
            << Joined(f.args) << " logged:\n"
            << r.err;
    }
    Result bytes = Traxctl({"--trace=bytes", "values"});
    EXPECT_NE(bytes.err.find(": request, command 20, 6 bytes: 00 06 07 14 00 FF\n"), std::string::npos) << bytes.err;
    Result off = Traxctl({"values"});
    EXPECT_EQ(off.err.find("trax "), std::string::npos) << off.err;
}

TEST(TraxctlDoctor, ChecksEachLinkInOrderAndFailsAtTheFirstBrokenOne) {
    // A libtrax.so.2 first on the path that cannot be loaded (another
    // architecture's where this machine has one) is passed over, as the
    // system's loader passes it over, and doctor says so.
    TempDir other;
    const std::string folder = other.Path("lib"), unloadable = folder + "/libtrax.so.2";
    std::filesystem::create_directory(folder);
    const std::string foreign = "/usr/lib/i386-linux-gnu/libc.so.6";
    if (std::ifstream(foreign)) {
        std::filesystem::copy_file(foreign, unloadable);
    } else {
        std::ofstream(unloadable) << "not a library";
    }
    struct Case {
        std::map<std::string, std::string> env;
        std::string input;  // run as a batch when not empty
        int status;
        std::vector<std::string> lines;  // the start of each line, in order
    } const cases[] = {
        {{},
         "",
         0,
         {"ok    library: libtrax 2.2.0 (/", "ok    driver: stand-in driver with the simulated controller",
          "ok    driver start-up: InitQelUsbTypeParam=1 SetUsbType=1 InitUsb=1 InitPid=1", "ok    controller: answers",
          "ok    mode: measurement mode", "ok    display unit A: code 1", "ok    display unit B: code 1",
          "ok    unit system: ", "ok    storage: not storing, A 0 values, B 0 values"}},
        {{{"TRAX_SIM_STARTUP_FAIL", "1"}},
         "",
         1,
         {"ok    library: ", "ok    driver: ",
          "FAIL  driver start-up: InitQelUsbTypeParam=1 SetUsbType=1 InitUsb=0 InitPid=0: the library is unusable",
          "      what to do: connect and power the controller"}},
        {{{"TRAX_SIM_FAIL_AFTER", "0"}},
         "",
         1,
         {"ok    library: ", "ok    driver: ", "ok    driver start-up: ",
          "FAIL  controller: TRAX_DataStorageGetStatus failed: exchange failed (the driver returned 0, command 42)",
          "      what to do: check the USB cable"}},
        {{{"TRAX_SIM_ERROR_REPLY", "3"}, {"TRAX_SIM_ERROR_COMMAND", "42"}},
         "",
         1,
         {"ok    library: ", "ok    driver: ", "ok    driver start-up: ",
          "FAIL  controller: TRAX_DataStorageGetStatus failed: refused by the controller (error reply, error 3, "
          "command 42)"}},
        {{{"LD_LIBRARY_PATH", folder}},
         "",
         0,
         {"ok    skipped: " + unloadable + ": ", "ok    library: libtrax 2.2.0 (/",
          "ok    driver: ", "ok    driver start-up: ", "ok    controller: answers", "ok    mode: measurement mode",
          "ok    display unit A: ", "ok    display unit B: ", "ok    unit system: ", "ok    storage: "}},
        {{},
         "mode setting\ndoctor\n",
         1,
         {"controller in setting mode", "ok    library: ", "ok    driver: ", "ok    driver start-up: ",
          "ok    controller: answers", "FAIL  mode: setting mode", "      what to do: 'traxctl mode measure'"}},
    };
    for (const Case& c : cases) {
        Result r = c.input.empty() ? Traxctl({"doctor"}, c.env) : Traxctl({"batch"}, c.env, c.input);
        SCOPED_TRACE(r.out + r.err);
        EXPECT_EQ(r.status, c.status);
        const std::vector<std::string> got = Lines(r.out);
        ASSERT_EQ(got.size(), c.lines.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].rfind(c.lines[i], 0), 0u) << got[i];
    }
    const json healthy = json::parse(Traxctl({"doctor", "--json"}).out);
    EXPECT_TRUE(healthy.at("ok").get<bool>());
    EXPECT_EQ(healthy.at("checks").size(), 9u);
    const json broken = json::parse(Traxctl({"doctor", "--json"}, {{"TRAX_SIM_STARTUP_FAIL", "1"}}).out);
    EXPECT_FALSE(broken.at("ok").get<bool>());
    EXPECT_EQ(broken.at("checks").at(2).at("check"), "driver start-up");
    EXPECT_FALSE(broken.at("checks").at(2).at("ok").get<bool>());
    EXPECT_FALSE(broken.at("checks").at(2).at("hint").get<std::string>().empty());
}

TEST(TraxctlDoctor, VersionSaysTheDriverDidNotStartAndFails) {
    Result r = Traxctl({"--version"}, {{"TRAX_SIM_STARTUP_FAIL", "1"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("traxctl: the USB driver did not start (InitQelUsbTypeParam=1 SetUsbType=1 InitUsb=0 InitPid=0)"),
        std::string::npos)
        << r.err;
}

// The one traxctl test that waits out the library's 10-second limits: the
// simulated controller answers the figure request busy and then nothing.
TEST(TraxctlBusy, ABusyControllerIsNamedWithWhatMayKeepItBusy) {
    Result r = Traxctl({"figure", "A"}, {{"TRAX_SIM_BUSY_COMMAND", "46"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("traxctl figure: TRAX_GetFigureData failed: no reply within the reply limit (10000 ms after a "
                         "busy reply, command 46)\ntraxctl figure: hint: the controller stays busy: an Able adjustment "
                         "or a storage run may be in progress"),
              std::string::npos)
        << r.err;
}

TEST(TraxctlJson, ValuesParseBackAndMatchTheText) {
    Result text = Traxctl({"values", "--unit", "mm"});
    Result out = Traxctl({"values", "--json", "--unit", "mm"});
    ASSERT_EQ(out.status, 0) << out.err;
    const json v = json::parse(out.out);
    for (const char* head : {"A", "B"}) {
        EXPECT_EQ(v.at(head).at("status"), "valid");
        EXPECT_EQ(v.at(head).at("unit"), "mm");
        ASSERT_TRUE(v.at(head).at("value").is_number());
        // The simulated controller starts the same way in every process.
        EXPECT_EQ(v.at(head).at("value").get<double>(), TextValue(text.out, head));
    }
    // Without a unit given, JSON says so with null.
    EXPECT_TRUE(json::parse(Traxctl({"values", "--json"}).out).at("A").at("unit").is_null());
}

TEST(TraxctlJson, EveryReadCommandPrintsJson) {
    const json figure = json::parse(Traxctl({"figure", "A", "--json"}).out);
    EXPECT_EQ(figure.at("head"), "A");
    EXPECT_EQ(figure.at("values").size(), 7u);
    EXPECT_EQ(figure.at("integers").size(), 4u);
    EXPECT_EQ(figure.at("values").at(0).at("status"), "valid");

    const json light = json::parse(Traxctl({"light", "B", "--selector", "1", "--json"}).out);
    EXPECT_EQ(light.at("selector"), 1);
    EXPECT_EQ(light.at("light").size(), 4u);
    ASSERT_EQ(light.at("profile").size(), 1024u);
    for (const json& p : light.at("profile")) EXPECT_TRUE(p.is_number_integer() && p >= 0 && p <= 255) << p;

    // One head or two, get prints an array: a reader needs one shape only.
    const json oneArray = json::parse(Traxctl({"get", "able-min-max", "B", "--json"}).out);
    ASSERT_EQ(oneArray.size(), 1u);
    const json one = oneArray.at(0);
    EXPECT_EQ(one.at("setting"), "able-min-max");
    EXPECT_EQ(one.at("head"), "B");
    EXPECT_EQ(one.at("values").at("min"), 10);
    EXPECT_EQ(one.at("values").at("max"), 90);

    const json both = json::parse(Traxctl({"get", "offset", "--json"}).out);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both.at(1).at("head"), "B");

    const json all = json::parse(Traxctl({"settings", "--json"}).out);
    ASSERT_EQ(all.size(), 19u * 2 + 8);
    EXPECT_TRUE(all.back().at("head").is_null());

    const json status = json::parse(Traxctl({"storage", "status", "--json"}).out);
    EXPECT_TRUE(status.at("storing").is_boolean());
    EXPECT_EQ(status.at("A"), 0);

    EXPECT_EQ(json::parse(Traxctl({"panel", "--json"}).out).at("panel"), "both");
    EXPECT_EQ(json::parse(Traxctl({"program", "--json"}).out).at("program"), 0);

    Result watch = Traxctl({"watch", "--count", "2", "--interval", "0", "--json"});
    std::vector<std::string> lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& l : lines) EXPECT_TRUE(json::parse(l).at("B").at("unit").is_null());

    Result set = Traxctl({"set", "average", "A", "3", "--json"});
    EXPECT_EQ(json::parse(set.out).at(0).at("values").at("average"), 3);
}

// Values as the library makes them (rounded to the display step, divided,
// then single precision) through text and back, for every display unit: the
// unit's own decimals suffice and add nothing, and any other decimals (a unit
// named wrongly, or not known) still lose no digit.
TEST(ValueText, EveryUnitsValuesReadBackAsTheSameFloat) {
    struct Unit {
        const char* name;
        long long divisor, resolution;
        int decimals;
    } const units[] = {
        {"mm 0.01", 100000, 100, 2},
        {"mm 0.001", 100000, 1000, 3},
        {"mm 0.0001", 100000, 10000, 4},
        {"mm 0.00001", 100000, 100000, 5},
        {"um 0.1", 100, 10, 1},
        {"um 0.01", 100, 100, 2},
        {"inch 0.0001", 10000000, 10000, 4},
        {"inch 0.00001", 10000000, 100000, 5},
        {"mil 0.1", 10000, 10, 1},
        {"mil 0.01", 10000, 100, 2},
        {"mil 0.001", 10000, 1000, 3},
        {"mil 0.0001", 10000, 10000, 4},
    };
    for (const Unit& u : units) {
        const long long step = u.divisor / u.resolution, limit = 1000000 / u.resolution * u.divisor;
        std::vector<long long> raws = {0, step, -step, limit - 1, -(limit - 1), limit / 3, -limit / 7};
        unsigned long long state = 12345;
        for (int i = 0; i < 3000; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            raws.push_back(static_cast<long long>(state >> 20) % limit * ((state & 1) ? 1 : -1));
        }
        for (long long raw : raws) {
            const long long half = step / 2, magnitude = raw < 0 ? -raw : raw;
            long long rounded = (magnitude % step >= half ? magnitude + half : magnitude) / step * step;
            const float value = static_cast<float>(static_cast<double>(raw < 0 ? -rounded : rounded) / u.divisor);
            const std::string own = trax::client::ValueText(value, u.decimals);
            ASSERT_EQ(std::strtof(own.c_str(), nullptr), value) << u.name << " " << raw << " " << own;
            ASSERT_EQ(own.size() - own.find('.') - 1, static_cast<size_t>(u.decimals)) << u.name << " " << own;
            for (int decimals = -1; decimals <= 5; ++decimals) {
                const std::string other = trax::client::ValueText(value, decimals);
                ASSERT_EQ(std::strtof(other.c_str(), nullptr), value) << u.name << " as " << decimals << ": " << other;
            }
        }
    }
    // The case that lost digits: an inch value shown with the decimals of millimetres.
    EXPECT_EQ(trax::client::ValueText(0.01235f, 3), "0.01235");
    EXPECT_EQ(trax::client::ValueText(-0.0f, 2), "0.00");
}

TEST(ValueText, IsoTimeWithAndWithoutMilliseconds) {
    using std::chrono::milliseconds;
    struct TimeCase {
        long long ms;
        const char* withMs;
        const char* seconds;
    };
    const TimeCase cases[] = {
        {1796793000123LL, "2026-12-09T05:10:00.123Z", "2026-12-09T05:10:00Z"},
        // Before the epoch the second still counts down, the milliseconds up.
        {-1LL, "1969-12-31T23:59:59.999Z", "1969-12-31T23:59:59Z"},
    };
    for (const TimeCase& c : cases) {
        const std::chrono::system_clock::time_point when{milliseconds(c.ms)};
        EXPECT_EQ(trax::client::IsoTime(when), c.withMs) << c.ms;
        EXPECT_EQ(trax::client::IsoTime(when, false), c.seconds) << c.ms;
    }
}

TEST(JsonWriter, PlacesCommasNestsEscapesAndFormatsNumbers) {
    using traxctl::JsonWriter;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct WriterCase {
        const char* name;
        std::function<void(JsonWriter&)> write;
        std::string expected;
    } const cases[] = {
        {"empty containers",
         [](JsonWriter& w) { w.BeginArray().BeginObject().EndObject().BeginArray().EndArray().EndArray(); }, "[{},[]]"},
        {"commas between members and elements, none after a key",
         [](JsonWriter& w) {
             w.BeginObject().Key("a").BeginArray().Number(1).BeginObject().Key("b").Null().EndObject();
             w.BeginArray().EndArray().EndArray().Key("c").Bool(true).Key("d").Bool(false).EndObject();
         },
         R"({"a":[1,{"b":null},[]],"c":true,"d":false})"},
        {"escapes in keys and strings",
         [](JsonWriter& w) { w.BeginObject().Key("k\"\\").String("a\"b\\c\nd\te\x01\x1f\x7f\xc3\xa9").EndObject(); },
         "{\"k\\\"\\\\\":\"a\\\"b\\\\c\\nd\\te\\u0001\\u001f\x7f\xc3\xa9\"}"},
        {"integers exactly",
         [](JsonWriter& w) { w.BeginArray().Number(-2147483648LL).Number(9007199254740993LL).Number(0).EndArray(); },
         "[-2147483648,9007199254740993,0]"},
        {"floats with fixed decimals or shortest, non-finite as null",
         [=](JsonWriter& w) {
             w.BeginArray().Number(1.2345f, 3).Number(-2.0f, 4).Number(0.1f, -1).Number(-1999.5f, -1);
             w.Number(16777216.0f, -1).Number(nan, 2).Number(inf, -1).Number(-inf, 3).Number(0.5f, 0).EndArray();
         },
         "[1.2345,-2.0000,0.1,-1999.5,16777216,null,null,null,0.5]"},
    };
    for (const WriterCase& c : cases) {
        std::ostringstream out;
        JsonWriter w(out);
        c.write(w);
        EXPECT_EQ(out.str(), c.expected) << c.name;
        EXPECT_TRUE(json::accept(out.str())) << c.name;
    }
    // Every byte but NUL reads back as itself.
    std::string all;
    for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
    std::ostringstream out;
    JsonWriter(out).String(all);
    EXPECT_EQ(json::parse(out.str()).get<std::string>(), all);
}

}  // namespace
