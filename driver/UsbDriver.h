// The library's side of the USB driver: the start-up made once per process.
#pragma once

#include <cstdint>

#include "driver/DriverCall.h"

namespace trax::driver {

constexpr uint16_t kUsbProductCode = 10;
constexpr const char* kUsbDeviceName = "VoraxUSB_U-0";
constexpr long kTypeParamMode = 1;
constexpr long kUsbType = 2;
// The driver's file on Windows, and the export only the stand-in driver has.
constexpr const char* kDriverFileName = "QelUsbDrv.dll";
constexpr const char* kStandInExport = "QelUsbStandInDescription";
// Exported by the stand-in only while it answers from a recording at once
// (without the recorded timing): how long its answer may take at most.
constexpr const char* kStandInReplayWaitExport = "QelUsbStandInReplayWaitMs";

// What each of the four start-up calls returned, for the trace log.
struct StartupResults {
    long typeParam;
    long usbType;
    int initUsb;
    int initPid;
};

// Runs the four start-up calls of the driver, always all four and in order.
// Returns 1 when the type parameters, InitUsb and InitPid succeeded; the
// single results go to *results when it is not null.
[[nodiscard]] int UsbDriverStartup(StartupResults* results = nullptr);

// Whether the driver library in use is the stand-in with the simulated
// controller (it exports one more function that says so), and its words.
const char* StandInDriverDescription();
// The driver library's file, copied into buffer; false when not known.
bool DriverFile(char* buffer, int size);

// 0 for every driver but the stand-in answering a recording at once. There
// an answer that has not come within this time will not come, so the
// transaction engine waits this long instead of its reply limit (the reasons
// still name the limit, as the recorded run did). Learnt once at load.
uint32_t ReplayAnswerWaitMs();
void LearnReplayAnswerWait();

}  // namespace trax::driver
