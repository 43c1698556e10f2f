// The per-head and system setting functions: each is its row of the setting
// table, run by the one setter or getter sequence.
#include "api/SettingTable.h"
#include "trace/Trace.h"
#include "trax.h"

using trax::api::GetSetting;
using trax::api::SetSetting;
using S = trax::api::Setting;

#define TRAX_EXPORT extern "C" TRAX_API int TRAX_CALL

TRAX_EXPORT TRAX_SetAbleMode(int head, int ableMode) {
    TRAX_TRACE_CALL(head, ableMode);
    return SetSetting(S::AbleMode, head, ableMode);
}
TRAX_EXPORT TRAX_GetAbleMode(int head, int* ableMode) {
    TRAX_TRACE_CALL(head, ableMode);
    return GetSetting(S::AbleMode, head, ableMode);
}
TRAX_EXPORT TRAX_SetMeasureMode(int head, int measureMode) {
    TRAX_TRACE_CALL(head, measureMode);
    return SetSetting(S::MeasureMode, head, measureMode);
}
TRAX_EXPORT TRAX_GetMeasureMode(int head, int* measureMode) {
    TRAX_TRACE_CALL(head, measureMode);
    return GetSetting(S::MeasureMode, head, measureMode);
}
TRAX_EXPORT TRAX_SetNumAlarm(int head, int numAlarm) {
    TRAX_TRACE_CALL(head, numAlarm);
    return SetSetting(S::NumAlarm, head, numAlarm);
}
TRAX_EXPORT TRAX_GetNumAlarm(int head, int* numAlarm) {
    TRAX_TRACE_CALL(head, numAlarm);
    return GetSetting(S::NumAlarm, head, numAlarm);
}
TRAX_EXPORT TRAX_SetAlarmLevel(int head, int alarmLevel) {
    TRAX_TRACE_CALL(head, alarmLevel);
    return SetSetting(S::AlarmLevel, head, alarmLevel);
}
TRAX_EXPORT TRAX_GetAlarmLevel(int head, int* alarmLevel) {
    TRAX_TRACE_CALL(head, alarmLevel);
    return GetSetting(S::AlarmLevel, head, alarmLevel);
}
TRAX_EXPORT TRAX_SetReflectionMode(int head, int reflectionMode) {
    TRAX_TRACE_CALL(head, reflectionMode);
    return SetSetting(S::ReflectionMode, head, reflectionMode);
}
TRAX_EXPORT TRAX_GetReflectionMode(int head, int* reflectionMode) {
    TRAX_TRACE_CALL(head, reflectionMode);
    return GetSetting(S::ReflectionMode, head, reflectionMode);
}
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
TRAX_EXPORT TRAX_SetFilterMode(int head, int filterMode) {
    TRAX_TRACE_CALL(head, filterMode);
    return SetSetting(S::FilterMode, head, filterMode);
}
TRAX_EXPORT TRAX_GetFilterMode(int head, int* filterMode) {
    TRAX_TRACE_CALL(head, filterMode);
    return GetSetting(S::FilterMode, head, filterMode);
}
TRAX_EXPORT TRAX_SetAverage(int head, int average) {
    TRAX_TRACE_CALL(head, average);
    return SetSetting(S::Average, head, average);
}
TRAX_EXPORT TRAX_GetAverage(int head, int* average) {
    TRAX_TRACE_CALL(head, average);
    return GetSetting(S::Average, head, average);
}
TRAX_EXPORT TRAX_SetCutOffFrequency(int head, int cutOffFrequency) {
    TRAX_TRACE_CALL(head, cutOffFrequency);
    return SetSetting(S::CutOffFrequency, head, cutOffFrequency);
}
TRAX_EXPORT TRAX_GetCutOffFrequency(int head, int* cutOffFrequency) {
    TRAX_TRACE_CALL(head, cutOffFrequency);
    return GetSetting(S::CutOffFrequency, head, cutOffFrequency);
}
TRAX_EXPORT TRAX_SetCalcMode(int head, int calcMode) {
    TRAX_TRACE_CALL(head, calcMode);
    return SetSetting(S::CalcMode, head, calcMode);
}
TRAX_EXPORT TRAX_GetCalcMode(int head, int* calcMode) {
    TRAX_TRACE_CALL(head, calcMode);
    return GetSetting(S::CalcMode, head, calcMode);
}
TRAX_EXPORT TRAX_SetTriggerMode(int head, int triggerMode) {
    TRAX_TRACE_CALL(head, triggerMode);
    return SetSetting(S::TriggerMode, head, triggerMode);
}
TRAX_EXPORT TRAX_GetTriggerMode(int head, int* triggerMode) {
    TRAX_TRACE_CALL(head, triggerMode);
    return GetSetting(S::TriggerMode, head, triggerMode);
}
TRAX_EXPORT TRAX_SetOffset(int head, int offset) {
    TRAX_TRACE_CALL(head, offset);
    return SetSetting(S::Offset, head, offset);
}
TRAX_EXPORT TRAX_GetOffset(int head, int* offset) {
    TRAX_TRACE_CALL(head, offset);
    return GetSetting(S::Offset, head, offset);
}
TRAX_EXPORT TRAX_SetDisplayUnit(int head, int displayUnit) {
    TRAX_TRACE_CALL(head, displayUnit);
    return SetSetting(S::DisplayUnit, head, displayUnit);
}
TRAX_EXPORT TRAX_GetDisplayUnit(int head, int* displayUnit) {
    TRAX_TRACE_CALL(head, displayUnit);
    return GetSetting(S::DisplayUnit, head, displayUnit);
}
TRAX_EXPORT TRAX_SetAnalogScaling(int head, int value1, int value2, int value3, int value4) {
    TRAX_TRACE_CALL(head, value1, value2, value3, value4);
    return SetSetting(S::AnalogScaling, head, value1, value2, value3, value4);
}
TRAX_EXPORT TRAX_GetAnalogScaling(int head, int* value1, int* value2, int* value3, int* value4) {
    TRAX_TRACE_CALL(head, value1, value2, value3, value4);
    return GetSetting(S::AnalogScaling, head, value1, value2, value3, value4);
}
TRAX_EXPORT TRAX_SetAnalogThrough(int head, int analogThrough) {
    TRAX_TRACE_CALL(head, analogThrough);
    return SetSetting(S::AnalogThrough, head, analogThrough);
}
TRAX_EXPORT TRAX_GetAnalogThrough(int head, int* analogThrough) {
    TRAX_TRACE_CALL(head, analogThrough);
    return GetSetting(S::AnalogThrough, head, analogThrough);
}
TRAX_EXPORT TRAX_SetTolerance(int head, int value1, int value2, int value3) {
    TRAX_TRACE_CALL(head, value1, value2, value3);
    return SetSetting(S::Tolerance, head, value1, value2, value3);
}
TRAX_EXPORT TRAX_GetTolerance(int head, int* value1, int* value2, int* value3) {
    TRAX_TRACE_CALL(head, value1, value2, value3);
    return GetSetting(S::Tolerance, head, value1, value2, value3);
}

