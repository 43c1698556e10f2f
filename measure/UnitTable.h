// Display units of the controller: for each unit system (row) and display-unit
// code (column), how many raw counts make one display unit and to which
// resolution a value is rounded.
#pragma once

#include <cstdint>

namespace trax::measure {

struct UnitRecord {
    int32_t divisor;            // raw counts per display unit
    int32_t resolutionDivisor;  // display steps per display unit
};

// Rows: 0 metric (100000 counts per mm), 1 inch (10000000 counts per inch).
// Columns: the display-unit code; 6 passes counts through.
constexpr int32_t kUnitSystemCount = 2;
constexpr int32_t kDisplayUnitCount = 7;

extern const UnitRecord UnitTable[kUnitSystemCount][kDisplayUnitCount];

// The record for (row, column), or null when either index has no record.
// Row and column come from controller replies, so every lookup goes through
// here rather than indexing UnitTable directly.
const UnitRecord* FindUnitRecord(int32_t row, int32_t column);

}  // namespace trax::measure
