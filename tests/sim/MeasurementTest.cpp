// Measured values, control commands, figure data and the light profile.
#include <gtest/gtest.h>

#include <cstdlib>

#include "SimTestSupport.h"

namespace trax::sim::test {
namespace {

bool WithinSignal(int head, int32_t raw) {
    int32_t limit = MeasurementModel::kAmplitude[head] + MeasurementModel::kNoise;
    return std::abs(raw - MeasurementModel::kCentre[head]) <= limit;
}

TEST(MeasuredValues, ReplyCarriesDisplayUnitsUnitSystemAndBothHeads) {
    ControllerConfig inch;
    inch.inch = true;
    for (SimController c : {SimController(), SimController(inch)}) {
        std::vector<uint8_t> r = c.Exchange(Packet(20, {0, 255}));
        ASSERT_EQ(r.size(), 20u);
        EXPECT_EQ(r[3], 21);
        EXPECT_EQ(r[10], 0x11);  // display unit 1 on both heads by default
        EXPECT_EQ(r[11], c.Config().inch ? 1 : 0);
        EXPECT_TRUE(WithinSignal(0, At32(r, 12)));
        EXPECT_TRUE(WithinSignal(1, At32(r, 16)));
        WriteInSettingMode(c, 1, 0, 10, std::string(1, '\x05'));
        WriteInSettingMode(c, 1, 1, 10, std::string(1, '\x00'));
        EXPECT_EQ(c.Exchange(Packet(20, {0, 255}))[10], 0x50);
    }
}

TEST(MeasuredValues, SignalMovesAndIsReproducibleFromTheSeed) {
    SimController first, second;
    std::vector<int32_t> a, b;
    for (int i = 0; i < 50; ++i) {
        a.push_back(CalcValue(first, 0));
        b.push_back(CalcValue(second, 0));
    }
    EXPECT_EQ(a, b);
    EXPECT_NE(a.front(), a.back());

    ControllerConfig other;
    other.seed = 99;
    SimController third(other);
    EXPECT_NE(CalcValue(third, 0), a.front());
}

TEST(ControlCommands, ZeroSetMakesTheNextValueZeroUntilCleared) {
    SimController c;
    CalcValue(c, 0);
    std::vector<uint8_t> z = c.Exchange(Packet(12, {1, 0}));
    ASSERT_EQ(z.size(), 9u);
    EXPECT_EQ(z[3], 13);
    EXPECT_EQ(z[8], 0);
    EXPECT_EQ(CalcValue(c, 0), 0);
    EXPECT_TRUE(WithinSignal(1, CalcValue(c, 1)));  // head B untouched

    c.Exchange(Packet(12, {0, 0}));
    EXPECT_TRUE(WithinSignal(0, CalcValue(c, 0)));

    c.Exchange(Packet(12, {1, 255}));
    std::vector<uint8_t> both = c.Exchange(Packet(20, {0, 255}));
    EXPECT_EQ(At32(both, 12), 0);
    EXPECT_EQ(At32(both, 16), 0);
}

TEST(ControlCommands, TimingHoldFreezesTheValueAndResetReleasesIt) {
    SimController c;
    c.Exchange(Packet(14, {1, 1}));
    int32_t held = CalcValue(c, 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(CalcValue(c, 1), held);

    // The host's "off" is an on/off pulse: off releases the hold.
    c.Exchange(Packet(14, {1, 1}));
    c.Exchange(Packet(14, {0, 1}));
    std::vector<int32_t> live;
    for (int i = 0; i < 5; ++i) live.push_back(CalcValue(c, 1));
    EXPECT_NE(live.front(), live.back());

    c.Exchange(Packet(14, {1, 255}));
    EXPECT_TRUE(c.Measurement().Held(0));
    std::vector<uint8_t> reset = c.Exchange(Packet(16, {0}));
    EXPECT_EQ(reset[3], 17);
    EXPECT_EQ(reset[8], 0);
    EXPECT_FALSE(c.Measurement().Held(0));
    EXPECT_TRUE(c.Measurement().Held(1));
}

TEST(ControlCommands, OffsetShiftsTheValueByHundredCountsPerUnit) {
    SimController plain, shifted;
    WriteInSettingMode(shifted, 1, 0, 9, "-001000");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CalcValue(shifted, 0), CalcValue(plain, 0) - 100000);
    }
}

TEST(ControlCommands, PanelChangeIsReportedByThePanelState) {
    const struct {
        uint8_t head;
        uint8_t byte9;
    } cases[] = {{0, 0x04}, {1, 0x08}, {255, 0x0C}};
    for (const auto& p : cases) {
        SimController c;
        std::vector<uint8_t> set = c.Exchange(Packet(20, {1, p.head}));
        EXPECT_EQ(set[3], 21);
        EXPECT_EQ(set[4], 0);
        std::vector<uint8_t> state = c.Exchange(Packet(22));
        ASSERT_EQ(state.size(), 28u);
        EXPECT_EQ(state[3], 23);
        EXPECT_EQ(state[9], p.byte9);
    }
}

TEST(FigureData, StatisticsOfTheValuesReadSinceTheLastClear) {
    SimController c;
    std::vector<int32_t> seen;
    for (int i = 0; i < 20; ++i) seen.push_back(CalcValue(c, 1));
    std::vector<uint8_t> r = c.Exchange(Packet(46, {1, 255}));
    ASSERT_EQ(r.size(), 60u);
    EXPECT_EQ(r[3], 47);
    EXPECT_EQ(r[10], 1);
    EXPECT_EQ(r[11], 0);
    int32_t max = *std::max_element(seen.begin(), seen.end());
    int32_t min = *std::min_element(seen.begin(), seen.end());
    EXPECT_EQ(At32(r, 16), max);
    EXPECT_EQ(At32(r, 20), min);
    EXPECT_EQ(At32(r, 24), max - min);
    EXPECT_EQ(At32(r, 36), seen.back());
    EXPECT_EQ(At32(r, 40), seen.front());
    EXPECT_EQ(At32(r, 44), 20);

    EXPECT_EQ(c.Exchange(Packet(44))[3], 45);
    std::vector<uint8_t> cleared = c.Exchange(Packet(46, {1, 255}));
    EXPECT_EQ(At32(cleared, 44), 1);  // only the present value
    EXPECT_EQ(At32(cleared, 16), At32(cleared, 20));
}

TEST(LightProfile, PeakFollowsTheMeasuredDistance) {
    SimController c;
    for (uint8_t head : {0, 1}) {
        std::vector<uint8_t> r = c.Exchange(Packet(24, {head, 3}));
        ASSERT_EQ(r.size(), 1046u);
        EXPECT_EQ(At16(r, 0), 1046);
        EXPECT_EQ(r[3], 25);
        int32_t distance = c.Measurement().Signal(head, c.Measurement().Now());
        int expectedPixel = 512 + distance / 1000;
        int peakPixel = At16(r, 14);
        EXPECT_NEAR(peakPixel, expectedPixel, 2) << int(head);
        EXPECT_EQ(r[22 + peakPixel], At16(r, 16));
        EXPECT_NEAR(At16(r, 10) / 16.0, expectedPixel, 2.0);
        EXPECT_GT(At16(r, 18), 0);
        EXPECT_GT(At16(r, 20), 0);
    }
}

}  // namespace
}  // namespace trax::sim::test
