// The library's side of the USB driver: the start-up made once per process.
#pragma once

#include "driver/QelUsbDrv.h"

namespace trax::driver {

constexpr uint16_t kUsbProductCode = 10;
constexpr const char* kUsbDeviceName = "VoraxUSB_U-0";
constexpr long kTypeParamMode = 1;
constexpr long kUsbType = 2;

// Runs the four start-up calls of the driver, always all four and in order.
// Returns 1 when the type parameters, InitUsb and InitPid succeeded.
int UsbDriverStartup();

}  // namespace trax::driver
