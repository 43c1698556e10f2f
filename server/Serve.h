// traxctl serve: the controller in a web browser. An HTTP server on one
// thread, the library on another (Device), the page embedded in the program.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

namespace traxserve {

struct ServeOptions {
    unsigned short port = 8642;  // 0: any free port (printed)
    std::string bind = "127.0.0.1";
    std::string token;  // needed by every request when not empty
    bool readOnly = false;
    double rateHz = 20;  // the live poller's rate
    std::string unit;    // the values' unit name, "" when not known
    std::string version;
    std::size_t maxViewers = 250;                  // live viewers at once; more get 503
    std::chrono::milliseconds idleTimeout{30000};  // a connection that sends nothing is closed
};

// Whether `bind` is a loopback address; nullopt when it is no IP address.
std::optional<bool> IsLoopbackAddress(const std::string& bind);

// Serves until SIGINT or SIGTERM; returns 130 after closing the connections,
// or 1 when the address cannot be bound.
int Serve(const ServeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace traxserve
