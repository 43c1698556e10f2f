#include "Units.h"

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
