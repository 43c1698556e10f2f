#include "driver/UsbDriver.h"

#include <atomic>
#include <cstring>

#include "platform/Platform.h"

namespace trax::driver {

int UsbDriverStartup(StartupResults* results) {
    sQELUSBTYPEPARAM typeParam;
    std::memset(&typeParam, 0, sizeof typeParam);
    typeParam.productCode = kUsbProductCode;
    std::strncpy(typeParam.deviceName, kUsbDeviceName, sizeof typeParam.deviceName - 1);

    const sUSBPARAM usbParam = {0, 0};
    // A failed step does not stop the later ones: the driver expects all four.
    StartupResults r{};
    r.typeParam = driver::InitQelUsbTypeParam(&typeParam, kTypeParamMode);
    r.usbType = driver::SetUsbType(kUsbType);  // its result carries nothing the library relies on
    r.initUsb = driver::InitUsb(usbParam, kUsbDeviceName);
    r.initPid = driver::InitPid(usbParam, kUsbProductCode);
    if (results != nullptr) *results = r;
    return (r.typeParam == 1 && r.initUsb != 0 && r.initPid != 0) ? 1 : 0;
}

const char* StandInDriverDescription() {
    using Describe = const char* (*)();
    void* found =
        platform::FindExportBeside(reinterpret_cast<const void*>(&::QelUsbPtrIoPtr), kDriverFileName, kStandInExport);
    if (found == nullptr) return nullptr;
    const char* text = reinterpret_cast<Describe>(found)();
    return text != nullptr ? text : "";
}

bool DriverFile(char* buffer, int size) {
    return platform::ModuleFileBeside(reinterpret_cast<const void*>(&::QelUsbPtrIoPtr), kDriverFileName, buffer, size);
}

namespace {
std::atomic<uint32_t> replayAnswerWaitMs{0};
}

uint32_t ReplayAnswerWaitMs() { return replayAnswerWaitMs.load(std::memory_order_relaxed); }

void LearnReplayAnswerWait() {
    using Query = unsigned (*)();
    void* found = platform::FindExportBeside(reinterpret_cast<const void*>(&::QelUsbPtrIoPtr), kDriverFileName,
                                             kStandInReplayWaitExport);
    replayAnswerWaitMs.store(found != nullptr ? reinterpret_cast<Query>(found)() : 0u);
}

}  // namespace trax::driver
