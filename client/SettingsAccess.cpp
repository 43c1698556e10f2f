#include "client/SettingsAccess.h"

namespace trax::client {

namespace {

thread_local CallNote threadNote;

}  // namespace

NoteCalls::NoteCalls(CallNote note) : previous_(std::move(threadNote)) { threadNote = std::move(note); }

NoteCalls::~NoteCalls() { threadNote = std::move(previous_); }

std::optional<Failure> AfterCall(const char* function, int result) {
    std::optional<Failure> failure;
    if (result != 1) failure = FailureOf(function);
    if (threadNote) threadNote(function, failure ? &*failure : nullptr);
    return failure;
}

std::string SettingRef::Name() const {
    std::string name = setting->name;
    if (setting->scope == Scope::Head) name += head == 0 ? " A" : " B";
    return name;
}

std::vector<SettingRef> ReadableSettings(int firstHead, int lastHead) {
    std::vector<SettingRef> refs;
    for (const Setting& s : SettingTable()) {
        if (!s.Readable()) continue;
        if (s.scope == Scope::Controller) {
            refs.push_back({&s, 0});
        } else {
            for (int h = firstHead; h <= lastHead; ++h) refs.push_back({&s, h});
        }
    }
    return refs;
}

SettingValue ReadSetting(const SettingRef& ref) {
    SettingValue v;
    v.ref = ref;
    std::vector<int> values(4, 0);
    if (auto failure = AfterCall(ref.setting->getterName, ref.setting->get(ref.head, values.data()))) {
        v.failure = std::move(*failure);
        return v;
    }
    values.resize(static_cast<size_t>(ref.setting->arity));
    v.ok = true;
    v.values = values;
    return v;
}

std::vector<SettingValue> ReadSettings(const std::vector<SettingRef>& refs, const Progress& progress,
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

WriteOutcome WriteSetting(const SettingRef& ref, const std::vector<int>& values, bool readBack) {
    WriteOutcome outcome;
    outcome.readBack.ref = ref;
    std::vector<int> padded = values;
    padded.resize(4, 0);
    if (auto failure = AfterCall(ref.setting->setterName, ref.setting->set(ref.head, padded.data()))) {
        outcome.writeFailure = std::move(*failure);
        return outcome;
    }
    outcome.written = true;
    if (readBack && ref.setting->Readable()) outcome.readBack = ReadSetting(ref);
    return outcome;
}

}  // namespace trax::client
