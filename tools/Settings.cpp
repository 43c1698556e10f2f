#include "Settings.h"

#include <trax.h>

#include "Cli.h"

namespace traxctl {

namespace {

constexpr int kBig = 999999;

// Shorthands for the rows below; v is the values array in field order.
#define HEAD1(fn) \
    [](int h, const int* v) { return TRAX_Set##fn(h, v[0]); }, [](int h, int* v) { return TRAX_Get##fn(h, v); }
#define SYS1(fn) [](int, const int* v) { return TRAX_Set##fn(v[0]); }, [](int, int* v) { return TRAX_Get##fn(v); }
#define NAMES(fn) "TRAX_Set" #fn, "TRAX_Get" #fn

// clang-format off
const std::vector<Setting> kSettings = {
    // Head settings.
    {"able-mode", Scope::Head, 1, {{"able-mode", 0, 1}}, NAMES(AbleMode), HEAD1(AbleMode), "Able mode", false},
    {"able-min-max", Scope::Head, 2, {{"min", 1, 99}, {"max", 1, 99}}, NAMES(AbleMinMax),
     [](int h, const int* v) { return TRAX_SetAbleMinMax(h, v[0], v[1]); },
     [](int h, int* v) { return TRAX_GetAbleMinMax(h, &v[0], &v[1]); }, "Able limits, min <= max", true},
    {"measure-mode", Scope::Head, 1, {{"measure-mode", 0, 4}}, NAMES(MeasureMode), HEAD1(MeasureMode),
     "measurement mode", false},
    {"num-alarm", Scope::Head, 1, {{"num-alarm", 0, 999}}, NAMES(NumAlarm), HEAD1(NumAlarm), "alarm count", false},
    {"alarm-level", Scope::Head, 1, {{"alarm-level", 0, 9}}, NAMES(AlarmLevel), HEAD1(AlarmLevel), "alarm level",
     false},
    {"reflection-mode", Scope::Head, 1, {{"reflection-mode", 0, 1}}, NAMES(ReflectionMode), HEAD1(ReflectionMode),
     "reflection mode", false},
    {"calc-method", Scope::Head, 2, {{"method", 0, 5}, {"parameter", 0, 9}}, NAMES(CalcMethod),
     [](int h, const int* v) { return TRAX_SetCalcMethod(h, v[0], v[1]); },
     [](int h, int* v) { return TRAX_GetCalcMethod(h, &v[0], &v[1]); }, "calculation method and its parameter",
     false},
    {"scaling-0", Scope::Head, 4, {{"value1", -kBig, kBig}, {"value2", -kBig, kBig}, {"value3", -kBig, kBig},
                                    {"value4", -kBig, kBig}}, NAMES(Scaling),
     [](int h, const int* v) { return TRAX_SetScaling(h, 0, v[0], v[1], v[2], v[3]); },
     [](int h, int* v) { return TRAX_GetScaling(h, 0, &v[0], &v[1], &v[2], &v[3]); }, "scaling set 0", false},
    {"scaling-1", Scope::Head, 4, {{"value1", -kBig, kBig}, {"value2", -kBig, kBig}, {"value3", -kBig, kBig},
                                    {"value4", -kBig, kBig}}, NAMES(Scaling),
     [](int h, const int* v) { return TRAX_SetScaling(h, 1, v[0], v[1], v[2], v[3]); },
     [](int h, int* v) { return TRAX_GetScaling(h, 1, &v[0], &v[1], &v[2], &v[3]); }, "scaling set 1", false},
    {"filter-mode", Scope::Head, 1, {{"filter-mode", 0, 2}}, NAMES(FilterMode), HEAD1(FilterMode), "filter mode",
     false},
    {"average", Scope::Head, 1, {{"average", 0, 9}}, NAMES(Average), HEAD1(Average), "averaging code", false},
    {"cut-off-frequency", Scope::Head, 1, {{"cut-off-frequency", 0, 8}}, NAMES(CutOffFrequency),
     HEAD1(CutOffFrequency), "cut-off frequency code", false},
    {"calc-mode", Scope::Head, 1, {{"calc-mode", 0, 5}}, NAMES(CalcMode), HEAD1(CalcMode), "calculation mode",
     false},
    {"trigger-mode", Scope::Head, 1, {{"trigger-mode", 0, 1}}, NAMES(TriggerMode), HEAD1(TriggerMode),
     "trigger mode", false},
    {"offset", Scope::Head, 1, {{"offset", -kBig, kBig}}, NAMES(Offset), HEAD1(Offset), "offset", false},
    {"display-unit", Scope::Head, 1, {{"display-unit", 0, 5}}, NAMES(DisplayUnit), HEAD1(DisplayUnit),
     "display unit and resolution of the values", false},
    {"analog-scaling", Scope::Head, 4, {{"value1", -kBig, kBig}, {"value2", -99999, 99999},
                                         {"value3", -kBig, kBig}, {"value4", -99999, 99999}}, NAMES(AnalogScaling),
     [](int h, const int* v) { return TRAX_SetAnalogScaling(h, v[0], v[1], v[2], v[3]); },
     [](int h, int* v) { return TRAX_GetAnalogScaling(h, &v[0], &v[1], &v[2], &v[3]); }, "analog output scaling",
     false},
    {"analog-through", Scope::Head, 1, {{"analog-through", 0, 1}}, NAMES(AnalogThrough), HEAD1(AnalogThrough),
     "analog through", false},
    {"tolerance", Scope::Head, 3, {{"value1", -kBig, kBig}, {"value2", -kBig, kBig}, {"value3", 0, kBig}},
     NAMES(Tolerance), [](int h, const int* v) { return TRAX_SetTolerance(h, v[0], v[1], v[2]); },
     [](int h, int* v) { return TRAX_GetTolerance(h, &v[0], &v[1], &v[2]); }, "tolerance limits and third value",
     false},

    // Controller-wide settings.
    {"sampling-cycle", Scope::Controller, 1, {{"sampling-cycle", 0, 5}}, NAMES(SamplingCycle), SYS1(SamplingCycle),
     "sampling cycle code", false},
    {"mutual-interference-prevention", Scope::Controller, 1, {{"prevention", 0, 1}},
     NAMES(MutualInterferencePrevention), SYS1(MutualInterferencePrevention), "mutual interference prevention",
     false},
    {"timing-synchronization", Scope::Controller, 1, {{"synchronization", 0, 1}}, NAMES(TimingSynchronization),
     SYS1(TimingSynchronization), "timing synchronisation", false},
    {"tolerance-output-format", Scope::Controller, 1, {{"output-format", 0, 2}},
     NAMES(ToleranceComparatorOutputFormat), SYS1(ToleranceComparatorOutputFormat),
     "tolerance comparator output format", false},
    {"strobe-time", Scope::Controller, 1, {{"strobe-time", 0, 3}}, NAMES(StorobeTime), SYS1(StorobeTime),
     "strobe time code", false},
    {"storage", Scope::Controller, 3, {{"target", 0, 3}, {"count", 1, 65536}, {"cycle", 0, 9}},
     "TRAX_SetDataStorage", "TRAX_GetDataStorage",
     [](int, const int* v) { return TRAX_SetDataStorage(v[0], v[1], v[2]); },
     [](int, int* v) { return TRAX_GetDataStorage(&v[0], &v[1], &v[2]); }, "data storage target, count, cycle",
     false},
    {"panel", Scope::Controller, 1, {{"panel", 0, 2}}, NAMES(Panel), SYS1(Panel), "panel: 0 A, 1 B, 2 both",
     false},
    {"program", Scope::Controller, 1, {{"program", 0, 7}}, "TRAX_SetProgramNo", "TRAX_GetProgramNo",
     SYS1(ProgramNo), "program number", false},
    {"panel-lock", Scope::Controller, 1, {{"locked", 0, 1}}, "TRAX_SetPanelLock", nullptr,
     [](int, const int* v) { return TRAX_SetPanelLock(v[0]); }, nullptr, "panel lock (write-only)", false},
};
// clang-format on

#undef HEAD1
#undef SYS1
#undef NAMES

}  // namespace

const std::vector<Setting>& SettingTable() { return kSettings; }

const Setting* FindSetting(const std::string& name) {
    for (const Setting& s : kSettings) {
        if (name == s.name) return &s;
    }
    return nullptr;
}

std::vector<int> ParseSettingValues(const Setting& s, const std::vector<std::string>& words) {
    if (words.size() != static_cast<size_t>(s.arity)) {
        std::string names;
        for (int i = 0; i < s.arity; ++i) names += std::string(i ? " " : "") + s.fields[i].name;
        throw UsageError{std::string(s.name) + " takes " + std::to_string(s.arity) + " value" +
                         (s.arity > 1 ? "s" : "") + " (" + names + "), got " + std::to_string(words.size())};
    }
    std::vector<int> values;
    for (int i = 0; i < s.arity; ++i) {
        const Field& f = s.fields[i];
        std::string what = s.arity == 1 ? std::string(s.name) : std::string(s.name) + " " + f.name;
        values.push_back(ParseInt(words[i], f.low, f.high, what));
    }
    if (s.ordered && values[0] > values[1]) {
        throw UsageError{std::string(s.name) + ": " + s.fields[0].name + " " + std::to_string(values[0]) +
                         " is above " + s.fields[1].name + " " + std::to_string(values[1])};
    }
    return values;
}

}  // namespace traxctl
