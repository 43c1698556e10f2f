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
};

DriverState g_driver;

void Reconfigure(const DriverConfig& config) {
    g_driver.config = config;
    g_driver.controller.reset(new SimController(config.controller));
    g_driver.startupStep = 0;
    g_driver.successfulExchanges = 0;
    g_driver.injectedFailureDone = false;
    g_driver.configured = true;
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

    SpinGuard guard(g_driver.lock);
    const DriverConfig& config = g_driver.config;
    if (g_driver.startupStep != 4 || request == nullptr || reply == nullptr || replyLength == nullptr) return 0;
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
    return "stand-in driver with the simulated controller (no hardware is used)";
}

}  // extern "C"
