// Configuration of the simulated controller and of the stand-in driver that
// carries it. In-process users (tests, benchmarks) fill the structs directly;
// the stand-in driver fills them once from TRAX_SIM_* environment variables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace trax::sim {

struct ControllerConfig {
    // Unit system reported with every measured value: false = metric (0), true = inch (1).
    bool inch = false;
    // Seed of the measurement noise; the same seed gives the same values.
    uint64_t seed = 1;
    // Answer every request with this command code with an error reply (code 255)
    // carrying errorNumber. -1 = off.
    int errorCommand = -1;
    int errorNumber = 0;
    // Answer every request with this command code with a busy reply (code 68). -1 = off.
    int busyCommand = -1;
    // How many values per head the data storage takes in during one exchange
    // while it is storing. The controller samples far faster than a host polls,
    // so by default a storage run is complete at the first exchange after start.
    uint32_t storageValuesPerExchange = 65536;
    // File that keeps the controller's lasting state (settings, panel
    // selection, data storage) between controller instances: read when the
    // controller is made, rewritten after every exchange that changed that
    // state. Empty = nothing is read or written.
    std::string stateFile;
};

struct DriverConfig {
    ControllerConfig controller;
    // Pause per exchange, standing for the USB round trip.
    uint32_t latencyUs = 0;
    // InitUsb reports failure, so the library's start-up fails.
    bool startupFail = false;
    // After this many successful exchanges the next one fails, once. -1 = off.
    long long failAfter = -1;
    // Every request and reply in hex on stderr.
    bool trace = false;
    // Answer from this recording instead of the simulated controller ("" off),
    // with the recorded timing when replayTiming is set.
    std::string replayPath;
    bool replayTiming = false;
};

// Looks up one environment variable; null when it is not set.
using EnvLookup = std::function<const char*(const char* name)>;

// Reads the TRAX_SIM_* variables. A value that does not parse or is out of range
// is reported in `messages` (one line each) and the default is kept.
DriverConfig ParseDriverConfig(const EnvLookup& lookup, std::vector<std::string>* messages);

// "00 06 07 14 00 FF": at most maxBytes bytes, then " ... (+N bytes)".
std::string HexLine(const uint8_t* data, size_t length, size_t maxBytes);

}  // namespace trax::sim
