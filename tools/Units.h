// How a measured value is shown: the library hands out values already in the
// head's display unit; the unit's name and its number of decimals follow from
// the display-unit code (0..5, a per-head setting) and the unit system. The
// library does not report the unit system, so the user states it (--units).
#pragma once

#include <string>

#include <trax.h>

#include <ostream>
#include "Cli.h"
#include "JsonWriter.h"

namespace traxctl {

using trax::client::DisplayUnit;
using trax::client::LookUpUnit;
using trax::client::StatusName;

// "1.235", "over+", "over-", "invalid": at least the unit's decimals, and
// more when the value carries more (a unit named wrongly loses no digit).
std::string FormatValue(const FloatValue& v, const DisplayUnit& unit);
// The three CSV cells of a value, status,value,unit: the value empty unless valid.
std::string CsvCells(const FloatValue& v, const DisplayUnit& unit);
// A storage run as CSV, as traxctl storage read --csv and the server write
// it: comment lines with what the values alone do not say (head, unit,
// count, start and stop times, sampling cycle; "" is written as not known),
// then index,status,value,unit.
std::string StorageCsv(int head, const DisplayUnit& unit, const FloatValue* values, int count, const std::string& start,
                       const std::string& stop, const std::string& samplingCycle);
// {"status":"valid","value":1.235} with value null unless valid; withUnit
// adds "unit" as WriteUnit writes it.
void WriteValue(JsonWriter& json, const FloatValue& v, const DisplayUnit& unit, bool withUnit = false);
// The unit's name, or null when it is not known.
void WriteUnit(JsonWriter& json, const DisplayUnit& unit);

// The unit of a head's values as the user's options give it (see
// UnitOptions); only with --read-unit does this call the library, and that
// call switches the controller to setting mode and back.
DisplayUnit UnitOf(const Context& ctx, int head);
// Once per process, on the error stream: the unit is not known, and how to name it.
void SayUnitNotKnown(const Context& ctx, const DisplayUnit& unit);

}  // namespace traxctl
