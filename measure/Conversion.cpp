#include "measure/Conversion.h"

#include <cstring>

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

}  // namespace trax::measure
