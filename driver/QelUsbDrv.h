// The six entry points of the controller's USB driver library, exactly as the
// driver declares them. Any build of the driver (the maker's, the stand-in with
// the simulated controller, the scripted driver of the unit tests, the instant
// driver of the benchmarks) provides these with C linkage; the library imports
// them by name.
//
// What the library relies on, for every implementation:
//
// Threads. The four start-up calls run once per process, in the order
// declared below, on the thread that loads the library: inside DllMain under
// the loader lock on Windows, in the shared object's constructor elsewhere.
// They must not wait for other threads or load other libraries. There is no
// shut-down call. CheckUsbDllStatus and QelUsbPtrIoPtr run on the USB
// channel's I/O thread. Each exported call of the library starts a new I/O
// thread and joins it before it returns, and exported calls never overlap, so
// these two are never called concurrently, but successive calls may come from
// different threads: the driver must not tie its state to a thread.
//
// Blocking. The start-up calls and CheckUsbDllStatus should return promptly;
// CheckUsbDllStatus runs before the first exchange of every exported call, so
// its time adds to each call. QelUsbPtrIoPtr may block for as long as the
// controller takes to answer. The calling thread gives up on a reply after
// 10 s and the call fails, but the exported call still waits for the
// exchange to return before it ends: an exchange that never returns hangs it.
//
// Buffers. Every pointer is valid for the duration of the call only; the
// driver keeps none of them.
#pragma once

#include <cstdint>

// On 32-bit Windows the driver's convention is not documented: the library
// calls it through a thunk that works with either (driver/DriverCall.h), and
// the stand-in driver can be built with __cdecl (QELUSB_USE_CDECL) to prove it.
#if defined(_WIN32) && !defined(QELUSB_USE_CDECL)
#define QELUSB_CALL __stdcall
#else
#define QELUSB_CALL
#endif

#if defined(_WIN32) && defined(QELUSB_BUILDING_DRIVER)
#define QELUSB_API __declspec(dllexport)
#elif defined(QELUSB_BUILDING_DRIVER)
#define QELUSB_API __attribute__((visibility("default")))
#else
#define QELUSB_API
#endif

extern "C" {

#pragma pack(push, 1)
// Passed by value; both fields are always 0 from this library.
typedef struct sUSBPARAM {
    int32_t value;
    uint8_t flag;
} sUSBPARAM;
#pragma pack(pop)

// Passed by pointer; the library sets only the product code and device name.
typedef struct sQELUSBTYPEPARAM {
    uint16_t productCode;
    char deviceName[78];
} sQELUSBTYPEPARAM;

static_assert(sizeof(sUSBPARAM) == 5, "sUSBPARAM is 5 bytes on the wire of the call");
static_assert(sizeof(sQELUSBTYPEPARAM) == 80, "sQELUSBTYPEPARAM is 80 bytes");

// Start-up step 1. param points to a zeroed record with productCode 10 and
// the NUL-terminated device name "VoraxUSB_U-0"; the driver may fill the rest.
// mode is 1. Result 1 = success; any other value fails the library's start-up
// (the later steps still run).
QELUSB_API long QELUSB_CALL InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode);
// Start-up step 2, with type 2. The result is ignored.
QELUSB_API long QELUSB_CALL SetUsbType(long type);
// Start-up step 3, with {0, 0} and the NUL-terminated device name
// "VoraxUSB_U-0". Non-zero = success; 0 fails the library's start-up.
QELUSB_API int QELUSB_CALL InitUsb(sUSBPARAM param, const char* deviceName);
// Start-up step 4, with {0, 0} and product code 10. Non-zero = success; 0
// fails the library's start-up.
QELUSB_API int QELUSB_CALL InitPid(sUSBPARAM param, unsigned short productCode);
// Called by each I/O thread at its start with flags 0, before any exchange.
// 1 = the driver is usable. Any other value ends the thread at once without a
// report, and the exported call fails: at once when its send finds the thread
// ended, otherwise when its reply wait ends.
QELUSB_API int QELUSB_CALL CheckUsbDllStatus(long flags);
// One exchange: request bytes out, the whole reply back.
//   request, requestLength: one complete request packet (at least its 4-byte
//     header, at most 1024 bytes, the I/O thread's request buffer); the
//     driver does not write to it.
//   reply: the I/O thread's buffer of *replyLength bytes.
//   *replyLength: before the call, the capacity of reply (1048576). After a
//     non-zero result, the number of reply bytes written to reply[0..]. A
//     value above the capacity counts as a failed exchange; 0 means "no
//     answer": the caller goes on waiting and the call fails when its reply
//     wait ends.
// Result: non-zero = the exchange is done and the whole reply is in reply;
// the library takes each exchange's bytes as one reply and never waits for a
// rest to follow in a later exchange. 0 = the exchange
// failed: *replyLength and reply are ignored, the I/O thread ends, the
// waiting call fails at once, and the next exported call starts a new thread.
// A reply that does not fit the capacity must fail the exchange (result 0)
// rather than be cut short.
QELUSB_API unsigned long QELUSB_CALL QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength,
                                                    unsigned char* reply, unsigned long* replyLength);
}
