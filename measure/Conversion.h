// Conversion of a raw controller count into the exported FloatValue: a status
// (valid, over range on either side, invalid) and a single-precision value in
// the display unit, rounded to the display resolution.
//
// Both are pure functions of their arguments and UnitTable, so any thread may
// call them. A (row, column) pair without a record in UnitTable never reads
// outside it: the value comes out Invalid.
#pragma once

#include <cstdint>

#include "trax.h"

namespace trax::measure {

// Codes of FloatValue::status.
enum ValueStatus : int32_t {
    ValueValid = 0,
    ValueOverPositive = 1,  // value is +infinity
    ValueOverNegative = 2,  // value is -infinity
    ValueInvalid = 3,       // value bytes are all 0xFF
};

// Raw counts the controller sends when it has no value.
constexpr int32_t kRawNoValueHigh = INT32_MAX;  // 0x7FFFFFFF
constexpr int32_t kRawNoValueLow = INT32_MIN;   // 0x80000000

// Fills both fields of *dest for one raw value in unit system `row` and
// display-unit code `column`.
void ConvertMeasuredValue(FloatValue* dest, int32_t raw, int32_t row, int32_t column);

// The conversion for one (row, column) with everything that depends only on
// the record worked out once: readers of long series (the stored values)
// look the record up once per call instead of once per value. Converts
// exactly as ConvertMeasuredValue does.
class UnitScale {
public:
    UnitScale(int32_t row, int32_t column);
    void Convert(FloatValue* dest, int32_t raw) const;

private:
    bool known = false;  // false: the pair names no record; every value is Invalid
    int32_t divisor = 1;
    int32_t step = 1;
    int32_t half = 0;
    int32_t limit = 0;
};

}  // namespace trax::measure
