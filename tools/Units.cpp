#include "Units.h"

#include <cstdio>

namespace traxctl {

DisplayUnit LookUpUnit(UnitSystem system, int code) {
    static const DisplayUnit kMetric[6] = {{"mm", 2}, {"mm", 3}, {"mm", 4}, {"mm", 5}, {"um", 1}, {"um", 2}};
    static const DisplayUnit kInch[6] = {{"inch", 4}, {"inch", 5}, {"mil", 1}, {"mil", 2}, {"mil", 3}, {"mil", 4}};
    if (code < 0 || code > 5) return {"", 6};
    return system == UnitSystem::Inch ? kInch[code] : kMetric[code];
}

std::string FormatValue(const FloatValue& v, const DisplayUnit& unit) {
    switch (v.status) {
    case TRAX_VALUE_VALID: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", unit.decimals, static_cast<double>(v.value));
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

DisplayUnit ReadUnit(const Context& ctx, int head) {
    int code = 0;
    TRAXCTL_CALL(TRAX_GetDisplayUnit, head, &code);
    return LookUpUnit(ctx.units, code);
}

}  // namespace traxctl
