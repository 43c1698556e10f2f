// traxctl serve [--port 8642] [--bind 127.0.0.1] [--token T] [--read-only] [--rate HZ]
#pragma once

#include "Cli.h"

namespace traxctl {

int RunServe(Context& ctx);

}  // namespace traxctl
