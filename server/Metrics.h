// GET /metrics: the controller for a Prometheus server, in its text format.
// The latest value and status of each head (with its unit), the controller's
// mode, the storage's state and counts, and the calls the server made, their
// failures by kind of reason and their durations. Served under the same
// rules as the API (loopback, Host, the token as a bearer token).
#pragma once

#include <chrono>
#include <string>

#include "Api.h"
#include "client/CallStats.h"

namespace traxserve {

// The server's count of library calls, fed where every call is logged.
trax::client::CallStats& ServerCallStats();

// The /metrics route's handler: reads the values and the storage status on
// the device thread, then writes everything out.
Reply MetricsRoute(ApiContext& context, const Request& request);

}  // namespace traxserve
