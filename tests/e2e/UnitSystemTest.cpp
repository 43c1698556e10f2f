// Display units and unit systems: one held value read in every display unit
// the heads accept must come out as that value in the unit's scale, rounded
// to its resolution. The controller reports metric by default; the inch
// suite runs against a controller configured with TRAX_SIM_UNITS=inch.
#include <cmath>
#include <vector>

#include "E2eSupport.h"

namespace {

using e2e::DisplayColumn;

// Display-unit codes 0..5 of each unit system. The last column of each table
// has a step of one count and so gives the raw value back exactly.
const std::vector<DisplayColumn> kMetricColumns = {
    {0, 100000, 1000},  // mm 0.01
    {1, 100000, 100},   // mm 0.001
    {2, 100000, 10},    // mm 0.0001
    {4, 100, 10},       // um 0.1
    {5, 100, 1},        // um 0.01
    {3, 100000, 1},     // mm 0.00001
};
const std::vector<DisplayColumn> kInchColumns = {
    {0, 10000000, 1000},  // inch 0.0001
    {1, 10000000, 100},   // inch 0.00001
    {2, 10000, 1000},     // mil 0.1
    {3, 10000, 100},      // mil 0.01
    {4, 10000, 10},       // mil 0.001
    {5, 10000, 1},        // mil 0.0001
};

void SetColumns(int codeA, int codeB) {
    ASSERT_EQ(TRAX_SetDisplayUnit(0, codeA), 1);
    ASSERT_EQ(TRAX_SetDisplayUnit(1, codeB), 1);
}

// Holds both heads, takes their raw values from the one-count column, then
// reads them in every column, head B always in another column than head A.
void ExpectEveryColumnScalesTheHeldValue(const std::vector<DisplayColumn>& columns) {
    const DisplayColumn& exact = columns.back();
    ASSERT_EQ(exact.stepCounts, 1);
    ASSERT_EQ(TRAX_SetTiming(2, 1), 1);
    SetColumns(exact.code, exact.code);
    FloatValue v[2];
    e2e::ReadBoth(v);
    int32_t raw[2];
    for (int head = 0; head < 2; ++head) {
        ASSERT_EQ(v[head].status, TRAX_VALUE_VALID);
        raw[head] = static_cast<int32_t>(std::lround(v[head].value * exact.countsPerUnit));
        ASSERT_TRUE(e2e::InSignalBand(v[head], head, exact.countsPerUnit, 0)) << "head " << head;
    }

    const size_t n = columns.size();
    for (size_t i = 0; i < n; ++i) {
        const DisplayColumn* column[2] = {&columns[i], &columns[(i + 1) % n]};
        SCOPED_TRACE(::testing::Message() << "columns " << column[0]->code << ", " << column[1]->code);
        SetColumns(column[0]->code, column[1]->code);
        e2e::ReadBoth(v);
        for (int head = 0; head < 2; ++head) {
            EXPECT_EQ(v[head].status, TRAX_VALUE_VALID) << "head " << head;
            EXPECT_FLOAT_EQ(v[head].value, e2e::Expected(raw[head], *column[head])) << "head " << head;
        }
    }
}

class DisplayUnit : public e2e::MeasuringTest {};

TEST_F(DisplayUnit, EveryMetricColumnScalesTheSameHeldValue) { ExpectEveryColumnScalesTheHeldValue(kMetricColumns); }

TEST_F(DisplayUnit, MicrometresReadAThousandTimesMillimetres) {
    ASSERT_EQ(TRAX_SetTiming(2, 1), 1);
    FloatValue mm[2], um[2];
    e2e::ReadBoth(mm);
    SetColumns(5, 5);
    e2e::ReadBoth(um);
    for (int head = 0; head < 2; ++head) {
        ASSERT_EQ(um[head].status, TRAX_VALUE_VALID);
        // Millimetres with three decimals are micrometres to the nearest one.
        EXPECT_NEAR(um[head].value, mm[head].value * 1000, 0.5 + 1e-3) << "head " << head;
        EXPECT_GT(std::fabs(um[head].value), 100.0f);
    }
}

class InchUnits : public e2e::MeasuringTest {
protected:
    void SetUp() override {
        if (!e2e::EnvironmentIs("TRAX_SIM_UNITS", "inch")) GTEST_SKIP() << "needs TRAX_SIM_UNITS=inch";
        MeasuringTest::SetUp();
    }
};

constexpr double kInchStep = 0.00001;  // display unit 1 in inch: inch with five decimals

TEST_F(InchUnits, MeasuredValuesAreInInches) {
    FloatValue v[2];
    e2e::ReadBoth(v);
    for (int head = 0; head < 2; ++head) {
        EXPECT_TRUE(e2e::InSignalBand(v[head], head, e2e::kCountsPerInch, kInchStep)) << "head " << head;
        EXPECT_TRUE(e2e::OnStepGrid(v[head].value, 100000)) << v[head].value;
    }
}

TEST_F(InchUnits, EveryInchColumnScalesTheSameHeldValue) { ExpectEveryColumnScalesTheHeldValue(kInchColumns); }

TEST_F(InchUnits, FigureDataIsInInches) {
    ASSERT_EQ(TRAX_ClearFigureData(), 1);
    FloatValue v[2];
    for (int i = 0; i < 3; ++i) e2e::ReadBoth(v);
    for (int head = 0; head < 2; ++head) {
        FigureData f;
        ASSERT_EQ(TRAX_GetFigureData(head, &f), 1);
        for (int i : {0, 1, 3, 5, 6}) {
            EXPECT_TRUE(e2e::InSignalBand(f.values[i], head, e2e::kCountsPerInch, kInchStep))
                << "head " << head << ", figure " << i;
        }
        EXPECT_FLOAT_EQ(f.values[5].value, v[head].value);
    }
}

TEST_F(InchUnits, StoredValuesAreInInches) {
    ASSERT_EQ(TRAX_SetDataStorage(0, 1000, 0), 1);
    ASSERT_EQ(TRAX_DataStorageInit(), 1);
    ASSERT_EQ(TRAX_DataStorageStart(), 1);
    ASSERT_EQ(TRAX_DataStorageStop(), 1);
    for (int head = 0; head < 2; ++head) {
        std::vector<FloatValue> values(1000, e2e::Untouched());
        int returned = -1;
        ASSERT_EQ(TRAX_DataStorageGetData(head, 1000, values.data(), &returned), 1);
        ASSERT_EQ(returned, 1000);
        int outside = 0;
        for (const FloatValue& value : values) {
            if (!e2e::InSignalBand(value, head, e2e::kCountsPerInch, kInchStep)) ++outside;
        }
        EXPECT_EQ(outside, 0) << "head " << head;
    }
}

}  // namespace
