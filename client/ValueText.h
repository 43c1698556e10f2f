// Measured values as text that never loses a digit. The library hands out
// float32 values already rounded to the display resolution; the unit table
// says how many decimals that resolution has. When the unit is not known, or
// the user named the wrong one, those decimals can be too few, so the text
// carries as many more as the float needs to read back as the same float.
#pragma once

#include <chrono>
#include <string>

namespace trax::client {

// Fixed-point text of `value` with at least `minDecimals` decimals (none when
// negative) and as many more as it takes for the text to read back as the
// same float32. NaN and infinities are "nan", "inf", "-inf".
std::string ValueText(float value, int minDecimals);

// Decimals of a display-unit code in a unit system, as the unit table gives
// them: metric mm 2..5, um 1..2; inch 4..5, mil 1..4. -1 when the code is not
// 0..5 or the system is not known.
enum class UnitSystem { Unknown, Metric, Inch };
struct DisplayUnit {
    std::string name;  // "mm", "um", "inch", "mil"; "" when not known
    int decimals;      // -1: as many as the value needs, no more
};
DisplayUnit LookUpUnit(UnitSystem system, int code);

// The over-range and invalid markers, one spelling for text, JSON and CSV.
// status is a TRAX_VALUE_* code; unknown codes give "status N".
std::string StatusName(int status);

// UTC time, ISO 8601, with milliseconds ("2026-12-09T05:10:00.123Z") or
// whole seconds ("2026-12-09T05:10:00Z").
std::string IsoTime(std::chrono::system_clock::time_point when, bool milliseconds = true);
// The time stamped into files: now, or SOURCE_DATE_EPOCH (seconds since 1970,
// the common convention for reproducible output) when it is set, so that a
// replayed run writes the same files as the recorded one.
std::chrono::system_clock::time_point WallClockNow();

}  // namespace trax::client