TRAX_EXPORT TRAX_SetSamplingCycle(int samplingCycle) {
    TRAX_TRACE_CALL(samplingCycle);
    return SetSetting(S::SamplingCycle, samplingCycle);
}
TRAX_EXPORT TRAX_GetSamplingCycle(int* samplingCycle) {
    TRAX_TRACE_CALL(samplingCycle);
    return GetSetting(S::SamplingCycle, samplingCycle);
}
TRAX_EXPORT TRAX_SetMutualInterferencePrevention(int prevention) {
    TRAX_TRACE_CALL(prevention);
    return SetSetting(S::MutualInterferencePrevention, prevention);
}
TRAX_EXPORT TRAX_GetMutualInterferencePrevention(int* prevention) {
    TRAX_TRACE_CALL(prevention);
    return GetSetting(S::MutualInterferencePrevention, prevention);
}
TRAX_EXPORT TRAX_SetTimingSynchronization(int synchronization) {
    TRAX_TRACE_CALL(synchronization);
    return SetSetting(S::TimingSynchronization, synchronization);
}
TRAX_EXPORT TRAX_GetTimingSynchronization(int* synchronization) {
    TRAX_TRACE_CALL(synchronization);
    return GetSetting(S::TimingSynchronization, synchronization);
}
TRAX_EXPORT TRAX_SetToleranceComparatorOutputFormat(int outputFormat) {
    TRAX_TRACE_CALL(outputFormat);
    return SetSetting(S::ToleranceComparatorOutputFormat, outputFormat);
}
TRAX_EXPORT TRAX_GetToleranceComparatorOutputFormat(int* outputFormat) {
    TRAX_TRACE_CALL(outputFormat);
    return GetSetting(S::ToleranceComparatorOutputFormat, outputFormat);
}
TRAX_EXPORT TRAX_SetStorobeTime(int storobeTime) {
    TRAX_TRACE_CALL(storobeTime);
    return SetSetting(S::StorobeTime, storobeTime);
}
TRAX_EXPORT TRAX_GetStorobeTime(int* storobeTime) {
    TRAX_TRACE_CALL(storobeTime);
    return GetSetting(S::StorobeTime, storobeTime);
}
