// What traxctl suggests after a failed call, naming the traxctl command that
// helps.
#pragma once

#include <string>

#include "client/Controller.h"
#include "client/Failure.h"

namespace traxctl {

// "" when there is nothing to suggest. May ask the controller whether it is
// in setting mode (a storage status, which leaves its mode as it is).
std::string HintFor(const trax::client::Failure& failure, trax::client::Controller& controller);

}  // namespace traxctl
