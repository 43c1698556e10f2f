#include "measure/Conversion.h"

#include <cstring>

#include "measure/UnitTable.h"

namespace trax::measure {

namespace {

// One million display steps bound the display range in either direction.
constexpr int32_t kDisplaySteps = 1000000;

void SetInvalid(FloatValue* dest) {
    dest->status = ValueInvalid;
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
    known = true;
    divisor = record->divisor;
    step = record->divisor / record->resolutionDivisor;
    half = step / 2;
    limit = kDisplaySteps / record->resolutionDivisor;
}

void UnitScale::Convert(FloatValue* dest, int32_t raw) const {
    dest->status = ValueValid;
    if (raw == kRawNoValueLow || raw == kRawNoValueHigh || !known) {
        // An unknown display-unit code from the reply is Invalid rather than
        // a read outside the table.
        SetInvalid(dest);
        return;
    }
    // Only the whole part counts, so a value that rounds onto the limit is
    // still in range.
    const int32_t whole = raw / divisor;
    if (whole >= limit) {
        dest->status = ValueOverPositive;
        dest->value = Infinity(1.0f);
        return;
    }
    if (whole <= -limit) {
        dest->status = ValueOverNegative;
        dest->value = Infinity(-1.0f);
        return;
    }
    // In range, |raw| stays below limit x divisor + divisor (about 10^9), so
    // adding half a step cannot overflow 32 bits here.
    int32_t value = raw;
    if (value > 0) {
        if (value % step >= half) value += half;
    } else if ((-value) % step >= half) {
        value -= half;
    }
    const int32_t rounded = (value / step) * step;
    dest->value = static_cast<float>(static_cast<double>(rounded) / static_cast<double>(divisor));
}

void ConvertMeasuredValue(FloatValue* dest, int32_t raw, int32_t row, int32_t column) {
    UnitScale(row, column).Convert(dest, raw);
}

}  // namespace trax::measure
