// What traxctl suggests after a failed call: the client layer's diagnosis,
// worded as the traxctl command that helps.
#pragma once

#include <string>

#include "client/Controller.h"
#include "client/Diagnosis.h"
#include "client/Failure.h"

namespace traxctl {

// "" when there is nothing to suggest.
std::string HintFor(trax::client::Trouble trouble);
// Diagnoses the failure (which may ask the controller whether it is in
// setting mode) and returns the hint for it.
std::string HintFor(const trax::client::Failure& failure, trax::client::Controller& controller);

}  // namespace traxctl
