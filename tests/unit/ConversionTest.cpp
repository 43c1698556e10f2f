#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "measure/Conversion.h"

namespace trax::measure {
namespace {

constexpr uint32_t kPlusInfinityBits = 0x7F800000u;
constexpr uint32_t kMinusInfinityBits = 0xFF800000u;
constexpr uint32_t kInvalidBits = 0xFFFFFFFFu;
constexpr int32_t kMetric = 0;
constexpr int32_t kInch = 1;

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

FloatValue Convert(int32_t raw, int32_t row, int32_t column) {
    // Start from a pattern the conversion must overwrite in both fields.
    FloatValue out;
    std::memset(&out, 0xA5, sizeof out);
    ConvertMeasuredValue(&out, raw, row, column);
    return out;
}

struct Case {
    int32_t raw;
    int32_t row;
    int32_t column;
    int32_t status;
    uint32_t bits;
};

std::string Describe(const Case& c) {
    return "raw " + std::to_string(c.raw) + " row " + std::to_string(c.row) + " column " + std::to_string(c.column);
}

// Expected values are the single nearest to the decimal the display shows.
const Case kCases[] = {
    // Metric, column 1 (0.001 mm; step 100 counts, limit 1000 mm).
    {123456, kMetric, 1, ValueValid, Bits(static_cast<float>(1.235))},
    {123449, kMetric, 1, ValueValid, Bits(static_cast<float>(1.234))},
    {-123450, kMetric, 1, ValueValid, Bits(static_cast<float>(-1.235))},
    {-123449, kMetric, 1, ValueValid, Bits(static_cast<float>(-1.234))},
    {49, kMetric, 1, ValueValid, Bits(0.0f)},
    {-49, kMetric, 1, ValueValid, Bits(0.0f)},
    {0, kMetric, 1, ValueValid, Bits(0.0f)},
    {50, kMetric, 1, ValueValid, Bits(static_cast<float>(0.001))},
    {-50, kMetric, 1, ValueValid, Bits(static_cast<float>(-0.001))},
    {149, kMetric, 1, ValueValid, Bits(static_cast<float>(0.001))},
    {-150, kMetric, 1, ValueValid, Bits(static_cast<float>(-0.002))},
    {99999999, kMetric, 1, ValueValid, Bits(1000.0f)},
    {-99999999, kMetric, 1, ValueValid, Bits(-1000.0f)},
    {100000000, kMetric, 1, ValueOverPositive, kPlusInfinityBits},
    {-100000000, kMetric, 1, ValueOverNegative, kMinusInfinityBits},
    // Metric, the other columns.
    {123456, kMetric, 0, ValueValid, Bits(static_cast<float>(1.23))},
    {123500, kMetric, 0, ValueValid, Bits(static_cast<float>(1.24))},
    {-500, kMetric, 0, ValueValid, Bits(static_cast<float>(-0.01))},
    {999999999, kMetric, 0, ValueValid, Bits(10000.0f)},
    {1000000000, kMetric, 0, ValueOverPositive, kPlusInfinityBits},
    {123456, kMetric, 2, ValueValid, Bits(static_cast<float>(1.2346))},
    {5, kMetric, 2, ValueValid, Bits(static_cast<float>(0.0001))},
    {-4, kMetric, 2, ValueValid, Bits(0.0f)},
    {9999999, kMetric, 2, ValueValid, Bits(100.0f)},
    {-10000000, kMetric, 2, ValueOverNegative, kMinusInfinityBits},
    {123456, kMetric, 3, ValueValid, Bits(static_cast<float>(1.23456))},
    {-123457, kMetric, 3, ValueValid, Bits(static_cast<float>(-1.23457))},
    {999999, kMetric, 3, ValueValid, Bits(static_cast<float>(9.99999))},
    {1000000, kMetric, 3, ValueOverPositive, kPlusInfinityBits},
    {123456, kMetric, 4, ValueValid, Bits(static_cast<float>(1234.6))},
    {10000000, kMetric, 4, ValueOverPositive, kPlusInfinityBits},
    {123456, kMetric, 5, ValueValid, Bits(static_cast<float>(1234.56))},
    {-1000000, kMetric, 5, ValueOverNegative, kMinusInfinityBits},
    {123456, kMetric, 6, ValueValid, Bits(123456.0f)},
    {999999, kMetric, 6, ValueValid, Bits(999999.0f)},
    {1000000, kMetric, 6, ValueOverPositive, kPlusInfinityBits},
    {-999999, kMetric, 6, ValueValid, Bits(-999999.0f)},
    {-1000000, kMetric, 6, ValueOverNegative, kMinusInfinityBits},
    // Inch.
    {123456, kInch, 0, ValueValid, Bits(static_cast<float>(0.0123))},
    {999999999, kInch, 0, ValueValid, Bits(100.0f)},
    {1000000000, kInch, 0, ValueOverPositive, kPlusInfinityBits},
    {123456, kInch, 1, ValueValid, Bits(static_cast<float>(0.01235))},
    {-100000000, kInch, 1, ValueOverNegative, kMinusInfinityBits},
    {123456, kInch, 2, ValueValid, Bits(static_cast<float>(12.3))},
    {-123500, kInch, 2, ValueValid, Bits(static_cast<float>(-12.4))},
    {123456, kInch, 3, ValueValid, Bits(static_cast<float>(12.35))},
    {100000000, kInch, 3, ValueOverPositive, kPlusInfinityBits},
    {123456, kInch, 4, ValueValid, Bits(static_cast<float>(12.346))},
    {-10000000, kInch, 4, ValueOverNegative, kMinusInfinityBits},
    {123456, kInch, 5, ValueValid, Bits(static_cast<float>(12.3456))},
    {-999999, kInch, 5, ValueValid, Bits(static_cast<float>(-99.9999))},
    {1000000, kInch, 5, ValueOverPositive, kPlusInfinityBits},
    {-123456, kInch, 6, ValueValid, Bits(-123456.0f)},
    {-1000000, kInch, 6, ValueOverNegative, kMinusInfinityBits},
    // Display-unit codes without a record: a four-bit code reaches 15, a byte 255.
    {123456, kMetric, 7, ValueInvalid, kInvalidBits},
    {123456, kInch, 15, ValueInvalid, kInvalidBits},
    {0, kMetric, 255, ValueInvalid, kInvalidBits},
    {123456, kMetric, -1, ValueInvalid, kInvalidBits},
    // Unit systems without a row: 2 is the controller's integer display,
    // which no reader selects.
    {123456, 2, 0, ValueInvalid, kInvalidBits},
    {123456, 3, 0, ValueInvalid, kInvalidBits},
    {123456, -1, 0, ValueInvalid, kInvalidBits},
};

TEST(ConvertMeasuredValue, TableOfRowsColumnsAndLimits) {
    for (const Case& c : kCases) {
        const FloatValue out = Convert(c.raw, c.row, c.column);
        EXPECT_EQ(out.status, c.status) << Describe(c);
        EXPECT_EQ(Bits(out.value), c.bits) << Describe(c);
    }
}

TEST(ConvertMeasuredValue, NoValueMarkersAreInvalidEverywhere) {
    const int32_t rows[] = {kMetric, kInch, 2, -1};
    const int32_t columns[] = {0, 3, 6, 7, 255, -1};
    for (int32_t raw : {kRawNoValueHigh, kRawNoValueLow}) {
        for (int32_t row : rows) {
            for (int32_t column : columns) {
                const FloatValue out = Convert(raw, row, column);
                EXPECT_EQ(out.status, ValueInvalid) << raw << " " << row << " " << column;
                EXPECT_EQ(Bits(out.value), kInvalidBits) << raw << " " << row << " " << column;
            }
        }
    }
}

TEST(ConvertMeasuredValue, RecordIsEightBytesSoArraysHaveFixedStride) {
    EXPECT_EQ(sizeof(FloatValue), 8u);
    FloatValue values[2];
    EXPECT_EQ(reinterpret_cast<char*>(&values[1]) - reinterpret_cast<char*>(&values[0]), 8);
}

}  // namespace
}  // namespace trax::measure
