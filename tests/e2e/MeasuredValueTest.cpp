// Measured values, figure data and the light profile as the controller's
// signal reaches the host, and the control actions that shape that signal:
// zero, timing hold, reset and offset.
#include <algorithm>
#include <vector>

#include "E2eSupport.h"

namespace {

using e2e::InMillimetreBand;
using e2e::ReadBoth;

class MeasuredValue : public e2e::MeasuringTest {};

TEST_F(MeasuredValue, BothHeadsReadValidValuesOnTheDisplayGrid) {
    for (int read = 0; read < 3; ++read) {
        FloatValue v[2];
        ReadBoth(v);
        for (int head = 0; head < 2; ++head) {
            EXPECT_TRUE(InMillimetreBand(v[head], head)) << "head " << head << ", read " << read;
            EXPECT_TRUE(e2e::OnStepGrid(v[head].value, 1000)) << v[head].value;
        }
    }
}

// head argument -> which heads the action reaches.
struct HeadCase {
    int head;
    bool reaches[2];
};
const HeadCase kHeadCases[] = {{0, {true, false}}, {1, {false, true}}, {2, {true, true}}};

TEST_F(MeasuredValue, ZeroSetMakesTheNextValueZeroAndClearRestoresTheSignal) {
    for (const HeadCase& c : kHeadCases) {
        SCOPED_TRACE(c.head);
        ASSERT_EQ(TRAX_SetZero(c.head, 1), 1);
        FloatValue zeroed[2];
        ReadBoth(zeroed);
        for (int head = 0; head < 2; ++head) {
            if (c.reaches[head]) {
                EXPECT_EQ(zeroed[head].status, TRAX_VALUE_VALID) << "head " << head;
                EXPECT_EQ(zeroed[head].value, 0.0f) << "head " << head;
            } else {
                EXPECT_TRUE(InMillimetreBand(zeroed[head], head)) << "head " << head;
            }
        }
        // Later values are relative to the zero: a few micrometres at most.
        FloatValue later[2];
        ReadBoth(later);
        for (int head = 0; head < 2; ++head) {
            if (c.reaches[head]) {
                EXPECT_LT(std::fabs(later[head].value), 0.01f) << "head " << head;
            }
        }

        ASSERT_EQ(TRAX_SetZero(c.head, 0), 1);
        FloatValue cleared[2];
        ReadBoth(cleared);
        for (int head = 0; head < 2; ++head) EXPECT_TRUE(InMillimetreBand(cleared[head], head)) << "head " << head;
    }
}

// Reads until a held head shows the same value `reads` times; a following
// head must show at least two different values over them (with a resolution
// of one count the noise alone moves it).
void ExpectHeld(const bool (&held)[2], int reads) {
    std::vector<float> seen[2];
    for (int i = 0; i < reads; ++i) {
        FloatValue v[2];
        ReadBoth(v);
        for (int head = 0; head < 2; ++head) {
            ASSERT_EQ(v[head].status, TRAX_VALUE_VALID);
            seen[head].push_back(v[head].value);
        }
    }
    for (int head = 0; head < 2; ++head) {
        auto [low, high] = std::minmax_element(seen[head].begin(), seen[head].end());
        if (held[head]) {
            EXPECT_EQ(*low, *high) << "head " << head << " should be held";
        } else {
            EXPECT_LT(*low, *high) << "head " << head << " should follow the signal";
        }
    }
}

TEST_F(MeasuredValue, TimingInputHoldsTheValueUntilSwitchedOff) {
    for (int head = 0; head < 2; ++head) ASSERT_EQ(TRAX_SetDisplayUnit(head, 3), 1);  // one count per step
    for (const HeadCase& c : kHeadCases) {
        SCOPED_TRACE(c.head);
        ASSERT_EQ(TRAX_SetTiming(c.head, 1), 1);
        ExpectHeld(c.reaches, 5);
        ASSERT_EQ(TRAX_SetTiming(c.head, 0), 1);
        ExpectHeld({false, false}, 5);
    }
}

TEST_F(MeasuredValue, ResetReleasesTheHoldAndRestartsTheFigures) {
    for (int head = 0; head < 2; ++head) ASSERT_EQ(TRAX_SetDisplayUnit(head, 3), 1);
    ASSERT_EQ(TRAX_ClearFigureData(), 1);
    ASSERT_EQ(TRAX_SetTiming(2, 1), 1);
    ExpectHeld({true, true}, 3);
    ASSERT_EQ(TRAX_SetReset(1), 1);
    ExpectHeld({true, false}, 5);

    FigureData figures[2];
    for (int head = 0; head < 2; ++head) ASSERT_EQ(TRAX_GetFigureData(head, &figures[head]), 1);
    EXPECT_EQ(figures[0].integers[0], 8);  // every read since the clear
    EXPECT_EQ(figures[1].integers[0], 5);  // the reads since the reset
}

struct OffsetCase {
    int head;
    int offsetMicrometres;
    float expectedMillimetres;
};

// Zero first: the next value is then exactly the offset, whatever the signal.
TEST_F(MeasuredValue, OffsetShiftsTheValueByMicrometres) {
    const OffsetCase cases[] = {{0, 1234, 1.234f}, {1, -500, -0.5f}, {0, 999999, 999.999f}, {1, -999999, -999.999f}};
    for (const OffsetCase& c : cases) {
        SCOPED_TRACE(c.offsetMicrometres);
        ASSERT_EQ(TRAX_SetZero(c.head, 1), 1);
        ASSERT_EQ(TRAX_SetOffset(c.head, c.offsetMicrometres), 1);
        FloatValue v[2];
        ReadBoth(v);
        EXPECT_EQ(v[c.head].status, TRAX_VALUE_VALID);
        EXPECT_FLOAT_EQ(v[c.head].value, c.expectedMillimetres);
        EXPECT_TRUE(InMillimetreBand(v[1 - c.head], 1 - c.head));
        ASSERT_EQ(TRAX_SetOffset(c.head, 0), 1);
        ASSERT_EQ(TRAX_SetZero(c.head, 0), 1);
    }
}

// The figures are statistics of the values read since the clear, in the same
// unit and resolution.
TEST_F(MeasuredValue, FigureDataSummarisesTheReadsSinceTheClear) {
    ASSERT_EQ(TRAX_ClearFigureData(), 1);
    std::vector<float> seen[2];
    const int reads = 12;
    for (int i = 0; i < reads; ++i) {
        FloatValue v[2];
        ReadBoth(v);
        for (int head = 0; head < 2; ++head) seen[head].push_back(v[head].value);
    }
    for (int head = 0; head < 2; ++head) {
        SCOPED_TRACE(head);
        FigureData f;
        std::memset(&f, 0xA5, sizeof f);
        ASSERT_EQ(TRAX_GetFigureData(head, &f), 1);
        for (const FloatValue& v : f.values) EXPECT_EQ(v.status, TRAX_VALUE_VALID);
        const std::vector<float>& s = seen[head];
        float max = *std::max_element(s.begin(), s.end());
        float min = *std::min_element(s.begin(), s.end());
        EXPECT_FLOAT_EQ(f.values[0].value, max);
        EXPECT_FLOAT_EQ(f.values[1].value, min);
        EXPECT_NEAR(f.values[2].value, max - min, 0.0011);
        EXPECT_GE(f.values[3].value, min);
        EXPECT_LE(f.values[3].value, max);
        EXPECT_FLOAT_EQ(f.values[5].value, s.back());
        EXPECT_FLOAT_EQ(f.values[6].value, s.front());
        EXPECT_EQ(f.integers[0], reads);
        EXPECT_EQ(f.integers[3], 0);  // not held
    }

    ASSERT_EQ(TRAX_ClearFigureData(), 1);
    FloatValue v[2];
    ReadBoth(v);
    FigureData f;
    ASSERT_EQ(TRAX_GetFigureData(0, &f), 1);
    EXPECT_EQ(f.integers[0], 1);
    EXPECT_FLOAT_EQ(f.values[0].value, v[0].value);
}

TEST_F(MeasuredValue, LightProfileFiguresDescribeItsPeak) {
    for (int head = 0; head < 2; ++head) {
        for (int selector : {0, 3}) {
            SCOPED_TRACE(::testing::Message() << "head " << head << ", selector " << selector);
            LightData data;
            std::fill(std::begin(data.values), std::end(data.values), e2e::kUntouchedInt);
            int extra = e2e::kUntouchedInt;
            std::vector<unsigned char> profile(1024 + 1, 0xEE);
            ASSERT_EQ(TRAX_GetLight(head, selector, &data, &extra, profile.data()), 1);
            EXPECT_EQ(profile[1024], 0xEE) << "wrote past the 1024 samples";

            auto peak = std::max_element(profile.begin(), profile.begin() + 1024);
            for (int value : data.values) {
                EXPECT_GE(value, 0);
                EXPECT_LE(value, 65535);
            }
            ASSERT_GE(data.values[0], 0);
            ASSERT_LT(data.values[0], 1024);
            EXPECT_EQ(profile[data.values[0]], *peak) << "light figure 0 is the pixel of the maximum";
            EXPECT_EQ(data.values[1], *peak) << "light figure 1 is the height of the maximum";
            EXPECT_GT(*peak, 100);
            // The centroid, in 1/16 pixel, lies on the peak.
            EXPECT_NEAR(extra / 16.0, data.values[0], 3.0);
        }
    }
}

}  // namespace
