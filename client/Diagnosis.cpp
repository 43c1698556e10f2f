#include "client/Diagnosis.h"

namespace trax::client {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

Trouble Diagnose(const Failure& failure, Controller& controller) {
    const std::string& reason = failure.reason;
    const bool driverAtFault =
        reason.find("QelUsbDrv") != std::string::npos || reason.find("start-up") != std::string::npos;
    if (StartsWith(reason, "the library did not load") && !driverAtFault) return Trouble::LibraryMissing;
    if (StartsWith(reason, "the library did not load") || StartsWith(reason, "library unusable"))
        return Trouble::DriverMissing;
    if (reason.find("busy") != std::string::npos) return Trouble::Busy;
    if (StartsWith(reason, "no reply") || StartsWith(reason, "exchange failed") ||
        StartsWith(reason, "channel could not be created"))
        return Trouble::NoLink;
    if (!StartsWith(reason, "refused by the controller")) return Trouble::Unknown;
    // Measurement, storage and control commands are refused in setting mode.
    // The storage status is the one question that tells, without switching.
    if (failure.errorNumber == 5 && failure.function == "TRAX_DataStorageGetStatus") return Trouble::SettingMode;
    if (!failure.errorNumber) return Trouble::Unknown;
    try {
        controller.ReadStorageStatus(0);
    } catch (const CallError& e) {
        if (e.failure().errorNumber == 5) return Trouble::SettingMode;
    }
    return Trouble::Unknown;
}

std::string LibraryPlacement() {
#if defined(_WIN32)
    return "Trax.dll must be beside the program (traxctl.exe) or in a folder on PATH; TRAX_LIBRARY names it";
#else
    return "libtrax.so.2 must be in the kit's lib folder or on LD_LIBRARY_PATH; TRAX_LIBRARY names it";
#endif
}

std::string DriverPlacement() {
#if defined(_WIN32)
    return "QelUsbDrv.dll must be beside the program (traxctl.exe), in a folder on PATH or in a system folder, "
           "and the controller connected";
#else
    return "the USB driver libQelUsbDrv.so must be in the folder of libtrax.so and the controller connected";
#endif
}

}  // namespace trax::client
