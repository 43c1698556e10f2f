#include "client/Diagnosis.h"

#include "client/System.h"

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

std::string LibraryPlacement() { return system::LibraryPlacementHint(); }

std::string DriverPlacement() { return system::DriverPlacementHint(); }

}  // namespace trax::client
