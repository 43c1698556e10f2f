#include "publish/LibraryController.h"

#include <trax.h>

namespace trax::publish {

namespace {

constexpr int kStorageMax = 65536;

HeadReading Reading(const FloatValue& v) { return HeadReading{v.status, v.value}; }

}  // namespace

void LibraryController::Observe(const char* function, const CallResult& result, std::chrono::nanoseconds took) {
    if (observer_) observer_(function, result, took);
}

template <typename Call>
CallResult LibraryController::Make(const char* function, Call call) {
    const auto started = std::chrono::steady_clock::now();
    const int ok = call();
    const auto took = std::chrono::steady_clock::now() - started;
    CallResult result;
    if (ok != 1) {
        // The reason is read on this thread, right after the call.
        result = client::FailureOf(function);
        if (result->reason.empty()) result->reason = std::string(function) + " returned 0 (reason not known)";
    }
    Observe(function, result, took);
    return result;
}

CallResult LibraryController::ReadValues(HeadReading& a, HeadReading& b) {
    FloatValue va{}, vb{};
    CallResult r = Make("TRAX_GetCalcData", [&] { return TRAX_GetCalcData(&va, &vb); });
    if (!r) {
        a = Reading(va);
        b = Reading(vb);
    }
    return r;
}

CallResult LibraryController::ProgramNumber(int& program) {
    return Make("TRAX_GetProgramNo", [&] { return TRAX_GetProgramNo(&program); });
}

CallResult LibraryController::StorageStatus(bool& storing, int& countA, int& countB) {
    int state = 0;
    CallResult r = Make("TRAX_DataStorageGetStatus", [&] { return TRAX_DataStorageGetStatus(0, &state, &countA); });
    if (r) return r;
    r = Make("TRAX_DataStorageGetStatus", [&] { return TRAX_DataStorageGetStatus(1, &state, &countB); });
    storing = state != 0;
    return r;
}

CallResult LibraryController::StorageData(int head, std::vector<HeadReading>& values) {
    std::vector<FloatValue> raw(kStorageMax);
    int returned = 0;
    CallResult r = Make("TRAX_DataStorageGetData",
                        [&] { return TRAX_DataStorageGetData(head, kStorageMax, raw.data(), &returned); });
    values.clear();
    if (r) return r;
    if (returned < 0 || returned > kStorageMax) returned = 0;
    for (int i = 0; i < returned; ++i) values.push_back(Reading(raw[static_cast<std::size_t>(i)]));
    return r;
}

CallResult LibraryController::StorageStart() {
    return Make("TRAX_DataStorageStart", [] { return TRAX_DataStorageStart(); });
}
CallResult LibraryController::StorageStop() {
    return Make("TRAX_DataStorageStop", [] { return TRAX_DataStorageStop(); });
}
CallResult LibraryController::Zero(int head, int on) {
    return Make("TRAX_SetZero", [&] { return TRAX_SetZero(head, on); });
}
CallResult LibraryController::Timing(int head, int on) {
    return Make("TRAX_SetTiming", [&] { return TRAX_SetTiming(head, on); });
}
CallResult LibraryController::Reset(int head) {
    return Make("TRAX_SetReset", [&] { return TRAX_SetReset(head); });
}

CallResult LibraryController::WriteSetting(const client::SettingRef& ref, const std::vector<int>& values,
                                           std::optional<std::vector<int>>* readBack) {
    std::vector<int> padded = values;
    padded.resize(4, 0);
    const client::Setting& s = *ref.setting;
    CallResult r = Make(s.setterName, [&] { return s.set(ref.head, padded.data()); });
    if (r || !s.Readable() || readBack == nullptr) return r;
    std::vector<int> back(4, 0);
    if (!Make(s.getterName, [&] { return s.get(ref.head, back.data()); })) {
        back.resize(static_cast<std::size_t>(s.arity));
        *readBack = back;
    }
    return r;
}

client::LoadReport LibraryController::LoadSettings(const client::SettingsDocument& doc) {
    // The settings-file layer makes its own calls; they are counted as one.
    const auto started = std::chrono::steady_clock::now();
    client::LoadReport report = client::LoadIntoController(doc);
    CallResult result;
    if (report.writeFailure) result = report.writeFailure;
    Observe("settings-file load", result, std::chrono::steady_clock::now() - started);
    return report;
}

client::SettingsDocument LibraryController::ReadSettings(std::vector<client::SettingValue>* failures) {
    const auto started = std::chrono::steady_clock::now();
    client::SettingsDocument doc = client::ReadController(client::FileSettings(), failures);
    CallResult result;
    if (failures != nullptr && !failures->empty()) result = (*failures)[0].failure;
    Observe("settings-file read", result, std::chrono::steady_clock::now() - started);
    return doc;
}

}  // namespace trax::publish
