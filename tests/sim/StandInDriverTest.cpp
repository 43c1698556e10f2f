// The stand-in driver's entry points and its environment configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "SimTestSupport.h"
#include "driver/QelUsbDrv.h"
#include "sim/StandInDriver.h"

namespace trax::sim::test {
namespace {

bool StartUp()
{
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
std::vector<uint8_t> Io(std::vector<uint8_t> request, unsigned long capacity = 1 << 20)
{
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

TEST_F(StandInDriverTest, UsableOnlyAfterTheFourStartUpCallsInOrder)
{
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

TEST_F(StandInDriverTest, StartUpFailureMakesInitUsbAndTheRestFail)
{
    DriverConfig config;
    config.startupFail = true;
    ResetStandInDriver(config);
    EXPECT_FALSE(StartUp());
    EXPECT_EQ(CheckUsbDllStatus(0), 0);
}

TEST_F(StandInDriverTest, FailAfterBreaksExactlyOneExchange)
{
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

TEST_F(StandInDriverTest, ReplyThatDoesNotFitFailsTheExchange)
{
    ASSERT_TRUE(StartUp());
    EXPECT_TRUE(Io(Packet(24, {0, 0}), 1045).empty());
    EXPECT_EQ(Io(Packet(24, {0, 0}), 1046).size(), 1046u);
}

struct EnvCase {
    std::map<std::string, std::string> env;
    size_t messages;
    DriverConfig (*expected)();
};

DriverConfig Default() { return DriverConfig(); }

TEST(DriverEnvironment, ValuesParsedAndBadOnesRejectedWithTheDefaultKept)
{
    const EnvCase cases[] = {
        {{}, 0, Default},
        {{{"TRAX_SIM_LATENCY_US", "250"}, {"TRAX_SIM_TRACE", "1"}, {"TRAX_SIM_UNITS", "inch"}},
         0,
         [] {
             DriverConfig c;
             c.latencyUs = 250;
             c.trace = true;
             c.controller.inch = true;
             return c;
         }},
        {{{"TRAX_SIM_ERROR_REPLY", "12"}},
         0,
         [] {
             DriverConfig c;
             c.controller.errorNumber = 12;
             c.controller.errorCommand = 20;
             return c;
         }},
        {{{"TRAX_SIM_ERROR_REPLY", "0"}, {"TRAX_SIM_ERROR_COMMAND", "42"}, {"TRAX_SIM_BUSY_COMMAND", "24"}},
         0,
         [] {
             DriverConfig c;
             c.controller.errorNumber = 0;
             c.controller.errorCommand = 42;
             c.controller.busyCommand = 24;
             return c;
         }},
        {{{"TRAX_SIM_FAIL_AFTER", "0"}, {"TRAX_SIM_STARTUP_FAIL", "1"}, {"TRAX_SIM_SEED", "7"}},
         0,
         [] {
             DriverConfig c;
             c.failAfter = 0;
             c.startupFail = true;
             c.controller.seed = 7;
             return c;
         }},
        {{{"TRAX_SIM_LATENCY_US", "abc"},
          {"TRAX_SIM_TRACE", "yes"},
          {"TRAX_SIM_UNITS", "furlong"},
          {"TRAX_SIM_FAIL_AFTER", "-1"},
          {"TRAX_SIM_ERROR_REPLY", "256"},
          {"TRAX_SIM_BUSY_COMMAND", "12x"},
          {"TRAX_SIM_SEED", ""}},
         7,
         Default},
        {{{"TRAX_SIM_ERROR_COMMAND", "42"}}, 1, Default},
    };
    for (const EnvCase& c : cases) {
        std::vector<std::string> messages;
        DriverConfig got = ParseDriverConfig(
            [&c](const char* name) -> const char* {
                auto it = c.env.find(name);
                return it == c.env.end() ? nullptr : it->second.c_str();
            },
            &messages);
        DriverConfig want = c.expected();
        EXPECT_EQ(messages.size(), c.messages);
        EXPECT_EQ(got.latencyUs, want.latencyUs);
        EXPECT_EQ(got.trace, want.trace);
        EXPECT_EQ(got.startupFail, want.startupFail);
        EXPECT_EQ(got.failAfter, want.failAfter);
        EXPECT_EQ(got.controller.inch, want.controller.inch);
        EXPECT_EQ(got.controller.seed, want.controller.seed);
        EXPECT_EQ(got.controller.errorCommand, want.controller.errorCommand);
        EXPECT_EQ(got.controller.errorNumber, want.controller.errorNumber);
        EXPECT_EQ(got.controller.busyCommand, want.controller.busyCommand);
        for (const std::string& m : messages) EXPECT_EQ(m.rfind("trax-sim: TRAX_SIM_", 0), 0u) << m;
    }
}

TEST(DriverTrace, HexLineShowsBytesAndCutsLongOnes)
{
    const uint8_t bytes[] = {0x00, 0x06, 0x07, 0x14, 0x00, 0xFF};
    EXPECT_EQ(HexLine(bytes, 6, 100), "00 06 07 14 00 FF");
    EXPECT_EQ(HexLine(bytes, 6, 2), "00 06 ... (+4 bytes)");
    EXPECT_EQ(HexLine(bytes, 0, 10), "");
}

}  // namespace
}  // namespace trax::sim::test
