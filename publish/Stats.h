// What the publisher counts, for its /metrics (--metrics-port): library calls
// (client/CallStats), messages, reconnects, drops, the queue and the latest
// reading. Written by both threads, read by the metrics thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "client/CallStats.h"
#include "publish/ControllerPort.h"

namespace trax::publish {

class Stats {
public:
    client::CallStats calls;
    std::atomic<std::uint64_t> published{0}, acknowledged{0}, reconnects{0}, dropped{0};
    std::atomic<std::uint64_t> queued{0}, queuedBytes{0};
    std::atomic<bool> connected{false};
    std::atomic<bool> controllerFailing{false};
    std::atomic<int> statusA{3}, statusB{3};
    std::atomic<float> valueA{0}, valueB{0};

    // Prometheus text exposition format, version 0.0.4.
    std::string Text(const std::string& unit) const;
};

}  // namespace trax::publish
