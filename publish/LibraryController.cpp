#include "publish/LibraryController.h"

#include <utility>

namespace trax::publish {

namespace {

HeadReading Reading(const FloatValue& v) { return HeadReading{v.status, v.value}; }

// A controller call that throws CallError, as a CallResult.
template <typename Call>
CallResult Try(Call call) {
    try {
        call();
        return std::nullopt;
    } catch (const client::CallError& e) {
        return e.failure();
    }
}

}  // namespace

LibraryController::LibraryController(CallObserver observer) : observer_(std::move(observer)) {
    controller_.Observe([this](client::CallRecord& call) {
        if (call.failure != nullptr && call.failure->reason.empty())
            call.failure->reason = std::string(call.function) + " returned 0 (reason not known)";
        if (!observer_) return;
        const CallResult result = call.failure != nullptr ? CallResult(*call.failure) : std::nullopt;
        observer_(call.function, result, std::chrono::duration_cast<std::chrono::nanoseconds>(call.duration));
    });
}

CallResult LibraryController::ReadValues(HeadReading& a, HeadReading& b) {
    client::Controller::BothHeads values;
    CallResult r = controller_.TryReadValues(values);
    if (!r) {
        a = Reading(values.a);
        b = Reading(values.b);
    }
    return r;
}

CallResult LibraryController::ProgramNumber(int& program) { return controller_.TryReadProgram(program); }

CallResult LibraryController::StorageStatus(bool& storing, int& countA, int& countB) {
    return Try([&] {
        countA = controller_.ReadStorageStatus(0).count;
        const client::Controller::StorageStatus b = controller_.ReadStorageStatus(1);
        countB = b.count;
        storing = b.storing;
    });
}

CallResult LibraryController::StorageData(int head, std::vector<HeadReading>& values) {
    values.clear();
    return Try([&] {
        for (const FloatValue& v : controller_.ReadStorage(head)) values.push_back(Reading(v));
    });
}

CallResult LibraryController::StorageStart() {
    return Try([&] { controller_.StartStorage(); });
}
CallResult LibraryController::StorageStop() {
    return Try([&] { controller_.StopStorage(); });
}
CallResult LibraryController::Zero(int head, int on) {
    return Try([&] { controller_.SetZero(head, on != 0); });
}
CallResult LibraryController::Timing(int head, int on) {
    return Try([&] { controller_.SetTiming(head, on != 0); });
}
CallResult LibraryController::Reset(int head) {
    return Try([&] { controller_.Reset(head); });
}

CallResult LibraryController::WriteSetting(const client::SettingRef& ref, const std::vector<int>& values,
                                           std::optional<std::vector<int>>* readBack) {
    client::WriteOutcome outcome = controller_.WriteSetting(ref, values, readBack != nullptr);
    if (!outcome.written) return outcome.writeFailure;
    if (readBack != nullptr && outcome.readBack.ok) *readBack = outcome.readBack.values;
    return std::nullopt;
}

client::LoadReport LibraryController::LoadSettings(const client::SettingsDocument& doc) {
    return client::LoadIntoController(controller_, doc);
}

client::SettingsDocument LibraryController::ReadSettings(std::vector<client::SettingValue>* failures) {
    return client::ReadController(controller_, client::FileSettings(), failures);
}

}  // namespace trax::publish
