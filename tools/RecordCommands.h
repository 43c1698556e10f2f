// traxctl's side of the exchange recording: --record and --replay, and the
// commands replay-check and support.
#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace traxctl {

// Takes --record FILE and --replay FILE (before or after the command) out of
// args and sets TRAX_RECORD and TRAX_SIM_REPLAY for the library, which is
// loaded afterwards; replay-check and support set what they need the same
// way. Returns the exit status when traxctl must end here, else 0.
int TakeRecordOptions(std::vector<std::string>& args);

// traxctl replay-check FILE: makes the calls the recording names, with their
// recorded arguments, against the stand-in driver replaying it, and says
// whether the recording replays to its end.
int RunReplayCheck(Context& ctx);

// traxctl support FILE: one JSON document for a support request.
int RunSupport(Context& ctx);

}  // namespace traxctl
