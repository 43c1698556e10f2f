#include "Units.h"

namespace traxctl {

DisplayUnit LookUpUnit(UnitSystem system, int code) {
    static const DisplayUnit kMetric[6] = {{"mm", 2}, {"mm", 3}, {"mm", 4}, {"mm", 5}, {"um", 1}, {"um", 2}};
    static const DisplayUnit kInch[6] = {{"inch", 4}, {"inch", 5}, {"mil", 1}, {"mil", 2}, {"mil", 3}, {"mil", 4}};
    if (code < 0 || code > 5 || system == UnitSystem::Unknown) return {"", -1};
    return system == UnitSystem::Inch ? kInch[code] : kMetric[code];
}

std::string FormatValue(const FloatValue& v, const DisplayUnit& unit) {
    switch (v.status) {
    case TRAX_VALUE_VALID:
        return FloatText(v.value, unit.decimals);
    case TRAX_VALUE_OVER_POSITIVE:
        return "+over";
    case TRAX_VALUE_OVER_NEGATIVE:
        return "-over";
    default:
        return "invalid";
    }
}

std::string StatusName(int status) {
    switch (status) {
    case TRAX_VALUE_VALID:
        return "valid";
    case TRAX_VALUE_OVER_POSITIVE:
        return "over+";
    case TRAX_VALUE_OVER_NEGATIVE:
        return "over-";
    case TRAX_VALUE_INVALID:
        return "invalid";
    default:
        return "status " + std::to_string(status);
    }
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
    if (!unit.name.empty() || said || ctx.json) return;
    said = true;
    ctx.err << "traxctl: the unit of the values is not known; name it with --unit mm|um|inch|mil, or read it with "
               "--read-unit --units metric|inch (switches the controller to setting mode and back)\n";
}

}  // namespace traxctl
