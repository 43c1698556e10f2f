// Requests that arrive on PREFIX/cmd/NAME, checked and carried out. The
// checks and their refusal texts are those of the server's JSON API (the same
// setting table, the same ranges, the same words), so a person who knows one
// knows the other; the answer is a JSON object with "status" (200, or the
// HTTP status the API would have given) and the API's body.
//
// A message is a stranger's bytes: its size is bounded per command, its text
// must be UTF-8 JSON, its nesting is bounded, and no part of it is echoed
// unbounded.
//
//   settings        {"setting":"offset","head":"A","values":{"offset":100}}
//   settings-file   a settings file (as written by traxctl settings save)
//   settings-read   {}   publishes PREFIX/settings now (interrupts measurement)
//   zero            {"head":"A"|"B"|"both","on":true}
//   timing          {"head":..., "on":...}
//   reset           {"head":...}
//   storage-start   {}
//   storage-stop    {}
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "publish/ControllerPort.h"

namespace trax::publish {

constexpr std::size_t kCommandLimit = 16 * 1024;
// A file of every setting is about 3 KiB; this leaves room for layout only.
constexpr std::size_t kSettingsFileLimit = 256 * 1024;
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxCorrelation = 1024;
constexpr std::size_t kMaxResponseTopic = 512;

struct CommandOutcome {
    int status = 200;
    nlohmann::json body;           // the answer, without "status"
    bool changedSettings = false;  // PREFIX/settings is to be published again
    bool readSettings = false;     // settings-read: publish them now
    bool storageStarted = false, storageStopped = false;
    std::string Text() const;  // body with "status", as the answer's payload
};

// The command's name from a topic below PREFIX/cmd/, or "" when the topic is
// not one (a deeper level, wildcards, an unknown name).
std::string CommandName(const std::string& prefix, const std::string& topic);

// A response topic that may be published to: UTF-8, no wildcards, bounded.
bool UsableResponseTopic(const std::string& topic);

// Parses JSON text with the nesting bounded; throws the API's refusal (400)
// as an outcome in *refusal and returns false when it cannot be used.
bool ParseBounded(const std::string& text, std::size_t limit, nlohmann::json& out, CommandOutcome& refusal);

// Checks and carries out one command. Never throws.
CommandOutcome RunCommand(const std::string& name, const std::string& payload, ControllerPort& controller);

// The answer when commands are off, or refused for another reason.
CommandOutcome Refused(int status, const std::string& error);

}  // namespace trax::publish
