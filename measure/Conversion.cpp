#include "measure/Conversion.h"

#include <cstring>
#include <limits>

#include "measure/UnitTable.h"

namespace trax::measure {

namespace {

// One million display steps bound the display range in either direction.
constexpr int32_t kDisplaySteps = 1000000;

void SetInvalid(FloatValue* dest) {
    dest->status = kValueInvalid;
    std::memset(&dest->value, 0xFF, sizeof dest->value);
}

// The over-range values are the infinities of single-precision division; the
// zero is volatile so that the division happens at run time and draws no
// warning about dividing by a constant zero.
float Infinity(float sign) {
    volatile float zero = 0.0f;
    return sign / zero;
}

}  // namespace

UnitScale::UnitScale(int32_t row, int32_t column) {
    const UnitRecord* record = FindUnitRecord(row, column);
    if (record == nullptr) return;
    known_ = true;
    divisor_ = record->divisor;
    step_ = record->divisor / record->resolutionDivisor;
    half_ = step_ / 2;
    limit_ = kDisplaySteps / record->resolutionDivisor;
}

void UnitScale::Convert(FloatValue* dest, int32_t raw) const {
    dest->status = kValueValid;
    if (raw == kRawNoValueLow || raw == kRawNoValueHigh || !known_) {
        // An unknown display-unit code from the reply is Invalid rather than
        // a read outside the table.
        SetInvalid(dest);
        return;
    }
    // Only the whole part counts, so a value that rounds onto the limit is
    // still in range.
    const int32_t whole = raw / divisor_;
    if (whole >= limit_) {
        dest->status = kValueOverPositive;
        dest->value = Infinity(1.0f);
        return;
    }
    if (whole <= -limit_) {
        dest->status = kValueOverNegative;
        dest->value = Infinity(-1.0f);
        return;
    }
    // In range, |raw| stays below limit x divisor + divisor (about 10^9), so
    // adding half a step cannot overflow 32 bits here.
    int32_t value = raw;
    if (value > 0) {
        if (value % step_ >= half_) value += half_;
    } else if ((-value) % step_ >= half_) {
        value -= half_;
    }
    const int32_t rounded = (value / step_) * step_;
    dest->value = static_cast<float>(static_cast<double>(rounded) / static_cast<double>(divisor_));
}

void ConvertMeasuredValue(FloatValue* dest, int32_t raw, int32_t row, int32_t column) {
    UnitScale(row, column).Convert(dest, raw);
}

int32_t CheckDisplayRange(int32_t raw, int32_t row, int32_t column) {
    if (raw == kRawNoValueLow) {
        return kRangeNoValue;
    }
    const UnitRecord* record = FindUnitRecord(row, column);
    if (record == nullptr) {
        return kRangeNoValue;
    }
    // Only the whole part counts, so a value that rounds onto the limit (for
    // example 999.9999 mm at 0.001 mm) is still in range.
    const int32_t whole = raw / record->divisor;
    const int32_t limit = kDisplaySteps / record->resolutionDivisor;
    if (whole >= limit) {
        return kRangeAbove;
    }
    if (whole <= -limit) {
        return kRangeBelow;
    }
    return raw;
}

int32_t RoundToResolution(int32_t raw, int32_t row, int32_t column) {
    const UnitRecord* record = FindUnitRecord(row, column);
    if (record == nullptr) {
        return raw;
    }
    const int64_t step = record->divisor / record->resolutionDivisor;
    const int64_t half = step / 2;
    // 64-bit so that adding half a step to a count near the 32-bit ends, or
    // negating INT32_MIN, cannot overflow. Counts that passed CheckDisplayRange
    // never come near those ends.
    int64_t value = raw;
    if (value > 0) {
        if (value % step >= half) {
            value += half;
        }
    } else if ((-value) % step >= half) {
        value -= half;
    }
    int64_t rounded = (value / step) * step;
    // Only a count within half a step of the 32-bit ends can round past them;
    // it then keeps the nearest step that still fits.
    if (rounded > std::numeric_limits<int32_t>::max()) {
        rounded -= step;
    } else if (rounded < std::numeric_limits<int32_t>::min()) {
        rounded += step;
    }
    return static_cast<int32_t>(rounded);
}

double ScaleToDisplayUnit(int32_t raw, int32_t row, int32_t column) {
    const UnitRecord* record = FindUnitRecord(row, column);
    if (record == nullptr) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(RoundToResolution(raw, row, column)) / static_cast<double>(record->divisor);
}

}  // namespace trax::measure
