// The six entry points of the controller's USB driver library, exactly as the
// driver declares them. Any build of the driver (the maker's, the stand-in with
// the simulated controller, the scripted driver of the unit tests) provides
// these with C linkage; the library imports them by name.
#pragma once

#include <cstdint>

#if defined(_WIN32)
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

// Start-up, called once when the library is loaded. 1 = success.
QELUSB_API long QELUSB_CALL InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode);
// Result ignored by the library.
QELUSB_API long QELUSB_CALL SetUsbType(long type);
// Non-zero = success.
QELUSB_API int QELUSB_CALL InitUsb(sUSBPARAM param, const char* deviceName);
// Non-zero = success.
QELUSB_API int QELUSB_CALL InitPid(sUSBPARAM param, unsigned short productCode);
// Called by each I/O thread at its start: 1 = the driver is usable.
QELUSB_API int QELUSB_CALL CheckUsbDllStatus(long flags);
// One exchange: request bytes out, the whole reply back. *replyLength is preset
// to the capacity of reply; on success (non-zero) it holds the reply's length.
QELUSB_API unsigned long QELUSB_CALL QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength,
                                                    unsigned char* reply, unsigned long* replyLength);
}
