#include "Hints.h"

#include "Cli.h"

namespace traxctl {

using trax::client::Trouble;

std::string HintFor(Trouble trouble) {
    switch (trouble) {
    case Trouble::LibraryMissing:
        return trax::client::LibraryPlacement();
    case Trouble::DriverMissing:
        return trax::client::DriverPlacement() + "; 'traxctl doctor' checks each step";
    case Trouble::Busy:
        return "the controller stays busy: an Able adjustment or a storage run may be in progress "
               "('traxctl able stop', 'traxctl storage stop')";
    case Trouble::NoLink:
        return "check the USB cable and the controller's power, and that no other program holds the controller";
    case Trouble::SettingMode:
        return "the controller is in setting mode; 'traxctl mode measure' brings it back to measurement";
    case Trouble::Unknown:
        break;
    }
    return "";
}

std::string HintFor(const trax::client::Failure& failure, trax::client::Controller& controller) {
    // The diagnosis's own question is part of reporting the failure: Ctrl-C
    // does not cut it short.
    const CtrlCBetweenRows diagnosing;
    return HintFor(trax::client::Diagnose(failure, controller));
}

}  // namespace traxctl
