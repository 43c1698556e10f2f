// What the publisher counts, for its /metrics (--metrics-port): library calls
// and failures per function, call durations, messages, reconnects, drops and
// the queue. Written by both threads, read by the metrics thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "publish/ControllerPort.h"

namespace trax::publish {

class Stats {
public:
    // Upper bounds of the call duration histogram, in seconds.
    static constexpr std::array<double, 8> kBuckets = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.05, 0.25, 1.0};

    void Call(const char* function, const CallResult& result, std::chrono::nanoseconds took);

    std::atomic<std::uint64_t> published{0}, acknowledged{0}, reconnects{0}, dropped{0};
    std::atomic<std::uint64_t> queued{0}, queuedBytes{0};
    std::atomic<bool> connected{false};
    std::atomic<bool> controllerFailing{false};
    // The latest reading per head (status code, value) as bits, for the gauges.
    std::atomic<int> statusA{3}, statusB{3};
    std::atomic<float> valueA{0}, valueB{0};

    // Prometheus text exposition format, version 0.0.4.
    std::string Text() const;

private:
    struct PerFunction {
        std::uint64_t calls = 0;
        std::map<std::string, std::uint64_t> failures;  // by reason kind
        std::array<std::uint64_t, kBuckets.size()> buckets{};
        double seconds = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, PerFunction> functions_;
};

// A failure's reason reduced to a few kinds, for a label that stays small:
// "controller-error", "no-reply", "driver", "mode", "other".
std::string ReasonKind(const client::Failure& failure);

}  // namespace trax::publish
