#include "ValueText.h"

#include <trax.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace trax::client {

std::string ValueText(float value, int minDecimals) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // The widest fixed-point text a float32 can need is 149 decimals (the
    // smallest subnormal); values from the controller need at most 9.
    char text[256];
    for (int decimals = minDecimals < 0 ? 0 : minDecimals; decimals <= 150; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) break;
    }
    // "-0" and "-0.00" carry no information a reader wants; zero has no sign here.
    std::string out = text;
    if (out[0] == '-' && std::strtof(text, nullptr) == 0.0f) out.erase(0, 1);
    return out;
}

DisplayUnit LookUpUnit(UnitSystem system, int code) {
    static const DisplayUnit kMetric[6] = {{"mm", 2}, {"mm", 3}, {"mm", 4}, {"mm", 5}, {"um", 1}, {"um", 2}};
    static const DisplayUnit kInch[6] = {{"inch", 4}, {"inch", 5}, {"mil", 1}, {"mil", 2}, {"mil", 3}, {"mil", 4}};
    if (code < 0 || code > 5 || system == UnitSystem::Unknown) return {"", -1};
    return system == UnitSystem::Inch ? kInch[code] : kMetric[code];
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

std::chrono::system_clock::time_point WallClockNow() {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        errno = 0;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (errno == 0 && end != epoch && *end == '\0' && seconds >= 0 && seconds < 253402300800LL) {
            return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
        }
    }
    return std::chrono::system_clock::now();
}

std::string IsoTime(std::chrono::system_clock::time_point when, bool milliseconds) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    if (milliseconds)
        std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(((ms % 1000) + 1000) % 1000));
    else
        std::snprintf(text + n, sizeof text - n, "Z");
    return text;
}

}  // namespace trax::client
