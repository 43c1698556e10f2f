// What a failed call says is wrong, as a kind the faces word for themselves:
// traxctl names a command to type, the server a button on its page. The
// words are the face's; the judgement, and the one question it may ask the
// controller, are made here once.
#pragma once

#include <string>

#include "client/Controller.h"
#include "client/Failure.h"

namespace trax::client {

enum class Trouble {
    Unknown,         // nothing more to say than the reason
    LibraryMissing,  // the library did not load
    DriverMissing,   // the library loaded, its USB driver did not start
    Busy,            // the controller stays busy (Able adjustment, storage run)
    NoLink,          // no reply, a failed exchange: cable, power, another program
    SettingMode,     // refused because the controller is in setting mode
};

// May ask the controller, through `controller`, for its storage status: the
// one question that tells setting mode without switching it.
Trouble Diagnose(const Failure& failure, Controller& controller);

// Where the library and its USB driver belong on this system, for a hint.
std::string LibraryPlacement();
std::string DriverPlacement();

}  // namespace trax::client
