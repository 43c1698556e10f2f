// A driver for the fault sweep: the simulated controller in-process, with one
// chosen exchange spoilt in one of four ways. Every other exchange is the
// controller's own answer.
#pragma once

#include <cstdint>

namespace trax::fault {

enum class Fault {
    None,
    LostRequest,  // the exchange fails; the controller never saw the request
    LostReply,    // the controller acted on the request; its answer is lost
    ErrorReply,   // the controller refuses the request with an error reply
    ShortReply,   // the controller acted; its answer arrives cut after the reply code
    LateReply,    // the controller acted; its answer comes after the wait for it ran out
};

// A fresh controller in measurement mode, no fault planned, the count at 0.
void ResetController();
// Spoils the exchange with this index (0 = the next one) in the given way.
void PlanFault(int index, Fault fault);
// Exchanges since the last reset or planned fault.
int ExchangeCount();
// The command code of the spoilt exchange, or -1 when none was spoilt.
int SpoiltCommand();

// The engine's clock for the sweep. It counts the transactions that start
// their wait, gives the one of a late exchange a short wait and holds that
// exchange's answer back until the next transaction started (or half a
// second passed, when none follows), so the answer surely comes late.
void UseSweepTiming();

}  // namespace trax::fault
