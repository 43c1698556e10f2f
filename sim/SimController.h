// The simulated controller: the far end of the USB link. It takes one request
// packet and answers with one reply, as the real controller does, holding its
// own operating mode, settings, measurement, figure data and data storage.
//
// Operating modes and error 5. Every command belongs to one mode or to both:
//   both modes       : 4 (to measurement mode), 6 (to setting mode)
//   measurement mode : 12 14 16 20 22 24 34 36 38 40 44 46, and 42 (status)
//   setting mode     : 8 (write setting), 10 (read setting), 26 (probe)
// A command of the other mode answers with its usual reply code and error byte
// 5, and does nothing. So the status 42 answers 0 only in measurement mode, and
// the probe 26 answers 0 only in setting mode.
//
// The Able adjustment (category 0, item 7 written with no data) keeps the
// controller in setting mode until item 8 (stop) or item 9 (cancel, with head
// 0, 1 or 255) ends it. While it runs, command 4 and the probe 26 answer error 5
// as well: the only way out is stop or cancel. Stop and cancel with no
// adjustment running are accepted and change nothing.
//
// Malformed requests (length field not the bytes received, marker not 7,
// unknown command code, wrong length for the command) get an error reply,
// code 255, with the error number in byte 4 (see error:: in WireFormat.h).
//
// Lasting state: with ControllerConfig::stateFile set, the controller starts
// from the settings, panel selection and data storage kept in that file (see
// StateFile.h) and rewrites it after every exchange that changed them. A file
// that cannot be read or is malformed is reported on stderr and the defaults
// are kept; a failed save is reported once until a save works again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/MeasurementModel.h"
#include "sim/SettingStore.h"
#include "sim/SimConfig.h"
#include "sim/StorageModel.h"

namespace trax::sim {

enum class Mode : uint8_t { Measurement = 0, Setting = 1 };

class SimController {
public:
    explicit SimController(const ControllerConfig& config = ControllerConfig());

    // One request, one reply. Not thread-safe: callers serialise exchanges.
    std::vector<uint8_t> Exchange(const uint8_t* request, size_t length);
    std::vector<uint8_t> Exchange(const std::vector<uint8_t>& request) {
        return Exchange(request.data(), request.size());
    }

    // Inspection for tests.
    Mode CurrentMode() const { return mode_; }
    bool AbleRunning() const { return ableRunning_; }
    // 1 = head A, 2 = head B, 3 = both heads.
    int Panel() const { return panel_; }
    const SettingStore& Settings() const { return settings_; }
    const MeasurementModel& Measurement() const { return measurement_; }
    const StorageModel& Storage() const { return storage_; }
    const ControllerConfig& Config() const { return config_; }
    // Why the state file was not loaded or last not saved; empty when all went well.
    const std::string& StateProblem() const { return stateProblem_; }

private:
    using Reply = std::vector<uint8_t>;
    Reply Handle(const uint8_t* request, size_t length);
    Reply Dispatch(uint8_t code, const uint8_t* request, size_t length);

    Reply WriteSetting(const uint8_t* request, size_t length);
    Reply ReadSetting(const uint8_t* request);
    Reply HeadAction(uint8_t code, const uint8_t* request);
    Reply MeasuredValues(const uint8_t* request);
    Reply PanelState();
    Reply LightIntensity(const uint8_t* request);
    Reply StorageData(const uint8_t* request);
    Reply Status();
    Reply FigureData(const uint8_t* request);

    int32_t Offset(int head) const;
    uint8_t DisplayUnit(int head) const;
    uint8_t UnitSystem() const { return config_.inch ? 1 : 0; }

    void LoadState();
    void SaveState();

    ControllerConfig config_;
    Mode mode_ = Mode::Measurement;
    bool ableRunning_ = false;
    int panel_ = 3;
    SettingStore settings_;
    MeasurementModel measurement_;
    StorageModel storage_;
    // Set by whatever changes the lasting state during one exchange.
    bool lastingChanged_ = false;
    bool saveFailing_ = false;
    std::string stateProblem_;
};

}  // namespace trax::sim
