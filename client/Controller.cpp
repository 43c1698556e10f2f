#include "client/Controller.h"

#include <utility>

namespace trax::client {

namespace {

std::string HeadArguments(int head, const std::vector<int>& values, bool withHead) {
    std::string text = withHead ? std::to_string(head) : "";
    for (int v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text;
}

}  // namespace

std::string ArgumentsText(std::initializer_list<long long> values) {
    std::string text;
    for (long long v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text;
}

void Controller::Observe(CallObserver observer) { observers_.push_back(std::move(observer)); }

std::optional<Failure> Controller::TryCall(const char* function, std::string arguments,
                                           const std::function<int()>& call, CallKind kind) {
    const bool overlapped = inFlight_.fetch_add(1) != 0;
    const auto started = std::chrono::steady_clock::now();
    const int result = call();
    const auto duration = std::chrono::steady_clock::now() - started;
    inFlight_.fetch_sub(1);
    std::optional<Failure> failure;
    // The reason is taken at once, before another call adds to the tap.
    if (result != 1) failure = FailureOf(function);
    CallRecord record;
    record.function = function;
    record.arguments = std::move(arguments);
    record.result = result;
    record.duration = duration;
    record.kind = kind;
    record.overlapped = overlapped;
    record.failure = failure ? &*failure : nullptr;
    for (const CallObserver& observe : observers_) observe(record);
    return failure;
}

void Controller::Call(const char* function, std::string arguments, const std::function<int()>& call, CallKind kind) {
    std::optional<Failure> failure = TryCall(function, std::move(arguments), call, kind);
    if (failure) throw CallError(std::move(*failure));
}

// --- measured values ----------------------------------------------------

Controller::BothHeads Controller::ReadValues(CallKind kind) {
    BothHeads values;
    std::optional<Failure> failure = TryReadValues(values, kind);
    if (failure) throw CallError(std::move(*failure));
    return values;
}

std::optional<Failure> Controller::TryReadValues(BothHeads& values, CallKind kind) {
    return TryCall(
        "TRAX_GetCalcData", "", [&] { return TRAX_GetCalcData(&values.a, &values.b); }, kind);
}

FigureData Controller::ReadFigure(int head) {
    FigureData figure{};
    Call("TRAX_GetFigureData", ArgumentsText({head}), [&] { return TRAX_GetFigureData(head, &figure); });
    return figure;
}

void Controller::ClearFigure() {
    Call("TRAX_ClearFigureData", "", [] { return TRAX_ClearFigureData(); });
}

Controller::LightProfile Controller::ReadLight(int head, int selector) {
    LightProfile light;
    Call("TRAX_GetLight", ArgumentsText({head, selector}),
         [&] { return TRAX_GetLight(head, selector, &light.light, &light.extra, light.profile.data()); });
    return light;
}

int Controller::ReadDisplayUnitCode(int head) {
    int code = 0;
    Call("TRAX_GetDisplayUnit", ArgumentsText({head}), [&] { return TRAX_GetDisplayUnit(head, &code); });
    return code;
}

int Controller::ReadSamplingCycle() {
    int code = 0;
    Call("TRAX_GetSamplingCycle", "", [&] { return TRAX_GetSamplingCycle(&code); });
    return code;
}

// --- data storage -------------------------------------------------------

Controller::StorageConfig Controller::SetUpStorage(const StorageSetup& setup) {
    StorageConfig config;
    Call("TRAX_GetDataStorage", "", [&] { return TRAX_GetDataStorage(&config.target, &config.count, &config.cycle); });
    if (setup.target || setup.count || setup.cycle) {
        config.target = setup.target.value_or(config.target);
        config.count = setup.count.value_or(config.count);
        config.cycle = setup.cycle.value_or(config.cycle);
        Call("TRAX_SetDataStorage", ArgumentsText({config.target, config.count, config.cycle}),
             [&] { return TRAX_SetDataStorage(config.target, config.count, config.cycle); });
    }
    Call("TRAX_DataStorageInit", "", [] { return TRAX_DataStorageInit(); });
    return config;
}

void Controller::StartStorage() {
    Call("TRAX_DataStorageStart", "", [] { return TRAX_DataStorageStart(); });
}

void Controller::StopStorage() {
    Call("TRAX_DataStorageStop", "", [] { return TRAX_DataStorageStop(); });
}

Controller::StorageStatus Controller::ReadStorageStatus(int head, CallKind kind) {
    int storing = 0;
    StorageStatus status;
    Call(
        "TRAX_DataStorageGetStatus", ArgumentsText({head}),
        [&] { return TRAX_DataStorageGetStatus(head, &storing, &status.count); }, kind);
    status.storing = storing != 0;
    return status;
}

std::vector<FloatValue> Controller::ReadStorage(int head, int maxCount) {
    if (maxCount < 1 || maxCount > kMaxStored) maxCount = kMaxStored;
    std::vector<FloatValue> values(static_cast<size_t>(maxCount));
    int returned = 0;
    Call("TRAX_DataStorageGetData", ArgumentsText({head, maxCount}),
         [&] { return TRAX_DataStorageGetData(head, maxCount, values.data(), &returned); });
    // A count the buffer cannot hold is not believed.
    values.resize(returned < 0 || returned > maxCount ? 0 : static_cast<size_t>(returned));
    return values;
}

// --- settings -----------------------------------------------------------

SettingValue Controller::ReadSetting(const SettingRef& ref) {
    SettingValue v;
    v.ref = ref;
    const Setting& s = *ref.setting;
    std::vector<int> values(4, 0);
    std::optional<Failure> failure = TryCall(s.getterName, HeadArguments(ref.head, {}, s.scope == Scope::Head),
                                             [&] { return s.get(ref.head, values.data()); });
    if (failure) {
        v.failure = std::move(*failure);
        return v;
    }
    values.resize(static_cast<size_t>(s.arity));
    v.ok = true;
    v.values = values;
    return v;
}

std::vector<SettingValue> Controller::ReadSettings(const std::vector<SettingRef>& refs, const Progress& progress,
                                                   const std::function<bool()>& stop) {
    std::vector<SettingValue> read;
    read.reserve(refs.size());
    for (const SettingRef& ref : refs) {
        if (stop && stop()) break;
        read.push_back(ReadSetting(ref));
        if (progress) progress(read.size(), refs.size());
    }
    return read;
}

WriteOutcome Controller::WriteSetting(const SettingRef& ref, const std::vector<int>& values, bool readBack) {
    WriteOutcome outcome;
    outcome.readBack.ref = ref;
    const Setting& s = *ref.setting;
    std::vector<int> padded = values;
    padded.resize(4, 0);
    std::optional<Failure> failure = TryCall(s.setterName, HeadArguments(ref.head, values, s.scope == Scope::Head),
                                             [&] { return s.set(ref.head, padded.data()); });
    if (failure) {
        outcome.writeFailure = std::move(*failure);
        return outcome;
    }
    outcome.written = true;
    if (readBack && s.Readable()) outcome.readBack = ReadSetting(ref);
    return outcome;
}

// --- control ------------------------------------------------------------

void Controller::SetZero(int head, bool on) {
    Call("TRAX_SetZero", ArgumentsText({head, on ? 1 : 0}), [&] { return TRAX_SetZero(head, on ? 1 : 0); });
}

void Controller::SetTiming(int head, bool on) {
    Call("TRAX_SetTiming", ArgumentsText({head, on ? 1 : 0}), [&] { return TRAX_SetTiming(head, on ? 1 : 0); });
}

void Controller::Reset(int head) {
    Call("TRAX_SetReset", ArgumentsText({head}), [&] { return TRAX_SetReset(head); });
}

void Controller::SelectPanel(int panel) {
    Call("TRAX_SetPanel", ArgumentsText({panel}), [&] { return TRAX_SetPanel(panel); });
}

int Controller::ReadPanel() {
    int panel = -1;
    Call("TRAX_GetPanel", "", [&] { return TRAX_GetPanel(&panel); });
    return panel;
}

void Controller::LockPanel(bool locked) {
    Call("TRAX_SetPanelLock", ArgumentsText({locked ? 1 : 0}), [&] { return TRAX_SetPanelLock(locked ? 1 : 0); });
}

void Controller::SelectProgram(int number) {
    Call("TRAX_SetProgramNo", ArgumentsText({number}), [&] { return TRAX_SetProgramNo(number); });
}

int Controller::ReadProgram() {
    int number = 0;
    std::optional<Failure> failure = TryReadProgram(number);
    if (failure) throw CallError(std::move(*failure));
    return number;
}

std::optional<Failure> Controller::TryReadProgram(int& number) {
    return TryCall("TRAX_GetProgramNo", "", [&] { return TRAX_GetProgramNo(&number); });
}

void Controller::AbleStart(int head) {
    Call("TRAX_AbleStart", ArgumentsText({head}), [&] { return TRAX_AbleStart(head); });
}

void Controller::AbleStop() {
    Call("TRAX_AbleStop", "", [] { return TRAX_AbleStop(); });
}

void Controller::AbleCancel() {
    Call("TRAX_AbleCancel", "", [] { return TRAX_AbleCancel(); });
}

void Controller::SetMode(Mode mode) {
    std::optional<Failure> failure = TrySetMode(mode);
    if (failure) throw CallError(std::move(*failure));
}

std::optional<Failure> Controller::TrySetMode(Mode mode) {
    const int code = static_cast<int>(mode);
    return TryCall("TRAX_SetMode", ArgumentsText({code}), [code] { return TRAX_SetMode(code); });
}

}  // namespace trax::client
