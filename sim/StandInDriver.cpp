// The stand-in for the controller's USB driver library: the six driver entry
// points, with the simulated controller at the other end of the "wire".
//
// Start-up must run InitQelUsbTypeParam, SetUsbType, InitUsb, InitPid in this
// order; the driver is usable (CheckUsbDllStatus(0) = 1, exchanges accepted)
// once InitPid has succeeded. Calling InitQelUsbTypeParam again starts over.
//
// Threads: every entry point may be called from any thread. One spin lock
// guards the whole driver state (start-up step, exchange count, controller);
// the latency pause is taken outside it so a slow exchange does not block
// the start-up calls.
#include "sim/StandInDriver.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/QelUsbDrv.h"
#include "sim/Replay.h"
#include "sim/SimController.h"
#include "sim/SimSleep.h"
#include "sim/SpinLock.h"

namespace trax::sim {
namespace {

constexpr size_t kTraceBytes = 1100;  // whole ordinary replies; storage replies are cut

struct DriverState {
    SpinLock lock;
    bool configured = false;
    DriverConfig config;
    std::unique_ptr<SimController> controller;
    int startupStep = 0;  // 0 nothing, 1 type param, 2 type, 3 USB, 4 PID: usable
    long long successfulExchanges = 0;
    bool injectedFailureDone = false;
    // Answers from a recording in place of the controller (TRAX_SIM_REPLAY).
    std::unique_ptr<Replay> replay;
    std::string replayStatus;
};

DriverState g_driver;

void Reconfigure(const DriverConfig& config) {
    g_driver.config = config;
    g_driver.controller.reset(new SimController(config.controller));
    g_driver.startupStep = 0;
    g_driver.successfulExchanges = 0;
    g_driver.injectedFailureDone = false;
    g_driver.configured = true;
    g_driver.replay.reset();
    if (!config.replayPath.empty()) {
        Recording recording;
        std::string problem;
        if (ReadRecordingFile(config.replayPath, &recording, &problem)) {
            if (!recording.warning.empty()) {
                std::fprintf(stderr, "trax-sim: replay of '%s': %s\n", config.replayPath.c_str(),
                             recording.warning.c_str());
            }
            g_driver.replay.reset(new Replay(config.replayPath, std::move(recording), config.replayTiming));
        } else {
            // Every request fails, and says why, rather than the simulated
            // controller answering in the recording's place.
            std::fprintf(stderr, "trax-sim: replay refused: %s\n", problem.c_str());
            g_driver.replay.reset(new Replay(Replay::Refused(config.replayPath, problem)));
        }
    }
}

// Caller holds the lock. The environment is read once, at the first driver call.
void EnsureConfigured() {
    if (g_driver.configured) return;
    std::vector<std::string> messages;
    DriverConfig config = ParseDriverConfig([](const char* name) { return std::getenv(name); }, &messages);
    for (const std::string& line : messages) std::fprintf(stderr, "%s\n", line.c_str());
    Reconfigure(config);
}

void Trace(const char* direction, const uint8_t* data, size_t length) {
    std::fprintf(stderr, "trax-sim %s %s\n", direction, HexLine(data, length, kTraceBytes).c_str());
}

// Advances the start-up from `from` to from + 1 when the driver stands at `from`.
bool StartupStep(int from, bool ok) {
    SpinGuard guard(g_driver.lock);
    EnsureConfigured();
    if (g_driver.startupStep != from || !ok) return false;
    g_driver.startupStep = from + 1;
    return true;
}

}  // namespace

void ResetStandInDriver(const DriverConfig& config) {
    SpinGuard guard(g_driver.lock);
    Reconfigure(config);
}

}  // namespace trax::sim

using namespace trax::sim;

extern "C" {

QELUSB_API long QELUSB_CALL InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode) {
    SpinGuard guard(g_driver.lock);
    EnsureConfigured();
    if (param == nullptr || mode != 1) return 0;
    g_driver.startupStep = 1;
    return 1;
}

QELUSB_API long QELUSB_CALL SetUsbType(long type) { return StartupStep(1, type == 2) ? 1 : 0; }

QELUSB_API int QELUSB_CALL InitUsb(sUSBPARAM param, const char* deviceName) {
    (void)param;
    bool ok = deviceName != nullptr && deviceName[0] != '\0';
    {
        SpinGuard guard(g_driver.lock);
        EnsureConfigured();
        if (g_driver.config.startupFail) {
            std::fprintf(stderr, "trax-sim: InitUsb fails (TRAX_SIM_STARTUP_FAIL=1)\n");
            ok = false;
        }
    }
    return StartupStep(2, ok) ? 1 : 0;
}

QELUSB_API int QELUSB_CALL InitPid(sUSBPARAM param, unsigned short productCode) {
    (void)param;
    return StartupStep(3, productCode != 0) ? 1 : 0;
}

