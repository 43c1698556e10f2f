// The files traxctl and the examples write: the CSV of a storage run, the
// light profile as CSV and SVG, and the examples' own output.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <regex>
#include <sstream>

#include "Support.h"
#include "client/AtomicFile.h"

using namespace traxctl_test;

namespace {

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream s(line);
    std::string cell;
    while (std::getline(s, cell, ',')) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.push_back("");
    return cells;
}

TEST(StorageCsv, OneRowPerStoredValueInTheDisplayUnit) {
    TempDir dir;
    std::string csv = dir.Path("run.csv");
    std::string script =
        "storage setup --count 250 --cycle 2\n"
        "storage start\n"
        "storage status\n"
        "storage stop\n"
        "storage read B --csv " +
        csv +
        "\n"
        "storage read B --max 100 --json\n";
    Result r = Traxctl({"batch", "--units", "metric", "--read-unit"}, {}, script);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("A  250 values\nB  250 values\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("head B: 250 values in mm\nwrote " + csv), std::string::npos) << r.out;

    std::vector<std::string> all = Lines(ReadFile(csv));
    ASSERT_EQ(all.size(), 257u);
    // What the values do not say: head, unit, count, the capture's times as this process saw them, the cycle.
    const char* const header[] = {"# head: B",          "# unit: mm",
                                  "# count: 250",       "# start: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z",
                                  "# stop: \\d{4}-.*Z", "# sampling-cycle: \\d"};
    for (size_t i = 0; i < std::size(header); ++i)
        EXPECT_TRUE(std::regex_match(all[i], std::regex(header[i]))) << all[i];
    std::vector<std::string> lines(all.begin() + 6, all.end());
    EXPECT_EQ(lines[0], "index,status,value,unit");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells = Cells(lines[i]);
        ASSERT_EQ(cells.size(), 4u) << lines[i];
        EXPECT_EQ(cells[0], std::to_string(i - 1));
        EXPECT_EQ(cells[1], "valid");
        EXPECT_TRUE(std::regex_match(cells[2], std::regex("-?\\d+\\.\\d{3}"))) << lines[i];
        EXPECT_EQ(cells[3], "mm");
    }

    // The JSON of the same run holds the same first values.
    std::string last = Lines(r.out).back();
    const nlohmann::json json = nlohmann::json::parse(last);
    ASSERT_EQ(json.at("count"), 100);
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(json.at("values").at(i).at("value").get<double>(), std::stod(Cells(lines[i + 1])[2])) << i;
    }
}

TEST(StorageCsv, EmptyStorageGivesHeaderOnly) {
    TempDir dir;
    Result r = Traxctl({"storage", "read", "A", "--csv", dir.Path("empty.csv")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir.Path("empty.csv")),
              "# head: A\n# unit: not known\n# count: 0\n# start: not known\n# stop: not known\n"
              "# sampling-cycle: not known\nindex,status,value,unit\n");
}

TEST(LightFiles, SvgIsWellFormedWithAxesAndOnePathThroughEveryPixel) {
    TempDir dir;
    Result r = Traxctl({"light", "A", "--csv", dir.Path("p.csv"), "--svg", dir.Path("p.svg")});
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::string> csv = Lines(ReadFile(dir.Path("p.csv")));
    ASSERT_EQ(csv.size(), 1025u);
    EXPECT_EQ(csv[0], "pixel,intensity");
    std::vector<int> profile;
    for (size_t i = 1; i < csv.size(); ++i) {
        std::vector<std::string> cells = Cells(csv[i]);
        ASSERT_EQ(cells.size(), 2u);
        ASSERT_EQ(cells[0], std::to_string(i - 1));
        profile.push_back(std::atoi(cells[1].c_str()));
    }

    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(dir.Path("p.svg").c_str());
    ASSERT_TRUE(parsed) << parsed.description() << " at " << parsed.offset;
    const pugi::xml_node svg = document.document_element();
    EXPECT_STREQ(svg.name(), "svg");
    EXPECT_STREQ(svg.attribute("xmlns").value(), "http://www.w3.org/2000/svg");
    const pugi::xpath_node_set paths = svg.select_nodes("//path");
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_GE(svg.select_nodes("//line").size(), 2u) << "no axes";
    // Tick labels and the two axis names.
    EXPECT_GE(svg.select_nodes("//text").size(), 6u);
    EXPECT_TRUE(svg.select_node("//text[text()='pixel']")) << "no x axis name";
    EXPECT_TRUE(svg.select_node("//text[text()='intensity']")) << "no y axis name";

    // "M x,y L x,y ...": 1024 points, one per pixel from left to right, the
    // height following the profile in the CSV of the same reading.
    const std::string d = paths.first().node().attribute("d").value();
    std::regex point("([ML]) ?(-?\\d+(?:\\.\\d+)?),(-?\\d+(?:\\.\\d+)?)");
    std::vector<std::pair<double, double>> points;
    for (auto it = std::sregex_iterator(d.begin(), d.end(), point); it != std::sregex_iterator(); ++it) {
        EXPECT_EQ((*it)[1].str(), points.empty() ? "M" : "L");
        points.emplace_back(std::stod((*it)[2].str()), std::stod((*it)[3].str()));
    }
    ASSERT_EQ(points.size(), 1024u);
    double scale = 0;
    for (size_t i = 1; i < points.size(); ++i) {
        EXPECT_GT(points[i].first, points[i - 1].first);
        int rise = profile[i] - profile[0];
        if (rise != 0) {
            double s = (points[0].second - points[i].second) / rise;
            if (scale == 0) scale = s;
            EXPECT_DOUBLE_EQ(s, scale) << "pixel " << i;
        }
    }
    EXPECT_GT(scale, 0) << "the profile is flat or upside down";
}

