#include "publish/LibraryController.h"

#include <trax.h>

namespace trax::publish {

namespace {

HeadReading Reading(const FloatValue& v) { return HeadReading{v.status, v.value}; }

// The Controller's throwing calls as a result.
template <typename Call>
CallResult Caught(Call call) {
    try {
        call();
        return std::nullopt;
    } catch (const client::CallError& e) {
        return e.failure();
    }
}

}  // namespace

LibraryController::LibraryController(client::CallObserver observer) {
    if (observer) controller_.Observe(std::move(observer));
}

CallResult LibraryController::ReadValues(HeadReading& a, HeadReading& b) {
    client::Controller::BothHeads both;
    CallResult r = controller_.TryReadValues(both, client::CallKind::Routine);
    if (!r) {
        a = Reading(both.a);
        b = Reading(both.b);
    }
    return r;
}

CallResult LibraryController::ProgramNumber(int& program) { return controller_.TryReadProgram(program); }

CallResult LibraryController::StorageStatus(bool& storing, int& countA, int& countB) {
    return Caught([&] {
        const auto a = controller_.ReadStorageStatus(0);
        const auto b = controller_.ReadStorageStatus(1);
        storing = a.storing || b.storing;
        countA = a.count;
        countB = b.count;
    });
}

CallResult LibraryController::StorageData(int head, std::vector<HeadReading>& values) {
    values.clear();
    return Caught([&] {
        for (const FloatValue& v : controller_.ReadStorage(head)) values.push_back(Reading(v));
    });
}

CallResult LibraryController::StorageStart() {
    return Caught([&] { controller_.StartStorage(); });
}
CallResult LibraryController::StorageStop() {
    return Caught([&] { controller_.StopStorage(); });
}
CallResult LibraryController::Zero(int head, int on) {
    return Caught([&] { controller_.SetZero(head, on != 0); });
}
CallResult LibraryController::Timing(int head, int on) {
    return Caught([&] { controller_.SetTiming(head, on != 0); });
}
CallResult LibraryController::Reset(int head) {
    return Caught([&] { controller_.Reset(head); });
}

CallResult LibraryController::WriteSetting(const client::SettingRef& ref, const std::vector<int>& values,
                                           std::optional<std::vector<int>>* readBack) {
    const client::WriteOutcome outcome = controller_.WriteSetting(ref, values, readBack != nullptr);
    if (!outcome.written) return outcome.writeFailure;
    if (readBack != nullptr && outcome.readBack.ok) *readBack = outcome.readBack.values;
    return std::nullopt;
}

client::LoadReport LibraryController::LoadSettings(const client::SettingsDocument& doc) {
    // The settings-file layer makes its own library calls (they move onto
    // the Controller with the rest of the client layer).
    return client::LoadIntoController(doc);
}

client::SettingsDocument LibraryController::ReadSettings(std::vector<client::SettingValue>* failures) {
    return client::ReadController(client::FileSettings(), failures);
}

}  // namespace trax::publish
