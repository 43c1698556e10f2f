#include "measure/UnitTable.h"

namespace trax::measure {

// Read-only after load; shared by every thread without a lock.
const UnitRecord UnitTable[kUnitSystemCount][kDisplayUnitCount] = {
    // Metric: one raw count is 0.01 um. mm with 2 to 5 decimals, um with 1 and 2.
    {
        {100000, 100},
        {100000, 1000},
        {100000, 10000},
        {100000, 100000},
        {100, 10},
        {100, 100},
        {1, 1},
    },
    // Inch: 10000000 counts per inch, 10000 per mil. inch with 4 and 5
    // decimals, mil with 1 to 4.
    {
        {10000000, 10000},
        {10000000, 100000},
        {10000, 10},
        {10000, 100},
        {10000, 1000},
        {10000, 10000},
        {1, 1},
    },
};

const UnitRecord* FindUnitRecord(int32_t row, int32_t column) {
    if (row < 0 || row >= kUnitSystemCount || column < 0 || column >= kDisplayUnitCount) {
        return nullptr;
    }
    return &UnitTable[row][column];
}

}  // namespace trax::measure
