#include "sim/SimSleep.h"

#include <cerrno>
#include <ctime>

namespace trax::sim {

void SleepMicroseconds(uint32_t us) {
    if (us == 0) return;
    timespec left{static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace trax::sim
