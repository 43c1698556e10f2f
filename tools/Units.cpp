#include "Units.h"

#include "client/LibraryLoader.h"

namespace traxctl {

std::string FormatValue(const FloatValue& v, const DisplayUnit& unit) {
    switch (v.status) {
    case TRAX_VALUE_VALID:
        return FloatText(v.value, unit.decimals);
    case TRAX_VALUE_OVER_POSITIVE:
        return "over+";
    case TRAX_VALUE_OVER_NEGATIVE:
        return "over-";
    default:
        return "invalid";
    }
}

std::string CsvCells(const FloatValue& v, const DisplayUnit& unit) {
    return StatusName(v.status) + "," + (v.status == TRAX_VALUE_VALID ? FormatValue(v, unit) : "") + "," + unit.name;
}

std::string StorageCsv(int head, const DisplayUnit& unit, const FloatValue* values, int count, const std::string& start,
                       const std::string& stop, const std::string& samplingCycle) {
    // What the values alone do not say, as comment lines before the header.
    auto known = [](const std::string& text) { return text.empty() ? std::string("not known") : text; };
    std::string text = std::string("# head: ") + HeadName(head) + "\n# unit: " + known(unit.name) +
                       "\n# count: " + std::to_string(count) + "\n# start: " + known(start) +
                       "\n# stop: " + known(stop) + "\n# sampling-cycle: " + known(samplingCycle) +
                       "\nindex,status,value,unit\n";
    for (int i = 0; i < count; ++i) {
        text += std::to_string(i) + "," + CsvCells(values[i], unit) + "\n";
    }
    return text;
}

void WriteValue(JsonWriter& json, const FloatValue& v, const DisplayUnit& unit, bool withUnit) {
    json.BeginObject().Key("status").String(StatusName(v.status)).Key("value");
    if (v.status == TRAX_VALUE_VALID)
        json.Number(v.value, unit.decimals);
    else
        json.Null();
    if (withUnit) WriteUnit(json.Key("unit"), unit);
    json.EndObject();
}

void WriteUnit(JsonWriter& json, const DisplayUnit& unit) {
    if (unit.name.empty())
        json.Null();
    else
        json.String(unit.name);
}

DisplayUnit UnitOf(const Context& ctx, int head) {
    if (!ctx.units.name.empty()) return {ctx.units.name, -1};
    if (!ctx.units.readCode) return {"", -1};
    if (ctx.units.system == UnitSystem::Unknown) {
        throw UsageError{"--read-unit needs --units metric|inch: the library does not report the unit system"};
    }
    int code = 0;
    TRAXCTL_CALL(TRAX_GetDisplayUnit, head, &code);
    return LookUpUnit(ctx.units.system, code);
}

void SayUnitNotKnown(const Context& ctx, const DisplayUnit& unit) {
    static bool said = false;
    // A batch's check of its lines says nothing; the run says it once.
    if (!unit.name.empty() || said || ctx.json || trax::client::CallsHeld()) return;
    said = true;
    ctx.err << "traxctl: unit not known (name it: --unit mm|um|inch|mil, or TRAX_UNIT)\n";
}

}  // namespace traxctl
