// The chain from the program to the controller, checked link by link in the
// order a failure would show up: library, driver, the driver's start-up, its
// calling convention, a controller that answers, its mode, the display units
// and the storage. Asks the controller only questions that leave its mode as
// it is, except for the display units, which exist only in setting mode (the
// check switches there and back, and only when the controller is measuring).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "client/Controller.h"

namespace trax::client {

struct DoctorCheck {
    std::string name;  // "library", "driver", ...
    bool ok = false;
    std::string detail;  // what was found
    std::string hint;    // what to do, for a failed check
};

// The face's words for what to do about a failed call ("" for nothing).
using HintWords = std::function<std::string(const Failure&)>;

// Loads the library when that has not happened yet; the questions go
// through `controller`, so that its observers see them.
std::vector<DoctorCheck> RunDoctor(Controller& controller, const HintWords& hint);

}  // namespace trax::client
