#include "sim/SimSleep.h"

#include <windows.h>

namespace trax::sim {

void SleepMicroseconds(uint32_t us) {
    if (us == 0) return;
    // Sleep counts whole milliseconds; round up so a small latency is not lost.
    Sleep(static_cast<DWORD>((us + 999u) / 1000u));
}

}  // namespace trax::sim
