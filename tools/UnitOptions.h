// The unit traxctl names for the measured values: the library hands values
// out in each head's display unit but reports neither the unit system nor
// (without a setting-mode round trip) the display unit, so the user names it
// (--unit) or lets traxctl read its code (--read-unit with --units).
#pragma once

#include "Cli.h"
#include "client/ValueText.h"

namespace traxctl {

using trax::client::DisplayUnit;

// The unit of a head's values as the user's options give it (see
// UnitOptions); only with --read-unit does this call the library, and that
// call switches the controller to setting mode and back.
DisplayUnit UnitOf(const Context& ctx, int head);
// Once per process, on the error stream: the unit is not known, and how to name it.
void SayUnitNotKnown(const Context& ctx, const DisplayUnit& unit);

}  // namespace traxctl
