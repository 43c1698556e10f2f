#include "measure/UnitTable.h"

namespace trax::measure {

// Read-only after load; shared by every thread without a lock.
const UnitRecord UnitTable[kUnitSystemCount][kDisplayUnitCount] = {
    // Metric: one raw count is 0.01 um.
    {
        {0, "%3.2f", "mm", "0.01", 100000, 100},
        {0, "%4.3f", "mm", "0.001", 100000, 1000},
        {0, "%5.4f", "mm", "0.0001", 100000, 10000},
        {0, "%6.5f", "mm", "0.00001", 100000, 100000},
        {0, "%2.1f", "um", "0.1", 100, 10},
        {0, "%3.2f", "um", "0.01", 100, 100},
        {0, "%f", "--", "--", 1, 1},
    },
    // Inch: 10000000 counts per inch, 10000 per mil.
    {
        {0, "%5.4f", "inch", "0.0001", 10000000, 10000},
        {0, "%6.5f", "inch", "0.00001", 10000000, 100000},
        {0, "%2.1f", "mil", "0.1", 10000, 10},
        {0, "%3.2f", "mil", "0.01", 10000, 100},
        {0, "%4.3f", "mil", "0.001", 10000, 1000},
        {0, "%5.4f", "mil", "0.0001", 10000, 10000},
        {0, "%f", "--", "--", 1, 1},
    },
    // Integer display: the raw count as it is.
    {
        {1, "%d", nullptr, nullptr, 1, 1},
        {1, "%d", nullptr, nullptr, 1, 1},
        {1, "%d", nullptr, nullptr, 1, 1},
        {1, "%d", nullptr, nullptr, 1, 1},
        {1, "%d", nullptr, nullptr, 1, 1},
        {1, "%d", nullptr, nullptr, 1, 1},
        {1, "%d", nullptr, nullptr, 1, 1},
    },
};

const UnitRecord* FindUnitRecord(int32_t row, int32_t column) {
    if (row < 0 || row >= kUnitSystemCount || column < 0 || column >= kDisplayUnitCount) {
        return nullptr;
    }
    return &UnitTable[row][column];
}

}  // namespace trax::measure