TEST(Examples, ReadValuesPrintsBothHeadsEachTime) {
    Result r = RunProgram(READ_VALUES_PATH, {"4", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "display unit codes: A 1, B 1");
    EXPECT_EQ(lines[1], "   0  A    1.23500   B   -2.00900");
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(" +\\d+  A +-?\\d+\\.\\d{5}   B +-?\\d+\\.\\d{5}")))
            << lines[i];
    }

    Result failing = RunProgram(READ_VALUES_PATH, {"1", "0"}, {{"TRAX_SIM_STARTUP_FAIL", "1"}});
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.err.find("TRAX_GetDisplayUnit failed"), std::string::npos);
}

TEST(Examples, StorageRunToCsv) {
    TempDir dir;
    Result r = RunProgram(STORAGE_TO_CSV_PATH, {dir.Path("run.csv"), "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote 300 values of head A and 300 of head B to " + dir.Path("run.csv") + "\n");
    std::vector<std::string> lines = Lines(ReadFile(dir.Path("run.csv")));
    ASSERT_EQ(lines.size(), 301u);
    EXPECT_EQ(lines[0], "index,A,B");
    EXPECT_EQ(lines[1], "0,1.23500,-2.00900");
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(std::to_string(i - 1) + ",-?\\d+\\.\\d{5},-?\\d+\\.\\d{5}")))
            << lines[i];
    }
    EXPECT_EQ(RunProgram(STORAGE_TO_CSV_PATH, {}).status, 2);
}

// A file written whole keeps what it replaces: its permissions, and a link
// stays a link whose target gets the text. New files get 0666 less the umask.
TEST(AtomicFile, KeepsPermissionsAndLinks) {
    TempDir dir;
    auto mode = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
    };
    const mode_t umaskBefore = umask(022);
    struct Case {
        const char* name;
        int before;  // -1: no file yet
        int after;
    } const cases[] = {{"private", 0600, 0600}, {"shared", 0664, 0664}, {"script", 0755, 0755}, {"new", -1, 0644}};
    for (const Case& c : cases) {
        const std::string path = dir.Path(c.name);
        if (c.before >= 0) {
            std::ofstream(path) << "old";
            ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.before)), 0);
        }
        EXPECT_EQ(trax::client::WriteFileAtomically(path, "new\n"), "") << c.name;
        EXPECT_EQ(mode(path), c.after) << c.name;
        EXPECT_EQ(ReadFile(path), "new\n") << c.name;
    }
    umask(umaskBefore);
    // Through a link (relative, to a file in another folder) to its target.
    std::filesystem::create_directory(dir.Path("real"));
    std::ofstream(dir.Path("real/settings.json")) << "old";
    std::filesystem::create_symlink("real/settings.json", dir.Path("link.json"));
    EXPECT_EQ(trax::client::WriteFileAtomically(dir.Path("link.json"), "through\n"), "");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.json")));
    EXPECT_EQ(ReadFile(dir.Path("real/settings.json")), "through\n");
    // A dangling link names where the file goes.
    std::filesystem::create_symlink("real/later.json", dir.Path("later.json"));
    EXPECT_EQ(trax::client::WriteFileAtomically(dir.Path("later.json"), "made\n"), "");
    EXPECT_EQ(ReadFile(dir.Path("real/later.json")), "made\n");
}

// A write that fails after its temporary file was made leaves the old file
// as it was and nothing beside it. The file size limit makes the write fail
// half-way, as a full disk would.
TEST(AtomicFile, AFailedWriteNeverLeavesItsTemporaryFile) {
    TempDir dir;
    const std::string path = dir.Path("kept.csv");
    std::ofstream(path) << "previous";
    // Taken names are passed over, and left alone.
    std::ofstream(path + ".tmp0") << "someone else's";
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string problem = trax::client::WriteFileAtomically(path, std::string(4096, 'x'));
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, previous);
    EXPECT_NE(problem.find("cannot write '" + path + "': File too large"), std::string::npos) << problem;
    EXPECT_EQ(ReadFile(path), "previous");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path(""))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kept.csv", "kept.csv.tmp0"}));
    EXPECT_EQ(ReadFile(path + ".tmp0"), "someone else's");
}

}  // namespace