QELUSB_API int QELUSB_CALL CheckUsbDllStatus(long flags) {
    (void)flags;
    SpinGuard guard(g_driver.lock);
    EnsureConfigured();
    // Called once by each new channel's I/O thread.
    if (g_driver.replay) g_driver.replay->ChannelStarted();
    return g_driver.startupStep == 4 ? 1 : 0;
}

QELUSB_API unsigned long QELUSB_CALL QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength,
                                                    unsigned char* reply, unsigned long* replyLength) {
    uint32_t latency = 0;
    {
        SpinGuard guard(g_driver.lock);
        EnsureConfigured();
        latency = g_driver.config.latencyUs;
    }
    SleepMicroseconds(latency);
    bool replayed = false;
    unsigned long result = 0;
    uint64_t delayUs = 0;

    if (request == nullptr || reply == nullptr || replyLength == nullptr) return 0;
    {
        SpinGuard guard(g_driver.lock);
        if (g_driver.replay) {
            if (g_driver.startupStep != 4) return 0;
            const bool trace = g_driver.config.trace;
            if (trace) Trace(">", request, requestLength);
            const unsigned long capacity = *replyLength;
            const Replay::Answer answer = g_driver.replay->Exchange(request, requestLength, reply, replyLength);
            if (!answer.report.empty()) std::fprintf(stderr, "trax-sim: %s\n", answer.report.c_str());
            if (trace) {
                if (answer.result == 0) {
                    std::fprintf(stderr, "trax-sim < exchange fails (replay)\n");
                } else if (*replyLength > capacity) {
                    std::fprintf(stderr, "trax-sim < reply of %lu bytes claimed (replay)\n", *replyLength);
                } else {
                    Trace("<", reply, *replyLength);
                }
            }
            replayed = true;
            result = answer.result;
            delayUs = answer.delayUs;
        }
    }
    if (replayed) {
        // The recorded duration, outside the lock like the latency.
        SleepMicroseconds(delayUs > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(delayUs));
        return result;
    }

    SpinGuard guard(g_driver.lock);
    const DriverConfig& config = g_driver.config;
    if (g_driver.startupStep != 4) return 0;
    if (config.trace) Trace(">", request, requestLength);

    if (config.failAfter >= 0 && !g_driver.injectedFailureDone && g_driver.successfulExchanges == config.failAfter) {
        // The request is lost on the way; the next exchange works again.
        g_driver.injectedFailureDone = true;
        if (config.trace) std::fprintf(stderr, "trax-sim < exchange fails (TRAX_SIM_FAIL_AFTER)\n");
        return 0;
    }

    std::vector<uint8_t> answer = g_driver.controller->Exchange(request, requestLength);
    if (answer.size() > *replyLength) {
        if (config.trace) {
            std::fprintf(stderr, "trax-sim < reply of %zu bytes does not fit into %lu\n", answer.size(), *replyLength);
        }
        return 0;
    }
    std::memcpy(reply, answer.data(), answer.size());
    *replyLength = static_cast<unsigned long>(answer.size());
    ++g_driver.successfulExchanges;
    if (config.trace) Trace("<", answer.data(), answer.size());
    return 1;
}

// Not one of the driver's entry points: the library looks it up by name to
// tell (in its trace log, and traxctl in --version) that the driver in use is
// this stand-in with a simulated controller, not the maker's driver. Plain C
// calling convention, so that its exported name is undecorated on every target.
// No header declares it: only a look-up by name finds it.
QELUSB_API const char* QelUsbStandInDescription(void);
QELUSB_API const char* QelUsbStandInDescription(void) {
    {
        SpinGuard guard(g_driver.lock);
        EnsureConfigured();
        if (g_driver.replay) return "stand-in driver answering from a recording (no hardware is used)";
    }
    return "stand-in driver with the simulated controller (no hardware is used)";
}

// Also the stand-in's own, looked up by the library at load: while a
// recording is replayed without its timing every answer comes at once, so the
// library need not wait out its whole reply limit for one that never comes.
QELUSB_API unsigned QelUsbStandInReplayWaitMs(void);
QELUSB_API unsigned QelUsbStandInReplayWaitMs(void) {
    SpinGuard guard(g_driver.lock);
    EnsureConfigured();
    return g_driver.replay && !g_driver.replay->Timing() ? kReplayAnswerWaitMs : 0u;
}

// How far the replay got, as one JSON object (traxctl replay-check); null
// without a replay. The text stays valid until the next call.
QELUSB_API const char* QelUsbStandInReplayStatus(void);
QELUSB_API const char* QelUsbStandInReplayStatus(void) {
    SpinGuard guard(g_driver.lock);
    EnsureConfigured();
    if (!g_driver.replay) return nullptr;
    g_driver.replayStatus = g_driver.replay->StatusJson();
    return g_driver.replayStatus.c_str();
}

}  // extern "C"
