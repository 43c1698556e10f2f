// What the end-to-end tests share: the simulated controller's signal as a
// host program sees it, and the checks that compare converted values with it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trax.h"

namespace e2e {

// The simulated signal in raw counts (0.01 um): centre +- amplitude, sine
// periods in samples, +-20 counts of noise.
struct HeadSignal {
    double centre;
    double amplitude;
    double period;
};
constexpr HeadSignal kSignal[2] = {{123456, 50000, 1000}, {-234567, 40000, 1500}};
constexpr double kNoise = 20;
constexpr double kPi = 3.141592653589793;

// The display-unit code every test starts from: millimetres with three decimals.
constexpr int kMillimetres3 = 1;
constexpr double kCountsPerMillimetre = 100000;
constexpr double kCountsPerInch = 10000000;

// A display unit as the library converts into it.
struct DisplayColumn {
    int code;
    double countsPerUnit;
    int32_t stepCounts;
};

constexpr float kUntouched = -12345.0f;
constexpr int kUntouchedInt = -1234567;

inline FloatValue Untouched() { return FloatValue{-77, kUntouched}; }

// A raw count rounded half away from zero to a whole number of steps.
inline int32_t RoundToStep(int32_t raw, int32_t step) {
    int32_t half = step / 2;
    if (raw > 0 && raw % step >= half) raw += half;
    if (raw <= 0 && (-raw) % step >= half) raw -= half;
    return raw / step * step;
}

// The value the library must hand out for a raw count in a display column.
inline float Expected(int32_t raw, const DisplayColumn& column) {
    return static_cast<float>(static_cast<double>(RoundToStep(raw, column.stepCounts)) / column.countsPerUnit);
}

// Checks that a value is valid and lies where the head's signal can be, in a
// unit of `countsPerUnit` raw counts, with one display step of slack.
inline ::testing::AssertionResult InSignalBand(const FloatValue& v, int head, double countsPerUnit, double step) {
    if (v.status != TRAX_VALUE_VALID) {
        return ::testing::AssertionFailure() << "status " << v.status << " (value " << v.value << ")";
    }
    const HeadSignal& s = kSignal[head];
    double low = (s.centre - s.amplitude - kNoise) / countsPerUnit - step;
    double high = (s.centre + s.amplitude + kNoise) / countsPerUnit + step;
    if (v.value < low || v.value > high) {
        return ::testing::AssertionFailure() << v.value << " outside [" << low << ", " << high << "]";
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult InMillimetreBand(const FloatValue& v, int head) {
    return InSignalBand(v, head, kCountsPerMillimetre, 0.001);
}

// True when the value is a whole number of display steps (unit / resolution).
inline bool OnStepGrid(float value, double stepsPerUnit) {
    double steps = static_cast<double>(value) * stepsPerUnit;
    return std::fabs(steps - std::round(steps)) < 1e-3;
}

// Reads both heads' measured values; fails the test when the call fails.
inline void ReadBoth(FloatValue (&out)[2]) {
    out[0] = Untouched();
    out[1] = Untouched();
    ASSERT_EQ(TRAX_GetCalcData(&out[0], &out[1]), 1);
}

// True when the named variable of the simulated controller holds `value`.
inline bool EnvironmentIs(const char* name, const char* value) {
    const char* set = std::getenv(name);
    return set != nullptr && std::strcmp(set, value) == 0;
}

// The state every measuring test starts from, and leaves behind: no zero, no
// hold, no offset, millimetres with three decimals on both heads.
inline void RestoreMeasuringState() {
    ASSERT_EQ(TRAX_SetZero(2, 0), 1);
    ASSERT_EQ(TRAX_SetTiming(2, 0), 1);
    for (int head = 0; head < 2; ++head) {
        ASSERT_EQ(TRAX_SetOffset(head, 0), 1);
        ASSERT_EQ(TRAX_SetDisplayUnit(head, kMillimetres3), 1);
    }
}

class MeasuringTest : public ::testing::Test {
protected:
    void SetUp() override { RestoreMeasuringState(); }
    void TearDown() override { RestoreMeasuringState(); }
};

}  // namespace e2e
