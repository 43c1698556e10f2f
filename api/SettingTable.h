// Setting items addressed by the exported setters and getters. Every setting
// is one row: its address, its argument ranges, and the items it writes or
// reads with their encoding. One setter sequence and one getter sequence run
// every row; the exported functions only pass their row and their arguments.
#pragma once

#include <cstdint>

#include "protocol/Command.h"

namespace trax::api {

constexpr uint8_t kNoArgument = 0xFF;
constexpr int kMaxArguments = 6;  // head, selector and four values
constexpr int kMaxFields = 4;
constexpr int kMaxSteps = 3;
// Longest text an item carries: four "%+07d" fields and their three commas.
constexpr int kLongestText = 31;
static_assert(kLongestText <= protocol::kMaxSettingData, "every item fits one setting write");

// One number inside an item's text, or the single byte of a byte item.
struct Field {
    uint8_t argument;  // index into the call's arguments (head included)
    uint8_t offset;    // where its read-back starts, from the first data byte
    uint8_t end;       // the character after it in the read-back
};

enum StepUse : uint8_t { StepWrite = 1, StepRead = 2, StepWriteRead = StepWrite | StepRead };

// One item of a row. A null format means one data byte holding fields[0].
struct Step {
    uint8_t item;
    uint8_t itemArgument;  // added to item when set (the scaling selector)
    uint8_t use;
    const char* format;  // given the fields' values in order
    uint8_t length;      // bytes written; a text must format to exactly this
    bool removePoints;   // the read-back may carry a decimal point
    uint8_t fieldCount;
    Field fields[kMaxFields];
};

struct Range {
    int32_t low;
    int32_t high;
};

struct SettingRow {
    uint8_t category;
    bool headArgument;  // argument 0 is the head; otherwise headByte is sent
    uint8_t headByte;
    uint8_t argumentCount;
    uint8_t inputCount;  // leading arguments a getter takes by value
    Range ranges[kMaxArguments];
    uint8_t notAboveLow, notAboveHigh;  // arguments that must keep this order
    uint8_t stepCount;
    Step steps[kMaxSteps];
};

enum class Setting {
    PanelLock,
    ProgramNo,
    AbleMode,
    AbleMinMax,
    MeasureMode,
    NumAlarm,
    AlarmLevel,
    ReflectionMode,
    CalcMethod,
    Scaling,
    FilterMode,
    Average,
    CutOffFrequency,
    CalcMode,
    TriggerMode,
    Offset,
    DisplayUnit,
    AnalogScaling,
    AnalogThrough,
    Tolerance,
    SamplingCycle,
    MutualInterferencePrevention,
    TimingSynchronization,
    ToleranceComparatorOutputFormat,
    StorobeTime,
    DataStorage,
    Count
};

const SettingRow& RowOf(Setting setting);

// The arguments of one exported call, in its order: plain ints are inputs,
// pointers are the getter's outputs.
struct CallArguments {
    int32_t values[kMaxArguments] = {};
    int* outputs[kMaxArguments] = {};
    int valueCount = 0;
    int outputCount = 0;

    void Add(int value) {
        if (valueCount < kMaxArguments) values[valueCount] = value;
        ++valueCount;
    }
    void Add(int* output) {
        if (outputCount < kMaxArguments) outputs[outputCount] = output;
        ++outputCount;
    }
};

[[nodiscard]] int WriteRow(const SettingRow& row, const CallArguments& call);
[[nodiscard]] int ReadRow(const SettingRow& row, const CallArguments& call);

// The data of one item write. Encoding fails when a text does not come out at
// exactly the step's length, which would shift every field after it.
struct EncodedStep {
    uint8_t data[kLongestText + 1];
    int32_t length;
};
[[nodiscard]] bool EncodeStep(const Step& step, const int32_t* values, EncodedStep* out);

// Parses one item read from `reply` into the outputs, indexed like the call's
// arguments. Fails, without looking past the received bytes, when the reply
// ends inside one of the step's fields.
[[nodiscard]] bool DecodeStep(const Step& step, protocol::Reply& reply, int* const* outputs, bool skipNullOutputs);

template <typename... Arguments>
int SetSetting(Setting setting, Arguments... arguments) {
    CallArguments call;
    (call.Add(arguments), ...);
    return WriteRow(RowOf(setting), call);
}

template <typename... Arguments>
int GetSetting(Setting setting, Arguments... arguments) {
    CallArguments call;
    (call.Add(arguments), ...);
    return ReadRow(RowOf(setting), call);
}

}  // namespace trax::api
