// Parsing of the TRAX_SIM_* environment variables into a DriverConfig.
#include "sim/SimConfig.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace trax::sim {
namespace {

// Whole decimal number within [low, high], nothing else in the text.
bool ParseInteger(const char* text, long long low, long long high, long long* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') return false;
    if (value < low || value > high) return false;
    *out = value;
    return true;
}

class Reader {
public:
    Reader(const EnvLookup& lookup, std::vector<std::string>* messages) : lookup_(lookup), messages_(messages) {}

    template <typename T>
    void Integer(const char* name, long long low, long long high, T* target) {
        const char* text = lookup_(name);
        if (text == nullptr) return;
        long long value = 0;
        if (ParseInteger(text, low, high, &value)) {
            *target = static_cast<T>(value);
            return;
        }
        // A negative default is the fault switched off, not a number anyone set.
        char kept[64] = "it off";
        if (*target >= 0) std::snprintf(kept, sizeof kept, "%lld", static_cast<long long>(*target));
        char line[256];
        std::snprintf(line, sizeof line, "trax-sim: %s='%s' is not a whole number from %lld to %lld; keeping %s", name,
                      text, low, high, kept);
        Reject(line);
    }

    void Flag(const char* name, bool* target) {
        const char* text = lookup_(name);
        if (text == nullptr) return;
        if (std::strcmp(text, "0") == 0 || std::strcmp(text, "1") == 0) {
            *target = text[0] == '1';
            return;
        }
        char line[256];
        std::snprintf(line, sizeof line, "trax-sim: %s='%s' must be 0 or 1; keeping %d", name, text, *target ? 1 : 0);
        Reject(line);
    }

    void Units(const char* name, bool* inch) {
        const char* text = lookup_(name);
        if (text == nullptr) return;
        if (std::strcmp(text, "inch") == 0 || std::strcmp(text, "metric") == 0) {
            *inch = text[0] == 'i';
            return;
        }
        char line[256];
        std::snprintf(line, sizeof line, "trax-sim: %s='%s' must be 'metric' or 'inch'; keeping %s", name, text,
                      *inch ? "inch" : "metric");
        Reject(line);
    }

    bool IsSet(const char* name) const { return lookup_(name) != nullptr; }
    void Reject(const std::string& line) {
        if (messages_) messages_->push_back(line);
    }

private:
    const EnvLookup& lookup_;
    std::vector<std::string>* messages_;
};

}  // namespace

DriverConfig ParseDriverConfig(const EnvLookup& lookup, std::vector<std::string>* messages) {
    DriverConfig config;
    Reader reader(lookup, messages);
    reader.Integer("TRAX_SIM_LATENCY_US", 0, 10000000, &config.latencyUs);
    reader.Flag("TRAX_SIM_STARTUP_FAIL", &config.startupFail);
    reader.Integer("TRAX_SIM_FAIL_AFTER", 0, 0x7FFFFFFFLL, &config.failAfter);
    reader.Flag("TRAX_SIM_TRACE", &config.trace);
    reader.Units("TRAX_SIM_UNITS", &config.controller.inch);
    reader.Integer("TRAX_SIM_SEED", 0, 0x7FFFFFFFFFFFFFFFLL, &config.controller.seed);
    reader.Integer("TRAX_SIM_BUSY_COMMAND", 0, 255, &config.controller.busyCommand);
    if (const char* stateFile = lookup("TRAX_SIM_STATE")) {
        if (*stateFile != '\0') {
            config.controller.stateFile = stateFile;
        } else {
            reader.Reject("trax-sim: TRAX_SIM_STATE is empty; the controller state is not kept");
        }
    }

    if (const char* replay = lookup("TRAX_SIM_REPLAY")) {
        if (*replay != '\0') {
            config.replayPath = replay;
        } else {
            reader.Reject("trax-sim: TRAX_SIM_REPLAY is empty; the simulated controller answers");
        }
    }
    reader.Flag("TRAX_SIM_REPLAY_TIMING", &config.replayTiming);

    int errorNumber = -1;
    reader.Integer("TRAX_SIM_ERROR_REPLY", 0, 255, &errorNumber);
    int errorCommand = 20;  // the measured values, unless another command is named
    reader.Integer("TRAX_SIM_ERROR_COMMAND", 0, 255, &errorCommand);
    if (errorNumber >= 0) {
        config.controller.errorNumber = errorNumber;
        config.controller.errorCommand = errorCommand;
    } else if (reader.IsSet("TRAX_SIM_ERROR_COMMAND")) {
        reader.Reject("trax-sim: TRAX_SIM_ERROR_COMMAND has no effect without TRAX_SIM_ERROR_REPLY");
    }
    return config;
}

std::string HexLine(const uint8_t* data, size_t length, size_t maxBytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    size_t shown = length < maxBytes ? length : maxBytes;
    std::string line;
    line.reserve(shown * 3 + 32);
    for (size_t i = 0; i < shown; ++i) {
        if (i != 0) line.push_back(' ');
        line.push_back(kDigits[data[i] >> 4]);
        line.push_back(kDigits[data[i] & 15]);
    }
    if (shown < length) line += " ... (+" + std::to_string(length - shown) + " bytes)";
    return line;
}

}  // namespace trax::sim
