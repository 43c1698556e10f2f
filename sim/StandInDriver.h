// In-process control of the stand-in driver, for tests that link its source
// directly. The shared library reads its configuration from the environment at
// the first driver call instead; nothing here is exported from it.
#pragma once

#include "sim/SimConfig.h"

namespace trax::sim {

// Replaces the configuration, forgets the start-up and the exchange count, and
// gives the driver a fresh simulated controller.
void ResetStandInDriver(const DriverConfig& config);

}  // namespace trax::sim
