// The controller's lasting state kept in a file between controller instances.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "SimTestSupport.h"

namespace trax::sim::test {
namespace {

namespace fs = std::filesystem;

class StateFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("trax-sim-state-" + std::to_string(std::random_device()()));
        fs::create_directories(dir_);
        config_.stateFile = (dir_ / "state.txt").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
    ControllerConfig config_;
};

void StorageRun(SimController& c, const std::string& count) {
    c.Exchange(Packet(6));
    ASSERT_EQ(c.Exchange(WritePacket(2, 0, 6, count))[4], 0);
    ASSERT_EQ(c.Exchange(WritePacket(2, 0, 7, std::string(1, '\x03')))[4], 0);
    c.Exchange(Packet(4));
    c.Exchange(Packet(34));
    c.Exchange(Packet(38));
    c.Exchange(Packet(40));
}

TEST_F(StateFileTest, SettingsPanelAndStorageOutliveTheController) {
    std::vector<uint8_t> storedA, storedB;
    {
        SimController first(config_);
        StorageRun(first, "00150");
        storedA = first.Exchange(Packet(36, {0}));
        storedB = first.Exchange(Packet(36, {1}));
        ASSERT_EQ(storedA.size(), 16u + 4 * 150);
        first.Exchange(Packet(20, {1, 1}));  // panel shows head B
        first.Exchange(Packet(6));
        ASSERT_EQ(first.Exchange(WritePacket(1, 0, 9, "+000250"))[4], 0);
        ASSERT_EQ(first.Exchange(WritePacket(1, 1, 2, "+000001,-000002,+999999,-999999"))[4], 0);
        ASSERT_EQ(first.Exchange(WritePacket(0, 1, 1, "50,05"))[4], 0);
        ASSERT_EQ(first.Exchange(WritePacket(3, 0, 5, std::string(1, '\x01')))[4], 0);
        ASSERT_EQ(first.Exchange(WritePacket(4, 0, 0, std::string(1, '\x06')))[4], 0);
        EXPECT_EQ(first.CurrentMode(), Mode::Setting);  // left in setting mode
        EXPECT_TRUE(first.StateProblem().empty()) << first.StateProblem();
    }
    EXPECT_FALSE(fs::exists(config_.stateFile + ".tmp"));

    SimController second(config_);
    EXPECT_TRUE(second.StateProblem().empty()) << second.StateProblem();
    EXPECT_EQ(second.CurrentMode(), Mode::Measurement);
    EXPECT_EQ(second.Panel(), 2);
    EXPECT_EQ(second.Exchange(Packet(36, {0})), storedA);
    EXPECT_EQ(second.Exchange(Packet(36, {1})), storedB);
    std::vector<uint8_t> panel = second.Exchange(Packet(22));
    EXPECT_EQ(At32(panel, 20), 1);  // panel lock
    EXPECT_EQ(At32(panel, 24), 6);  // program number
    EnterSettingMode(second);
    EXPECT_EQ(DataText(second.Exchange(ReadPacket(1, 0, 9))), "+000.250");
    EXPECT_EQ(DataText(second.Exchange(ReadPacket(1, 1, 9))), "+000.000");
    EXPECT_EQ(DataText(second.Exchange(ReadPacket(1, 1, 2))), "+000.001,-000.002,+999.999,-999.999");
    EXPECT_EQ(DataText(second.Exchange(ReadPacket(0, 1, 1))), "50,05");
    EXPECT_EQ(DataText(second.Exchange(ReadPacket(2, 0, 6))), "00150");
    EXPECT_EQ(second.Exchange(ReadPacket(2, 0, 7))[8], 3);
}

TEST_F(StateFileTest, RunStartedByOneControllerCompletesInTheNext) {
    SimController reference;
    StorageRun(reference, "00200");
    std::vector<uint8_t> expected = reference.Exchange(Packet(36, {0}));
    {
        SimController first(config_);
        first.Exchange(Packet(6));
        first.Exchange(WritePacket(2, 0, 6, "00200"));
        first.Exchange(WritePacket(2, 0, 7, std::string(1, '\x03')));
        first.Exchange(Packet(4));
        first.Exchange(Packet(34));
        first.Exchange(Packet(38));  // the controller goes away before storing anything
        EXPECT_EQ(first.Storage().Count(0), 0u);
    }
    SimController second(config_);
    std::vector<uint8_t> status = second.Exchange(Packet(42));
    EXPECT_EQ(At32(status, 8), 200);
    EXPECT_EQ(status[16], 0);
    EXPECT_EQ(second.Exchange(Packet(36, {0})), expected);
}

TEST_F(StateFileTest, MalformedFileIsReportedAndTheDefaultsKept) {
    // Each file would change the offset of head A if it were taken in part.
    const std::string good = "trax-sim-state 1\nsetting 1 9 A +000250\n";
    const char* const bodies[] = {
        "",
        "garbage\n",
        "trax-sim-state 2\nsetting 1 9 A +000250\nend\n",
        "trax-sim-state 1\nsetting 1 9 A +000250\n",                          // cut short
        "trax-sim-state 1\nsetting 1 9 A +000250\nsetting 9 9 A 1\nend\n",    // no such setting
        "trax-sim-state 1\nsetting 1 9 A +000250\nsetting 1 10 A 6\nend\n",   // out of range
        "trax-sim-state 1\nsetting 1 9 A +000250\nsetting 2 0 A 1\nend\n",    // controller-wide item with a head
        "trax-sim-state 1\nsetting 1 9 A +000250\nsetting 1 9 B +25\nend\n",  // wrong width
        "trax-sim-state 1\nsetting 1 9 A +000250\npanel 4\nend\n",
        "trax-sim-state 1\nsetting 1 9 A +000250\nstored A 3\n1 2\nend\n",
        "trax-sim-state 1\nsetting 1 9 A +000250\nstored A 2\n1 2 3\nend\n",
        "trax-sim-state 1\nsetting 1 9 A +000250\nstored B 65537\nend\n",
        "trax-sim-state 1\nsetting 1 9 A +000250\nend\npanel 1\n",
    };
    // The same text with its last fault mended loads, so the faults above are what is refused.
    {
        std::ofstream(config_.stateFile) << good << "end\n";
        SimController c(config_);
        ASSERT_TRUE(c.StateProblem().empty()) << c.StateProblem();
        ASSERT_EQ(c.Settings().Value(1, 0, 9), 250);
    }
    for (const char* body : bodies) {
        std::ofstream(config_.stateFile, std::ios::trunc) << body;
        SimController c(config_);
        EXPECT_NE(c.StateProblem().find(config_.stateFile), std::string::npos) << body;
        EXPECT_EQ(c.Settings().Value(1, 0, 9), 0) << body;
        EXPECT_EQ(c.Panel(), 3) << body;
        EXPECT_EQ(c.Storage().Count(0), 0u) << body;
    }
}

TEST(StateFileAbsent, NothingIsWrittenWithoutTheVariable) {
    std::vector<std::string> messages;
    DriverConfig config = ParseDriverConfig([](const char*) -> const char* { return nullptr; }, &messages);
    EXPECT_TRUE(config.controller.stateFile.empty());

    const fs::path before = fs::current_path();
    const fs::path dir = fs::temp_directory_path() / ("trax-sim-nostate-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    fs::current_path(dir);
    {
        SimController c(config.controller);
        StorageRun(c, "00100");
        WriteInSettingMode(c, 1, 0, 9, "+000250");
        c.Exchange(Packet(20, {1, 0}));
    }
    bool empty = fs::is_empty(dir);
    fs::current_path(before);
    fs::remove_all(dir);
    EXPECT_TRUE(empty);
}

}  // namespace
}  // namespace trax::sim::test
