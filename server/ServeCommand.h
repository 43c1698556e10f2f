// traxctl serve [--port 8642] [--bind 127.0.0.1] [--token T] [--read-only] [--rate HZ]
#pragma once

namespace traxctl {
struct Context;
}  // namespace traxctl

namespace traxserve {

int RunServe(traxctl::Context& ctx);

}  // namespace traxserve
