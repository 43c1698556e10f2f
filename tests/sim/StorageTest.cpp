// Data storage: settings, the storing run, status and the stored-value reply.
#include <gtest/gtest.h>

#include <cstdlib>

#include "SimTestSupport.h"

namespace trax::sim::test {
namespace {

void ConfigureStorage(SimController& c, const std::string& count, uint8_t cycle) {
    c.Exchange(Packet(6));
    ASSERT_EQ(c.Exchange(WritePacket(2, 0, 5, std::string(1, '\x00')))[4], 0);
    ASSERT_EQ(c.Exchange(WritePacket(2, 0, 6, count))[4], 0);
    ASSERT_EQ(c.Exchange(WritePacket(2, 0, 7, std::string(1, static_cast<char>(cycle))))[4], 0);
    c.Exchange(Packet(4));
}

TEST(DataStorage, RunHoldsTheConfiguredCountOfSignalValues) {
    const struct {
        const char* count;
        uint32_t expected;
        uint8_t cycle;
    } cases[] = {{"00001", 1, 0}, {"00300", 300, 2}, {"65536", 65536, 9}};
    for (const auto& run : cases) {
        SimController c;
        ConfigureStorage(c, run.count, run.cycle);
        EXPECT_EQ(c.Exchange(Packet(34))[3], 35);
        EXPECT_EQ(c.Exchange(Packet(38))[3], 39);
        EXPECT_EQ(c.Exchange(Packet(40))[3], 41);

        std::vector<uint8_t> status = c.Exchange(Packet(42));
        EXPECT_EQ(static_cast<uint32_t>(At32(status, 8)), run.expected);
        EXPECT_EQ(static_cast<uint32_t>(At32(status, 12)), run.expected);
        EXPECT_EQ(status[16], 0);

        for (uint8_t head : {0, 1}) {
            std::vector<uint8_t> r = c.Exchange(Packet(36, {head}));
            size_t total = 16 + 4 * static_cast<size_t>(run.expected);
            ASSERT_EQ(r.size(), total);
            EXPECT_EQ(At16(r, 0), total & 0xFFFF);
            EXPECT_EQ(r[3], 37);
            EXPECT_EQ(r[8], 1);  // display unit of the head
            EXPECT_EQ(r[9], 0);
            EXPECT_EQ(static_cast<uint32_t>(At32(r, 12)), run.expected);
            for (uint32_t i = 0; i < run.expected; i += 997) {
                int32_t v = At32(r, 16 + 4 * i);
                EXPECT_LE(std::abs(v - MeasurementModel::kCentre[head]),
                          MeasurementModel::kAmplitude[head] + MeasurementModel::kNoise);
            }
        }
    }
}

TEST(DataStorage, StoringIsReportedUntilTheRunIsComplete) {
    ControllerConfig slow;
    slow.storageValuesPerExchange = 100;
    SimController c(slow);
    ConfigureStorage(c, "00250", 0);
    c.Exchange(Packet(34));
    c.Exchange(Packet(38));
    std::vector<uint8_t> first = c.Exchange(Packet(42));
    EXPECT_EQ(At32(first, 8), 100);
    EXPECT_EQ(first[16], 1);
    std::vector<uint8_t> second = c.Exchange(Packet(42));
    EXPECT_EQ(At32(second, 8), 200);
    EXPECT_EQ(second[16], 1);
    std::vector<uint8_t> third = c.Exchange(Packet(42));
    EXPECT_EQ(At32(third, 12), 250);
    EXPECT_EQ(third[16], 0);  // full: storing ended by itself
}

TEST(DataStorage, StopKeepsTheValuesAndInitEmptiesThem) {
    ControllerConfig slow;
    slow.storageValuesPerExchange = 10;
    SimController c(slow);
    ConfigureStorage(c, "01000", 0);
    c.Exchange(Packet(38));
    c.Exchange(Packet(40));  // this exchange still stores before the stop
    c.Exchange(Packet(42));
    EXPECT_EQ(At32(c.Exchange(Packet(42)), 8), 10);

    c.Exchange(Packet(34));
    std::vector<uint8_t> empty = c.Exchange(Packet(36, {0}));
    EXPECT_EQ(empty.size(), 16u);
    EXPECT_EQ(At32(empty, 12), 0);
}

TEST(DataStorage, StoredValuesFollowTheCycleInterval) {
    SimController everySample, everyTenth;
    ConfigureStorage(everySample, "00100", 0);
    ConfigureStorage(everyTenth, "00010", 3);
    for (SimController* c : {&everySample, &everyTenth}) {
        c->Exchange(Packet(38));
        c->Exchange(Packet(40));
    }
    std::vector<uint8_t> fine = everySample.Exchange(Packet(36, {0}));
    std::vector<uint8_t> coarse = everyTenth.Exchange(Packet(36, {0}));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(At32(coarse, 16 + 4 * i), At32(fine, 16 + 40 * i)) << i;
}

}  // namespace
}  // namespace trax::sim::test
