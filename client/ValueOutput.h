// One reading, one shape: the measured values, figure data, light profile
// and storage as text, CSV and JSON, the same for every face (traxctl's
// output and --json, the server's replies and downloads).
//
// JSON shapes:
//   value      {"status": "valid", "value": 1.235, "unit": "mm"}
//              value null unless valid; unit null when not known
//   both heads {"A": value, "B": value}
//   figure     {"head": "A", "unit": .., "values": [{"status", "value"} x7], "integers": [4]}
//   light      {"head": "A", "selector": 0, "light": [4], "extra": 0, "profile": [1024]}
//   storage    {"head": "A", "unit": .., "count": N, "values": [{"status", "value"}...]}
//   status     {"storing": false, "A": 0, "B": 0}
//   setting    {"setting": "able-min-max", "head": "A", "values": {"min": 10, "max": 90}}
//              head null for a controller setting
// A value's number is the shortest that reads back as the same float.
#pragma once

#include <trax.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "client/Controller.h"
#include "client/SettingsAccess.h"
#include "client/ValueText.h"

namespace trax::client {

// Members in the order written, so that output reads as documented above.
using Json = nlohmann::ordered_json;

// "1.235", "over+", "over-", "invalid": at least the unit's decimals, and
// more when the value carries more (a unit named wrongly loses no digit).
std::string FormatValue(const FloatValue& v, const DisplayUnit& unit);
// The three CSV cells of a value, status,value,unit: the value empty unless valid.
std::string CsvCells(const FloatValue& v, const DisplayUnit& unit);
// A storage run as CSV: comment lines with what the values alone do not say
// (head, unit, count, start and stop times, sampling cycle; "" is written as
// not known), then index,status,value,unit.
std::string StorageCsv(int head, const DisplayUnit& unit, const std::vector<FloatValue>& values,
                       const std::string& start, const std::string& stop, const std::string& samplingCycle);

// The unit's name, or null when it is not known.
Json UnitJson(const DisplayUnit& unit);
// {"status", "value"}, and "unit" when withUnit.
Json ValueJson(const FloatValue& v, const DisplayUnit& unit, bool withUnit);
Json BothHeadsJson(const Controller::BothHeads& values, const DisplayUnit& unitA, const DisplayUnit& unitB);
Json FigureJson(int head, const FigureData& figure, const DisplayUnit& unit);
Json LightJson(int head, int selector, const Controller::LightProfile& light);
Json StorageJson(int head, const DisplayUnit& unit, const std::vector<FloatValue>& values);

// {"min": 10, "max": 90}: a setting's values named as in the setting table;
// null without values.
Json NamedValuesJson(const Setting& s, const std::vector<int>* values);
// {"setting", "head"} of one setting.
Json SettingRefJson(const SettingRef& ref);
// {"setting", "head", "values"}.
Json SettingJson(const SettingRef& ref, const std::vector<int>& values);

// JSON text on one line. Text that is not UTF-8 (a file name, a reason) has
// its bad bytes replaced rather than ending the output.
std::string JsonText(const Json& value);

}  // namespace trax::client
