// The one operating-system service the simulated link needs: a pause that
// stands for the USB round trip. One file per OS implements it.
#pragma once

#include <cstdint>

namespace trax::sim {

void SleepMicroseconds(uint32_t us);

}  // namespace trax::sim
