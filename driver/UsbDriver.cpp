#include "driver/UsbDriver.h"

#include <cstring>

namespace trax::driver {

int UsbDriverStartup() {
    sQELUSBTYPEPARAM typeParam;
    std::memset(&typeParam, 0, sizeof typeParam);
    typeParam.productCode = kUsbProductCode;
    std::strncpy(typeParam.deviceName, kUsbDeviceName, sizeof typeParam.deviceName - 1);

    const sUSBPARAM usbParam = {0, 0};
    // A failed step does not stop the later ones: the driver expects all four.
    const bool typeOk = InitQelUsbTypeParam(&typeParam, kTypeParamMode) == 1;
    SetUsbType(kUsbType);  // its result carries nothing the library relies on
    const bool usbOk = InitUsb(usbParam, kUsbDeviceName) != 0;
    const bool pidOk = InitPid(usbParam, kUsbProductCode) != 0;
    return (typeOk && usbOk && pidOk) ? 1 : 0;
}

}  // namespace trax::driver
