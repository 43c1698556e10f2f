// How the library calls the six driver functions. Everything above the
// driver layer calls these, never the driver's symbols themselves.
//
// On 32-bit Windows the driver's calling convention is not known beforehand:
// each call goes through a thunk that works with __cdecl and __stdcall alike
// and notes which one the driver showed. On every other platform there is one
// convention and these forward directly.
#pragma once

#include <cstdint>

#include "driver/QelUsbDrv.h"

namespace trax::driver {

long InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode);
long SetUsbType(long type);
int InitUsb(sUSBPARAM param, const char* deviceName);
int InitPid(sUSBPARAM param, unsigned short productCode);
int CheckUsbDllStatus(long flags);
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength);

// The calling convention the driver's functions showed at the latest call:
// "cdecl" (the caller removed the arguments), "stdcall" (the driver removed
// them), "unknown" before the first call or when the stack moved by any other
// amount. "native" where the platform has a single convention.
const char* ObservedConvention();

#if defined(_WIN32) && defined(__i386__)
enum class Convention : int { Unknown = 0, Cdecl = 1, Stdcall = 2 };

// Calls `function` with `count` 32-bit argument words (first argument at
// args[0]) and returns its 32-bit result, whichever of the two conventions it
// follows. The stack pointer is restored after the call either way. Records
// and returns in `seen` the convention the call showed.
uint32_t CallEitherConvention(const void* function, const uint32_t* args, uint32_t count, Convention* seen);
#endif

}  // namespace trax::driver
