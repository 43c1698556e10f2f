// The soak's driver: the simulated controller in-process, with a random pause
// per exchange standing for the USB round trip and a small share of exchanges
// spoilt on purpose (lost, or refused with an error reply).
#pragma once

#include <cstdint>

namespace trax::soak {

struct SoakLink {
    uint32_t maxLatencyUs = 300;
    // Out of every million exchanges.
    uint32_t lostPerMillion = 3000;
    uint32_t refusedPerMillion = 2000;
    uint64_t seed = 1;
};

void ConfigureLink(const SoakLink& link);

// Totals so far; the fault count never goes down, so a caller can compare it
// before and after a call.
uint64_t ExchangeTotal();
uint64_t InjectedFaultTotal();

}  // namespace trax::soak
