// Setting writes and read-back encodings, through the controller's protocol.
#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace trax::sim::test {
namespace {

struct RoundTrip {
    uint8_t category, head, item;
    std::string written;
    std::string readBack;
};

TEST(SettingStore, TextFieldsReadBackWithTheirDecimalPoint) {
    const RoundTrip cases[] = {
        {0, 0, 1, "50,05", "50,05"},
        {0, 0, 5, "007", "007"},
        {1, 0, 9, "+001234", "+001.234"},
        {1, 1, 9, "-000500", "-000.500"},
        {1, 0, 9, "-999999", "-999.999"},
        {1, 0, 2, "+000001,-000002,+999999,-999999", "+000.001,-000.002,+999.999,-999.999"},
        {1, 1, 3, "-999999,+999999,+000000,+012345", "-999.999,+999.999,+000.000,+012.345"},
        {1, 0, 11, "+999999,-99999,-999999,+99999", "+999.999,-99.999,-999.999,+99.999"},
        {1, 1, 13, "+000100,-000100", "+000.100,-000.100"},
        {1, 0, 14, "999999", "999.999"},
        {2, 0, 6, "00300", "00300"},
        {2, 0, 6, "65536", "65536"},
    };
    for (const RoundTrip& c : cases) {
        SimController controller;
        EnterSettingMode(controller);
        std::vector<uint8_t> w = controller.Exchange(WritePacket(c.category, c.head, c.item, c.written));
        ASSERT_EQ(w.size(), 9u) << c.written;
        EXPECT_EQ(w[3], 9);
        EXPECT_EQ(w[4], 0) << c.written;
        EXPECT_EQ(w[8], 0);
        std::vector<uint8_t> r = controller.Exchange(ReadPacket(c.category, c.head, c.item));
        EXPECT_EQ(r[3], 11);
        EXPECT_EQ(r[4], 0);
        EXPECT_EQ(At16(r, 0), r.size());
        EXPECT_EQ(DataText(r), c.readBack);
    }
}

TEST(SettingStore, ByteItemsRoundTripAtBothEndsOfTheirRange) {
    const struct {
        uint8_t category, head, item;
        int low, high;
    } items[] = {
        {0, 0, 0, 0, 1},  {0, 1, 4, 0, 4}, {0, 0, 6, 0, 9}, {0, 1, 10, 0, 1},  {1, 0, 0, 0, 5}, {1, 1, 1, 0, 9},
        {1, 0, 4, 0, 2},  {1, 1, 5, 0, 9}, {1, 0, 6, 0, 8}, {1, 1, 7, 0, 5},   {1, 0, 8, 0, 1}, {1, 1, 10, 0, 5},
        {1, 0, 12, 0, 1}, {2, 0, 0, 0, 5}, {2, 0, 1, 0, 1}, {2, 0, 2, 0, 1},   {2, 0, 3, 0, 2}, {2, 0, 4, 0, 3},
        {2, 0, 5, 0, 3},  {2, 0, 7, 0, 9}, {3, 0, 5, 0, 1}, {4, 255, 0, 0, 7},
    };
    for (const auto& it : items) {
        for (int value : {it.low, it.high}) {
            SimController c;
            EnterSettingMode(c);
            std::string data(1, static_cast<char>(value));
            EXPECT_EQ(c.Exchange(WritePacket(it.category, it.head, it.item, data))[4], 0);
            std::vector<uint8_t> r = c.Exchange(ReadPacket(it.category, it.head, it.item));
            ASSERT_EQ(r.size(), 9u);
            EXPECT_EQ(r[8], value) << int(it.category) << "/" << int(it.item);
        }
        SimController c;
        EnterSettingMode(c);
        std::string above(1, static_cast<char>(it.high + 1));
        EXPECT_EQ(c.Exchange(WritePacket(it.category, it.head, it.item, above))[4], 9)
            << int(it.category) << "/" << int(it.item);
    }
}

TEST(SettingStore, RefusedWritesChangeNothing) {
    const struct {
        const char* name;
        uint8_t category, head, item;
        std::string data;
        uint8_t error;
    } cases[] = {
        {"unknown item", 0, 0, 2, "\x01", 7},
        {"per-head item, head 255", 1, 255, 5, "\x01", 7},
        {"system item, head 1", 2, 1, 0, "\x01", 7},
        {"byte item, two bytes", 1, 0, 5, "\x01\x02", 8},
        {"offset one digit short", 1, 0, 9, "+00123", 8},
        {"offset without sign", 1, 0, 9, "0001234", 8},
        {"scaling wrong separator", 1, 0, 2, "+000001;+000002,+000003,+000004", 8},
        {"analog scaling, six digits in a five-digit field", 1, 0, 11, "+000000,+100000,+000000,+00000", 8},
        {"Able max below min", 0, 0, 1, "40,41", 9},
        {"storage count zero", 2, 0, 6, "00000", 9},
        {"storage count too large", 2, 0, 6, "65537", 9},
        {"hysteresis signed", 1, 0, 14, "+00005", 8},
    };
    for (const auto& c : cases) {
        SimController controller;
        EnterSettingMode(controller);
        std::vector<uint8_t> before = controller.Exchange(ReadPacket(c.category, c.head, c.item));
        std::vector<uint8_t> reply = controller.Exchange(WritePacket(c.category, c.head, c.item, c.data));
        EXPECT_EQ(reply[3], 9) << c.name;
        EXPECT_EQ(reply[4], c.error) << c.name;
        EXPECT_EQ(controller.Exchange(ReadPacket(c.category, c.head, c.item)), before) << c.name;
    }
}

TEST(SettingStore, HeadsKeepTheirOwnValuesAndControllerItemsIgnoreTheHeadByte) {
    SimController c;
    EnterSettingMode(c);
    c.Exchange(WritePacket(1, 0, 9, "+000001"));
    c.Exchange(WritePacket(1, 1, 9, "-000002"));
    EXPECT_EQ(DataText(c.Exchange(ReadPacket(1, 0, 9))), "+000.001");
    EXPECT_EQ(DataText(c.Exchange(ReadPacket(1, 1, 9))), "-000.002");

    c.Exchange(WritePacket(4, 255, 0, "\x05"));
    EXPECT_EQ(c.Exchange(ReadPacket(4, 0, 0))[8], 5);
    c.Exchange(WritePacket(3, 0, 5, "\x01"));
    EXPECT_EQ(c.Exchange(ReadPacket(3, 255, 5))[8], 1);
}

}  // namespace
}  // namespace trax::sim::test
