// Display units of the controller: for each unit system (row) and display-unit
// code (column), how a raw count is scaled, to which resolution it is rounded,
// and how the value is written out.
#pragma once

#include <cstdint>

namespace trax::measure {

struct UnitRecord {
    int32_t displayKind;        // 0 = decimal display, 1 = integer display
    const char* displayFormat;  // printf-style format of the displayed value
    const char* unitName;       // null in the integer rows
    const char* stepText;       // the display resolution written out; may be null
    int32_t divisor;            // raw counts per display unit
    int32_t resolutionDivisor;  // display steps per display unit
};

// Rows: 0 metric (100000 counts per mm), 1 inch (10000000 counts per inch),
// 2 integer display. Columns: the display-unit code; 6 passes counts through.
constexpr int32_t kUnitSystemCount = 3;
constexpr int32_t kDisplayUnitCount = 7;

extern const UnitRecord UnitTable[kUnitSystemCount][kDisplayUnitCount];

// The record for (row, column), or null when either index has no record.
// Row and column come from controller replies, so every lookup goes through
// here rather than indexing UnitTable directly.
const UnitRecord* FindUnitRecord(int32_t row, int32_t column);

}  // namespace trax::measure
