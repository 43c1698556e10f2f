// The five start-up and status functions of a driver that is always ready:
// for the in-process drivers of the benchmarks, the fault sweep and the
// fuzzer, which differ only in how they answer QelUsbPtrIoPtr. Include it in
// exactly one source file of such a driver.
#pragma once

#include "driver/QelUsbDrv.h"

extern "C" {
long InitQelUsbTypeParam(sQELUSBTYPEPARAM*, long) { return 1; }
long SetUsbType(long) { return 0; }
int InitUsb(sUSBPARAM, const char*) { return 1; }
int InitPid(sUSBPARAM, unsigned short) { return 1; }
int CheckUsbDllStatus(long) { return 1; }
}
