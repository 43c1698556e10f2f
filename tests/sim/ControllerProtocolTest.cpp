// Framing, error replies and the operating-mode rules of the simulated controller.
#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace trax::sim::test {
namespace {

struct FramingCase {
    const char* name;
    std::vector<uint8_t> request;
    uint8_t errorNumber;
};

TEST(ControllerFraming, MalformedRequestsGetAnErrorReply) {
    const FramingCase cases[] = {
        {"too short", {0, 3, 7}, 1},
        {"length field larger", {0, 5, 7, 42}, 1},
        {"length field smaller", {0, 4, 7, 20, 0, 255}, 1},
        {"wrong marker", {0, 4, 8, 42}, 2},
        {"unknown code 18", {0, 4, 7, 18}, 3},
        {"unknown code 0", {0, 4, 7, 0}, 3},
        {"status with an argument", {0, 5, 7, 42, 0}, 4},
        {"measured values without head", {0, 5, 7, 20, 0}, 4},
        {"setting read too long", {0, 9, 7, 10, 2, 0, 0, 0, 0}, 4},
        {"setting write without item", {0, 6, 7, 8, 2, 0}, 4},
    };
    for (const FramingCase& c : cases) {
        SimController controller;
        std::vector<uint8_t> reply = controller.Exchange(c.request);
        ASSERT_EQ(reply.size(), 8u) << c.name;
        EXPECT_EQ(reply[0], 0) << c.name;
        EXPECT_EQ(reply[1], 8) << c.name;
        EXPECT_EQ(reply[2], 7) << c.name;
        EXPECT_EQ(reply[3], 255) << c.name;
        EXPECT_EQ(reply[4], c.errorNumber) << c.name;
    }
}

enum class Start { Measurement, Setting, Able };

struct ModeCase {
    Start start;
    std::vector<uint8_t> request;
    uint8_t error;
};

void Prepare(SimController& c, Start start) {
    if (start == Start::Measurement) return;
    c.Exchange(Packet(6));
    if (start == Start::Able) {
        ASSERT_EQ(c.Exchange(WritePacket(0, 1, 7, ""))[4], 0);
    }
}

TEST(ControllerModes, EachCommandAnswersErrorFiveOutsideItsMode) {
    const ModeCase cases[] = {
        // Status: only in measurement mode.
        {Start::Measurement, Packet(42), 0},
        {Start::Setting, Packet(42), 5},
        {Start::Able, Packet(42), 5},
        // Probe: only in setting mode, and not while the Able adjustment runs.
        {Start::Measurement, Packet(26, {0, 255}), 5},
        {Start::Setting, Packet(26, {0, 255}), 0},
        {Start::Able, Packet(26, {0, 255}), 5},
        // Setting access.
        {Start::Measurement, ReadPacket(2, 0, 0), 5},
        {Start::Measurement, WritePacket(2, 0, 0, "\x01"), 5},
        {Start::Setting, ReadPacket(2, 0, 0), 0},
        {Start::Able, ReadPacket(2, 0, 0), 0},
        // Measurement commands.
        {Start::Setting, Packet(12, {1, 0}), 5},
        {Start::Setting, Packet(14, {1, 0}), 5},
        {Start::Setting, Packet(16, {0}), 5},
        {Start::Setting, Packet(20, {0, 255}), 5},
        {Start::Setting, Packet(22), 5},
        {Start::Setting, Packet(24, {0, 0}), 5},
        {Start::Setting, Packet(34), 5},
        {Start::Setting, Packet(36, {0}), 5},
        {Start::Setting, Packet(38), 5},
        {Start::Setting, Packet(40), 5},
        {Start::Setting, Packet(44), 5},
        {Start::Setting, Packet(46, {0, 255}), 5},
        {Start::Measurement, Packet(22), 0},
        // Mode switches: accepted in both modes, except leaving during the Able adjustment.
        {Start::Measurement, Packet(4), 0},
        {Start::Measurement, Packet(6), 0},
        {Start::Setting, Packet(6), 0},
        {Start::Setting, Packet(4), 0},
        {Start::Able, Packet(4), 5},
    };
    int index = 0;
    for (const ModeCase& c : cases) {
        SimController controller;
        Prepare(controller, c.start);
        std::vector<uint8_t> reply = controller.Exchange(c.request);
        ASSERT_GE(reply.size(), 8u);
        EXPECT_EQ(reply[3], c.request[3] + 1) << "case " << index;
        EXPECT_EQ(reply[4], c.error) << "case " << index;
        ++index;
    }
}

// Start then stop; and the host's status query during the adjustment (status 5,
// probe 5), whose cancel write with head 255 must end it and stay in setting mode.
TEST(ControllerModes, AbleAdjustmentHoldsSettingModeUntilStopOrCancel) {
    SimController c;
    Prepare(c, Start::Able);
    EXPECT_EQ(c.Exchange(Packet(4))[4], 5);
    EXPECT_EQ(c.Exchange(WritePacket(0, 0, 8, ""))[4], 0);
    EXPECT_EQ(c.Exchange(Packet(4))[4], 0);
    EXPECT_EQ(c.CurrentMode(), Mode::Measurement);

    Prepare(c, Start::Able);
    std::vector<uint8_t> reply = c.Exchange(WritePacket(0, 255, 9, ""));
    ASSERT_EQ(reply.size(), 9u);
    EXPECT_EQ(reply[4] | reply[8], 0);
    EXPECT_FALSE(c.AbleRunning());
    EXPECT_EQ(c.Exchange(Packet(26, {0, 255}))[4], 0);
}

TEST(ControllerFaults, ConfiguredErrorAndBusyRepliesHitOnlyTheirCommand) {
    ControllerConfig config;
    config.errorCommand = 20;
    config.errorNumber = 12;
    config.busyCommand = 46;
    SimController c(config);

    std::vector<uint8_t> error = c.Exchange(Packet(20, {0, 255}));
    ASSERT_EQ(error.size(), 8u);
    EXPECT_EQ(error[3], 255);
    EXPECT_EQ(error[4], 12);

    std::vector<uint8_t> busy = c.Exchange(Packet(46, {0, 255}));
    ASSERT_EQ(busy.size(), 8u);
    EXPECT_EQ(busy[3], 68);

    EXPECT_EQ(c.Exchange(Packet(42))[3], 43);
}

}  // namespace
}  // namespace trax::sim::test
