#include "api/SettingTable.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "api/CallFrame.h"

namespace trax::api {

namespace {

constexpr uint8_t kHeadFromArgument = 0xFE;
// Longest read-back field copied for conversion, points included.
constexpr int kMaxFieldCopy = 11;

constexpr Range kHead{0, 1};
constexpr Range kSigned6{-999999, 999999};
// Five digits after the sign is all the controller's narrow fields can carry.
constexpr Range kSigned5{-99999, 99999};

constexpr Step ByteItem(uint8_t item, uint8_t argument, uint8_t use = StepWriteRead) {
    Step step{};
    step.item = item;
    step.itemArgument = kNoArgument;
    step.use = use;
    step.length = 1;
    step.fieldCount = 1;
    step.fields[0] = Field{argument, 0, 0};
    return step;
}

constexpr Step TextItem(uint8_t item, const char* format, uint8_t length, bool removePoints,
                        std::initializer_list<Field> fields, uint8_t use = StepWriteRead) {
    Step step{};
    step.item = item;
    step.itemArgument = kNoArgument;
    step.use = use;
    step.format = format;
    step.length = length;
    step.removePoints = removePoints;
    for (const Field& field : fields) step.fields[step.fieldCount++] = field;
    return step;
}

constexpr Step SelectedBy(Step step, uint8_t argument) {
    step.itemArgument = argument;
    return step;
}

constexpr SettingRow Row(uint8_t category, uint8_t headByte, uint8_t inputCount, std::initializer_list<Range> ranges,
                         std::initializer_list<Step> steps) {
    SettingRow row{};
    row.category = category;
    row.headArgument = headByte == kHeadFromArgument;
    row.headByte = row.headArgument ? 0 : headByte;
    row.inputCount = inputCount;
    for (const Range& range : ranges) row.ranges[row.argumentCount++] = range;
    row.notAboveLow = kNoArgument;
    row.notAboveHigh = kNoArgument;
    for (const Step& step : steps) row.steps[row.stepCount++] = step;
    return row;
}

// Per-head setting with one argument after the head.
constexpr SettingRow HeadByteRow(uint8_t category, uint8_t item, Range range) {
    return Row(category, kHeadFromArgument, 1, {kHead, range}, {ByteItem(item, 1)});
}

constexpr SettingRow SystemRow(uint8_t item, Range range) { return Row(2, 0, 0, {range}, {ByteItem(item, 0)}); }

constexpr SettingRow Ordered(SettingRow row, uint8_t low, uint8_t high) {
    row.notAboveLow = low;
    row.notAboveHigh = high;
    return row;
}

struct Entry {
    Setting setting;
    SettingRow row;
};

// Arguments count from the head (0) where a row has one. Text fields name the
// argument they carry, so "max,min" is written and read in the controller's
// order while the call keeps its own.
constexpr Entry kTable[] = {
    {Setting::PanelLock, Row(3, 0, 0, {{0, 1}}, {ByteItem(5, 0, StepWrite)})},
    {Setting::ProgramNo, Row(4, 0xFF, 0, {{0, 7}}, {ByteItem(0, 0)})},
    {Setting::AbleMode, HeadByteRow(0, 0, {0, 1})},
    {Setting::AbleMinMax, Ordered(Row(0, kHeadFromArgument, 1, {kHead, {1, 99}, {1, 99}},
                                      {TextItem(1, "%02d,%02d", 5, false, {{2, 0, 2}, {1, 3, 5}})}),
                                  1, 2)},
    {Setting::MeasureMode, HeadByteRow(0, 4, {0, 4})},
    {Setting::NumAlarm, Row(0, kHeadFromArgument, 1, {kHead, {0, 999}}, {TextItem(5, "%03d", 3, false, {{1, 0, 3}})})},
    {Setting::AlarmLevel, HeadByteRow(0, 6, {0, 9})},
    {Setting::ReflectionMode, HeadByteRow(0, 10, {0, 1})},
    {Setting::CalcMethod, Row(1, kHeadFromArgument, 1, {kHead, {0, 5}, {0, 9}}, {ByteItem(0, 1), ByteItem(1, 2)})},
    {Setting::Scaling,
     Row(1, kHeadFromArgument, 2, {kHead, {0, 1}, kSigned6, kSigned6, kSigned6, kSigned6},
         {SelectedBy(
             TextItem(2, "%+07d,%+07d,%+07d,%+07d", 31, true, {{2, 0, 8}, {3, 9, 17}, {4, 18, 26}, {5, 27, 35}}), 1)})},
    {Setting::FilterMode, HeadByteRow(1, 4, {0, 2})},
    {Setting::Average, HeadByteRow(1, 5, {0, 9})},
    {Setting::CutOffFrequency, HeadByteRow(1, 6, {0, 8})},
    {Setting::CalcMode, HeadByteRow(1, 7, {0, 5})},
    {Setting::TriggerMode, HeadByteRow(1, 8, {0, 1})},
    {Setting::Offset, Row(1, kHeadFromArgument, 1, {kHead, kSigned6}, {TextItem(9, "%+07d", 7, true, {{1, 0, 8}})})},
    {Setting::DisplayUnit, HeadByteRow(1, 10, {0, 5})},
    {Setting::AnalogScaling,
     Row(1, kHeadFromArgument, 1, {kHead, kSigned6, kSigned5, kSigned6, kSigned5},
         {TextItem(11, "%+07d,%+06d,%+07d,%+06d", 29, true, {{1, 0, 8}, {2, 9, 16}, {3, 17, 25}, {4, 26, 33}})})},
    {Setting::AnalogThrough, HeadByteRow(1, 12, {0, 1})},
    // Item 14 goes to 0 first so that the controller never holds the new
    // limits of item 13 with the old value of item 14.
    {Setting::Tolerance,
     Row(1, kHeadFromArgument, 1, {kHead, kSigned6, kSigned6, {0, 999999}},
         {TextItem(14, "000000", 6, true, {}, StepWrite),
          TextItem(13, "%+07d,%+07d", 15, true, {{1, 0, 8}, {2, 9, 17}}), TextItem(14, "%06d", 6, true, {{3, 0, 7}})})},
    {Setting::SamplingCycle, SystemRow(0, {0, 5})},
    {Setting::MutualInterferencePrevention, SystemRow(1, {0, 1})},
    {Setting::TimingSynchronization, SystemRow(2, {0, 1})},
    {Setting::ToleranceComparatorOutputFormat, SystemRow(3, {0, 2})},
    {Setting::StorobeTime, SystemRow(4, {0, 3})},
    // Storage target, number of values (five digits, up to 65536) and cycle.
    {Setting::DataStorage, Row(2, 0, 0, {{0, 3}, {1, 65536}, {0, 9}},
                               {ByteItem(5, 0), TextItem(6, "%05d", 5, false, {{1, 0, 5}}), ByteItem(7, 2)})},
};

constexpr bool TableInOrder() {
    int index = 0;
    for (const Entry& entry : kTable) {
        if (static_cast<int>(entry.setting) != index++) return false;
    }
    return index == static_cast<int>(Setting::Count);
}
static_assert(TableInOrder(), "setting rows must follow the Setting enumeration");

uint8_t HeadOf(const SettingRow& row, const int32_t* values) {
    return row.headArgument ? protocol::HeadToWire(values[0]) : row.headByte;
}

uint8_t ItemOf(const Step& step, const int32_t* values) {
    const int32_t offset = step.itemArgument == kNoArgument ? 0 : values[step.itemArgument];
    return static_cast<uint8_t>(step.item + offset);
}

bool ArgumentsFit(const SettingRow& row, const int32_t* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (!InRange(values[i], row.ranges[i].low, row.ranges[i].high)) return false;
    }
    if (row.notAboveLow < count && row.notAboveHigh < count && values[row.notAboveLow] > values[row.notAboveHigh]) {
        trace::NoteArgumentOrder(row.notAboveLow, row.notAboveHigh);
        return false;
    }
    return true;
}

bool ShortSetting(const protocol::Reply& reply, int32_t needed) {
    trace::Note(trace::Reason::ReplyTooShort, "%d bytes arrived, the setting's fields need %d, command %u",
                reply.received, needed, protocol::CmdReadSetting);
    return false;
}

int ParseField(char* text, bool removePoints) {
    char copy[kMaxFieldCopy + 1];
    if (removePoints) {
        int length = 0;
        for (int i = 0; i < kMaxFieldCopy && text[i] != '\0'; ++i) {
            if (text[i] != '.') copy[length++] = text[i];
        }
        copy[length] = '\0';
        text = copy;
    }
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

const SettingRow& RowOf(Setting setting) { return kTable[static_cast<int>(setting)].row; }

bool EncodeStep(const Step& step, const int32_t* values, EncodedStep* out) {
    if (step.format == nullptr) {
        out->data[0] = static_cast<uint8_t>(values[step.fields[0].argument]);
        out->length = 1;
        return step.length == 1;
    }
    int32_t fieldValues[kMaxFields] = {};
    for (int i = 0; i < step.fieldCount; ++i) fieldValues[i] = values[step.fields[i].argument];
    char text[sizeof out->data];
    // Unused trailing values are ignored by the formatter.
    const int length =
        std::snprintf(text, sizeof text, step.format, fieldValues[0], fieldValues[1], fieldValues[2], fieldValues[3]);
    if (length != step.length || length > kLongestText) return false;
    for (int i = 0; i < length; ++i) out->data[i] = static_cast<uint8_t>(text[i]);
    out->length = length;
    return true;
}

bool DecodeStep(const Step& step, protocol::Reply& reply, int* const* outputs, bool skipNullOutputs) {
    using protocol::kSettingData;
    uint8_t* data = reply.data + kSettingData;
    if (step.format == nullptr) {
        if (!reply.Has(kSettingData + 1)) return ShortSetting(reply, kSettingData + 1);
        int* output = outputs[step.fields[0].argument];
        if (!(skipNullOutputs && output == nullptr)) *output = data[0];
        return true;
    }
    int32_t lastEnd = 0;
    for (int i = 0; i < step.fieldCount; ++i) {
        if (step.fields[i].end > lastEnd) lastEnd = step.fields[i].end;
    }
    // Every character of every field must have arrived. The text may end
    // right after its last field, so that terminator can land just past the
    // received bytes, still inside the record.
    if (!reply.Has(kSettingData + lastEnd) || kSettingData + lastEnd >= reply.size) {
        return ShortSetting(reply, kSettingData + lastEnd);
    }
    for (int i = 0; i < step.fieldCount; ++i) data[step.fields[i].end] = '\0';
    for (int i = 0; i < step.fieldCount; ++i) {
        const Field& field = step.fields[i];
        int* output = outputs[field.argument];
        if (skipNullOutputs && output == nullptr) continue;
        *output = ParseField(reinterpret_cast<char*>(data + field.offset), step.removePoints);
    }
    return true;
}

int WriteRow(const SettingRow& row, const CallArguments& call) {
    if (call.valueCount != row.argumentCount || call.outputCount != 0) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    const int32_t* values = call.values;
    if (!ArgumentsFit(row, values, row.argumentCount)) return 0;

    // Everything is encoded before the session opens, so a bad text can
    // never leave the controller with only some of a row's items written.
    EncodedStep encoded[kMaxSteps];
    for (int i = 0; i < row.stepCount; ++i) {
        if ((row.steps[i].use & StepWrite) && !EncodeStep(row.steps[i], values, &encoded[i])) {
            TRAX_ASSERT_FAILED();
            return 0;
        }
    }
    const uint8_t head = HeadOf(row, values);
    return WithSettingMode([&](session::DeviceSession& s) TRAX_IN_CALL {
        for (int i = 0; i < row.stepCount; ++i) {
            const Step& step = row.steps[i];
            if (!(step.use & StepWrite)) continue;
            if (protocol::WriteSetting(s, protocol::ReplyBuffer(), row.category, head, ItemOf(step, values),
                                       encoded[i].data, encoded[i].length) != 1) {
                return 0;
            }
        }
        return 1;
    });
}

int ReadRow(const SettingRow& row, const CallArguments& call) {
    const int outputCount = row.argumentCount - row.inputCount;
    if (call.valueCount != row.inputCount || call.outputCount != outputCount) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    const int32_t* values = call.values;
    if (!ArgumentsFit(row, values, row.inputCount)) return 0;

    // A getter's one output is required; several outputs may each be null.
    const bool skipNullOutputs = outputCount > 1;
    if (!skipNullOutputs && !Required(call.outputs[0], "the output")) return 0;
    int* byArgument[kMaxArguments] = {};
    for (int i = 0; i < outputCount; ++i) byArgument[row.inputCount + i] = call.outputs[i];
    const uint8_t head = HeadOf(row, values);
    return WithSettingMode([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        for (int i = 0; i < row.stepCount; ++i) {
            const Step& step = row.steps[i];
            if (!(step.use & StepRead)) continue;
            if (protocol::ReadSetting(s, reply, row.category, head, ItemOf(step, values)) != 1) return 0;
            if (!DecodeStep(step, reply, byArgument, skipNullOutputs)) return 0;
        }
        return 1;
    });
}

}  // namespace trax::api
