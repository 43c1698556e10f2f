#include "driver/DriverCall.h"

#include <cstring>
#include <initializer_list>

namespace trax::driver {

#if defined(_WIN32) && defined(__i386__)

namespace {

// Every argument of the six functions fills one or two 32-bit stack words.
template <typename Function>
uint32_t Call(Function* function, std::initializer_list<uint32_t> words) {
    return CallEitherConvention(reinterpret_cast<const void*>(function), words.begin(),
                                static_cast<uint32_t>(words.size()), nullptr);
}

uint32_t Word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
uint32_t Word(long value) { return static_cast<uint32_t>(value); }
uint32_t Word(unsigned long value) { return static_cast<uint32_t>(value); }

// The 5-byte record passed by value takes two stack words, its bytes first.
struct ParamWords {
    uint32_t words[2] = {0, 0};
    explicit ParamWords(const sUSBPARAM& param) { std::memcpy(words, &param, sizeof param); }
};

}  // namespace

long InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode) {
    return static_cast<long>(Call(&::InitQelUsbTypeParam, {Word(param), Word(mode)}));
}

long SetUsbType(long type) { return static_cast<long>(Call(&::SetUsbType, {Word(type)})); }

int InitUsb(sUSBPARAM param, const char* deviceName) {
    const ParamWords p(param);
    return static_cast<int>(Call(&::InitUsb, {p.words[0], p.words[1], Word(deviceName)}));
}

int InitPid(sUSBPARAM param, unsigned short productCode) {
    const ParamWords p(param);
    return static_cast<int>(Call(&::InitPid, {p.words[0], p.words[1], uint32_t{productCode}}));
}

int CheckUsbDllStatus(long flags) { return static_cast<int>(Call(&::CheckUsbDllStatus, {Word(flags)})); }

unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    return static_cast<unsigned long>(
        Call(&::QelUsbPtrIoPtr, {Word(request), Word(requestLength), Word(reply), Word(replyLength)}));
}

#else

long InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode) { return ::InitQelUsbTypeParam(param, mode); }
long SetUsbType(long type) { return ::SetUsbType(type); }
int InitUsb(sUSBPARAM param, const char* deviceName) { return ::InitUsb(param, deviceName); }
int InitPid(sUSBPARAM param, unsigned short productCode) { return ::InitPid(param, productCode); }
int CheckUsbDllStatus(long flags) { return ::CheckUsbDllStatus(flags); }
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    return ::QelUsbPtrIoPtr(request, requestLength, reply, replyLength);
}

const char* ObservedConvention() { return "native"; }

#endif

}  // namespace trax::driver
