#include "Units.h"

#include <cstdio>
#include <cstdlib>

namespace traxctl {

DisplayUnit LookUpUnit(UnitSystem system, int code) {
    static const DisplayUnit kMetric[6] = {{"mm", 2}, {"mm", 3}, {"mm", 4}, {"mm", 5}, {"um", 1}, {"um", 2}};
    static const DisplayUnit kInch[6] = {{"inch", 4}, {"inch", 5}, {"mil", 1}, {"mil", 2}, {"mil", 3}, {"mil", 4}};
    if (code < 0 || code > 5 || system == UnitSystem::Unknown) return {"", -1};
    return system == UnitSystem::Inch ? kInch[code] : kMetric[code];
}

std::string FormatValue(const FloatValue& v, const DisplayUnit& unit) {
    switch (v.status) {
    case TRAX_VALUE_VALID: {
        char buf[64];
        if (unit.decimals >= 0) {
            std::snprintf(buf, sizeof buf, "%.*f", unit.decimals, static_cast<double>(v.value));
            return buf;
        }
        // The shortest text that reads back as the same single-precision value.
        for (int digits = 1; digits <= 9; ++digits) {
            std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v.value));
            if (std::strtof(buf, nullptr) == v.value) break;
        }
        return buf;
    }
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

std::string ValueJson(const FloatValue& v, const DisplayUnit& unit) {
    std::string value = v.status == TRAX_VALUE_VALID ? FormatValue(v, unit) : "null";
    return "{\"status\":" + JsonString(StatusName(v.status)) + ",\"value\":" + value + "}";
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
