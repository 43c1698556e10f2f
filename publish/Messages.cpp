#include "publish/Messages.h"

#include <trax.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "client/ValueText.h"

namespace trax::publish {

using nlohmann::json;

namespace {

json UnitJson(const std::string& unit) { return unit.empty() ? json(nullptr) : json(unit); }

json Stamp(std::uint64_t seq, SystemTime now) { return {{"seq", seq}, {"time", client::IsoTime(now)}}; }

// Fields that may come from outside (reasons, names) can hold any bytes:
// replaced, never an exception in the middle of a message.
std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

json ReadingJson(const HeadReading& reading, const std::string& unit) {
    json out = {{"status", client::StatusName(reading.status)}, {"value", nullptr}, {"unit", UnitJson(unit)}};
    // The shortest text that reads back as the same float, as a JSON number.
    if (reading.status == TRAX_VALUE_VALID)
        out["value"] = std::strtod(client::ValueText(reading.value, -1).c_str(), nullptr);
    return out;
}

json FailureJson(const client::Failure& failure) {
    json out = {{"function", failure.function}, {"reason", failure.reason}};
    if (failure.errorNumber) out["errorNumber"] = *failure.errorNumber;
    if (!failure.hint.empty()) out["hint"] = failure.hint;
    return out;
}

std::string StatusPayload(std::uint64_t seq, SystemTime now, const StatusFacts& facts) {
    json out = Stamp(seq, now);
    out["state"] = facts.state;
    out["start"] = facts.start;
    out["versions"] = {{"traxctl", facts.traxctl}, {"library", facts.library}, {"driver", facts.driver}};
    out["program"] = facts.program ? json(*facts.program) : json(nullptr);
    out["unit"] = UnitJson(facts.unit);
    if (facts.failure) out["failure"] = FailureJson(*facts.failure);
    if (!facts.reason.empty()) out["reason"] = facts.reason;
    return Dump(out);
}

std::string ValuesPayload(std::uint64_t seq, const std::vector<Sample>& samples, const std::string& unit) {
    json out = Stamp(seq, samples.empty() ? SystemTime{} : samples.front().time);
    json list = json::array();
    for (const Sample& s : samples)
        list.push_back(
            {{"time", client::IsoTime(s.time)}, {"A", ReadingJson(s.a, unit)}, {"B", ReadingJson(s.b, unit)}});
    out["samples"] = list;
    return Dump(out);
}

std::string SettingsPayload(std::uint64_t seq, SystemTime now, const client::SettingsDocument& doc) {
    json out = Stamp(seq, now);
    out["settings"] = json::parse(client::SettingsJson(doc));
    // Reading them took the controller out of measurement for a moment.
    out["interruptedMeasurement"] = true;
    return Dump(out);
}

std::string StoragePayload(std::uint64_t seq, SystemTime now, const StorageRun& run, const std::string& unit) {
    json out = Stamp(seq, now);
    out["start"] = run.start.empty() ? json(nullptr) : json(run.start);
    out["stop"] = run.stop.empty() ? json(nullptr) : json(run.stop);
    out["unit"] = UnitJson(unit);
    const std::vector<HeadReading>* heads[2] = {&run.a, &run.b};
    const char* names[2] = {"A", "B"};
    for (int h = 0; h < 2; ++h) {
        json values = json::array(), statuses = json::object();
        for (const HeadReading& r : *heads[h]) {
            if (r.status == TRAX_VALUE_VALID)
                values.push_back(std::strtod(client::ValueText(r.value, -1).c_str(), nullptr));
            else
                values.push_back(client::StatusName(r.status));
        }
        out[names[h]] = {{"count", heads[h]->size()}, {"values", values}};
    }
    return Dump(out);
}

std::string EventPayload(std::uint64_t seq, SystemTime now, const std::string& event, const json& fields) {
    json out = Stamp(seq, now);
    out["event"] = event;
    if (fields.is_object())
        for (auto it = fields.begin(); it != fields.end(); ++it) out[it.key()] = it.value();
    return Dump(out);
}

}  // namespace trax::publish
