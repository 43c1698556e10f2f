// The per-head and system setting functions: each is its row of the setting
// table, run by the one setter or getter sequence.
#include "api/CallFrame.h"
#include "api/SettingTable.h"
#include "trace/Trace.h"
#include "trax.h"

using trax::api::GetSetting;
using trax::api::SetSetting;
using S = trax::api::Setting;

// The setter and getter of a setting with one value, per head or for the
// whole controller; the value's name is the one the trace log shows.
#define HEAD_SETTING(Name, value)                      \
    TRAX_EXPORT TRAX_Set##Name(int head, int value) {  \
        TRAX_TRACE_CALL(head, value);                  \
        return SetSetting(S::Name, head, value);       \
    }                                                  \
    TRAX_EXPORT TRAX_Get##Name(int head, int* value) { \
        TRAX_TRACE_CALL(head, value);                  \
        return GetSetting(S::Name, head, value);       \
    }
#define SYSTEM_SETTING(Name, value)          \
    TRAX_EXPORT TRAX_Set##Name(int value) {  \
        TRAX_TRACE_CALL(value);              \
        return SetSetting(S::Name, value);   \
    }                                        \
    TRAX_EXPORT TRAX_Get##Name(int* value) { \
        TRAX_TRACE_CALL(value);              \
        return GetSetting(S::Name, value);   \
    }

HEAD_SETTING(AbleMode, ableMode)
HEAD_SETTING(MeasureMode, measureMode)
HEAD_SETTING(NumAlarm, numAlarm)
HEAD_SETTING(AlarmLevel, alarmLevel)
HEAD_SETTING(ReflectionMode, reflectionMode)
TRAX_EXPORT TRAX_SetAbleMinMax(int head, int min, int max) {
    TRAX_TRACE_CALL(head, min, max);
    return SetSetting(S::AbleMinMax, head, min, max);
}
TRAX_EXPORT TRAX_GetAbleMinMax(int head, int* min, int* max) {
    TRAX_TRACE_CALL(head, min, max);
    return GetSetting(S::AbleMinMax, head, min, max);
}
TRAX_EXPORT TRAX_SetCalcMethod(int head, int method, int parameter) {
    TRAX_TRACE_CALL(head, method, parameter);
    return SetSetting(S::CalcMethod, head, method, parameter);
}
TRAX_EXPORT TRAX_GetCalcMethod(int head, int* method, int* parameter) {
    TRAX_TRACE_CALL(head, method, parameter);
    return GetSetting(S::CalcMethod, head, method, parameter);
}
TRAX_EXPORT TRAX_SetScaling(int head, int selector, int value1, int value2, int value3, int value4) {
    TRAX_TRACE_CALL(head, selector, value1, value2, value3, value4);
    return SetSetting(S::Scaling, head, selector, value1, value2, value3, value4);
}
TRAX_EXPORT TRAX_GetScaling(int head, int selector, int* value1, int* value2, int* value3, int* value4) {
    TRAX_TRACE_CALL(head, selector, value1, value2, value3, value4);
    return GetSetting(S::Scaling, head, selector, value1, value2, value3, value4);
}
HEAD_SETTING(FilterMode, filterMode)
HEAD_SETTING(Average, average)
HEAD_SETTING(CutOffFrequency, cutOffFrequency)
HEAD_SETTING(CalcMode, calcMode)
HEAD_SETTING(TriggerMode, triggerMode)
HEAD_SETTING(Offset, offset)
HEAD_SETTING(DisplayUnit, displayUnit)
TRAX_EXPORT TRAX_SetAnalogScaling(int head, int value1, int value2, int value3, int value4) {
    TRAX_TRACE_CALL(head, value1, value2, value3, value4);
    return SetSetting(S::AnalogScaling, head, value1, value2, value3, value4);
}
TRAX_EXPORT TRAX_GetAnalogScaling(int head, int* value1, int* value2, int* value3, int* value4) {
    TRAX_TRACE_CALL(head, value1, value2, value3, value4);
    return GetSetting(S::AnalogScaling, head, value1, value2, value3, value4);
}
HEAD_SETTING(AnalogThrough, analogThrough)
TRAX_EXPORT TRAX_SetTolerance(int head, int value1, int value2, int value3) {
    TRAX_TRACE_CALL(head, value1, value2, value3);
    return SetSetting(S::Tolerance, head, value1, value2, value3);
}
TRAX_EXPORT TRAX_GetTolerance(int head, int* value1, int* value2, int* value3) {
    TRAX_TRACE_CALL(head, value1, value2, value3);
    return GetSetting(S::Tolerance, head, value1, value2, value3);
}

SYSTEM_SETTING(SamplingCycle, samplingCycle)
SYSTEM_SETTING(MutualInterferencePrevention, prevention)
SYSTEM_SETTING(TimingSynchronization, synchronization)
SYSTEM_SETTING(ToleranceComparatorOutputFormat, outputFormat)
SYSTEM_SETTING(StorobeTime, storobeTime)
