// The stand-in driver's entry points and its environment configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "SimTestSupport.h"
#include "driver/QelUsbDrv.h"
#include "sim/StandInDriver.h"

namespace trax::sim::test {
namespace {

bool StartUp() {
    sQELUSBTYPEPARAM param{};
    param.productCode = 10;
    std::strcpy(param.deviceName, "VoraxUSB_U-0");
    sUSBPARAM usb{0, 0};
    long a = InitQelUsbTypeParam(&param, 1);
    SetUsbType(2);
    int b = InitUsb(usb, param.deviceName);
    int c = InitPid(usb, 10);
    return a == 1 && b != 0 && c != 0;
}

// One exchange through the driver; empty when it failed.
std::vector<uint8_t> Io(std::vector<uint8_t> request, unsigned long capacity = 1 << 20) {
    std::vector<uint8_t> reply(capacity);
    unsigned long length = capacity;
    if (QelUsbPtrIoPtr(request.data(), static_cast<unsigned long>(request.size()), reply.data(), &length) == 0) {
        return {};
    }
    reply.resize(length);
    return reply;
}

class StandInDriverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetStandInDriver(DriverConfig()); }
    void TearDown() override { ResetStandInDriver(DriverConfig()); }
};

TEST_F(StandInDriverTest, UsableOnlyAfterTheFourStartUpCallsInOrder) {
    EXPECT_EQ(CheckUsbDllStatus(0), 0);
    EXPECT_TRUE(Io(Packet(42)).empty());
    sUSBPARAM usb{0, 0};
    EXPECT_EQ(InitPid(usb, 10), 0);  // out of order
    ASSERT_TRUE(StartUp());
    EXPECT_EQ(CheckUsbDllStatus(0), 1);
    std::vector<uint8_t> reply = Io(Packet(42));
    ASSERT_EQ(reply.size(), 20u);
    EXPECT_EQ(reply[3], 43);
}

TEST_F(StandInDriverTest, StartUpFailureMakesInitUsbAndTheRestFail) {
    DriverConfig config;
    config.startupFail = true;
    ResetStandInDriver(config);
    EXPECT_FALSE(StartUp());
    EXPECT_EQ(CheckUsbDllStatus(0), 0);
}

TEST_F(StandInDriverTest, FailAfterBreaksExactlyOneExchange) {
    DriverConfig config;
    config.failAfter = 2;
    ResetStandInDriver(config);
    ASSERT_TRUE(StartUp());
    EXPECT_FALSE(Io(Packet(42)).empty());
    EXPECT_FALSE(Io(Packet(42)).empty());
    EXPECT_TRUE(Io(Packet(42)).empty());
    EXPECT_FALSE(Io(Packet(42)).empty());
    EXPECT_FALSE(Io(Packet(42)).empty());
}

TEST_F(StandInDriverTest, ReplyThatDoesNotFitFailsTheExchange) {
    ASSERT_TRUE(StartUp());
    EXPECT_TRUE(Io(Packet(24, {0, 0}), 1045).empty());
    EXPECT_EQ(Io(Packet(24, {0, 0}), 1046).size(), 1046u);
}

// Parses one environment; variables not in the map are unset.
DriverConfig Parse(std::map<std::string, std::string> env, std::vector<std::string>* messages) {
    return ParseDriverConfig(
        [&env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        },
        messages);
}

TEST(DriverEnvironment, GoodValuesAreTaken) {
    std::vector<std::string> messages;
    DriverConfig c = Parse({{"TRAX_SIM_LATENCY_US", "250"},
                            {"TRAX_SIM_TRACE", "1"},
                            {"TRAX_SIM_UNITS", "inch"},
                            {"TRAX_SIM_FAIL_AFTER", "0"},
                            {"TRAX_SIM_STARTUP_FAIL", "1"},
                            {"TRAX_SIM_SEED", "7"},
                            {"TRAX_SIM_ERROR_REPLY", "0"},
                            {"TRAX_SIM_BUSY_COMMAND", "24"},
                            {"TRAX_SIM_STATE", "run/state.txt"}},
                           &messages);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(c.latencyUs, 250u);
    EXPECT_TRUE(c.trace);
    EXPECT_TRUE(c.controller.inch);
    EXPECT_EQ(c.failAfter, 0);
    EXPECT_TRUE(c.startupFail);
    EXPECT_EQ(c.controller.seed, 7u);
    EXPECT_EQ(c.controller.errorNumber, 0);
    EXPECT_EQ(c.controller.errorCommand, 20);  // the measured values unless named
    EXPECT_EQ(c.controller.busyCommand, 24);
    EXPECT_EQ(c.controller.stateFile, "run/state.txt");

    c = Parse({{"TRAX_SIM_ERROR_REPLY", "12"}, {"TRAX_SIM_ERROR_COMMAND", "42"}}, &messages);
    EXPECT_EQ(c.controller.errorNumber, 12);
    EXPECT_EQ(c.controller.errorCommand, 42);
}

TEST(DriverEnvironment, EachBadValueIsReportedAndTheDefaultKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"TRAX_SIM_LATENCY_US", "abc"},  {"TRAX_SIM_LATENCY_US", "-5"},    {"TRAX_SIM_TRACE", "yes"},
        {"TRAX_SIM_STARTUP_FAIL", "2"},  {"TRAX_SIM_UNITS", "furlong"},    {"TRAX_SIM_FAIL_AFTER", "-1"},
        {"TRAX_SIM_ERROR_REPLY", "256"}, {"TRAX_SIM_BUSY_COMMAND", "12x"}, {"TRAX_SIM_SEED", ""},
        {"TRAX_SIM_STATE", ""},          {"TRAX_SIM_ERROR_COMMAND", "42"},  // meaningless without an error number
    };
    const DriverConfig defaults;
    for (const auto& c : cases) {
        std::vector<std::string> messages;
        DriverConfig got = Parse({{c.first, c.second}}, &messages);
        ASSERT_EQ(messages.size(), 1u) << c.first << "=" << c.second;
        EXPECT_NE(messages[0].find(c.first), std::string::npos);
        EXPECT_EQ(messages[0].find("keeping -1"), std::string::npos) << messages[0];
        EXPECT_TRUE(got.latencyUs == defaults.latencyUs && got.trace == defaults.trace &&
                    got.startupFail == defaults.startupFail && got.failAfter == defaults.failAfter &&
                    got.controller.inch == defaults.controller.inch &&
                    got.controller.seed == defaults.controller.seed &&
                    got.controller.errorCommand == defaults.controller.errorCommand &&
                    got.controller.busyCommand == defaults.controller.busyCommand && got.controller.stateFile.empty());
    }
}

}  // namespace
}  // namespace trax::sim::test
