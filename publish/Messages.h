// The payloads of the topic tree, one function per topic, as JSON text. Every
// message carries its topic's seq (1, 2, 3, ... from the start of the run);
// times are UTC with milliseconds; values are in each head's display unit and
// say which (null when the publisher was not told).
//
//   PREFIX/status    retained  {"seq","time","state":"online"|"failing"|"offline",...}
//   PREFIX/values              {"seq","time","samples":[{"time","A":{...},"B":{...}}]}
//   PREFIX/settings  retained  {"seq","time","settings":<settings file>}
//   PREFIX/storage             {"seq","time","A":{...},"B":{...}} (a completed run)
//   PREFIX/events              {"seq","time","event":...,...}
//   PREFIX/cmd/NAME            requests; answers go to the MQTT 5 response topic
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "publish/ControllerPort.h"

namespace trax::publish {

using SystemTime = std::chrono::system_clock::time_point;

struct Sample {
    SystemTime time;
    HeadReading a, b;
};

struct StatusFacts {
    std::string state;  // "online", "failing", "offline"
    std::string start;  // when this run started
    std::string traxctl, library, driver;
    std::optional<int> program;
    std::string unit;                        // "" when not known
    std::optional<client::Failure> failure;  // while failing
    std::string reason;                      // why offline
};

std::string StatusPayload(std::uint64_t seq, SystemTime now, const StatusFacts& facts);
std::string ValuesPayload(std::uint64_t seq, const std::vector<Sample>& samples, const std::string& unit);
// The settings as a settings file inside {"seq","time","settings"}.
std::string SettingsPayload(std::uint64_t seq, SystemTime now, const client::SettingsDocument& doc);
struct StorageRun {
    std::string start, stop;  // as this publisher saw them; "" when not known
    std::vector<HeadReading> a, b;
};
std::string StoragePayload(std::uint64_t seq, SystemTime now, const StorageRun& run, const std::string& unit);
// An event: `fields` (an object) with seq, time and the event's name added.
std::string EventPayload(std::uint64_t seq, SystemTime now, const std::string& event, const nlohmann::json& fields);
// {"function","reason","errorNumber"?} of a failed call.
nlohmann::json FailureJson(const client::Failure& failure);
// One reading as {"status","value","unit"}.
nlohmann::json ReadingJson(const HeadReading& reading, const std::string& unit);

}  // namespace trax::publish
