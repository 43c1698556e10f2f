// How a measured value is shown: the library hands out values already in the
// head's display unit; the unit's name and its number of decimals follow from
// the display-unit code (0..5, a per-head setting) and the unit system. The
// library does not report the unit system, so the user states it (--units).
#pragma once

#include <string>

#include <trax.h>
#include "Cli.h"

namespace traxctl {

struct DisplayUnit {
    const char* name;  // "mm", "um", "inch", "mil"; "" when the code is unknown
    int decimals;
};

DisplayUnit LookUpUnit(UnitSystem system, int code);

// "1.235", "+over", "-over", "invalid".
std::string FormatValue(const FloatValue& v, const DisplayUnit& unit);
// "valid", "over+", "over-", "invalid" (or "status N").
std::string StatusName(int status);
// {"status":"valid","value":1.235} with value null unless valid.
std::string ValueJson(const FloatValue& v, const DisplayUnit& unit);

// Reads a head's display-unit code and looks up the unit.
DisplayUnit ReadUnit(const Context& ctx, int head);

}  // namespace traxctl
