// Library calls counted for monitoring: per function, the calls, the failures
// by kind of reason, and a histogram of their durations, written out in the
// Prometheus text format. Fed from a face's call hook; safe from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "client/Failure.h"

namespace trax::client {

// A failure's reason reduced to a few kinds, so that a label stays small:
// "mode" (the controller is in the other mode), "controller-error" (it
// answered with another error number), "no-reply", "driver", "other".
std::string ReasonKind(const Failure& failure);

class CallStats {
public:
    // Upper bounds of the duration histogram, in seconds.
    static constexpr std::array<double, 9> kBuckets = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.05, 0.25, 1.0, 10.0};

    // failure: null when the call returned 1.
    void Record(const std::string& function, const Failure* failure, std::chrono::nanoseconds took);

    // trax_calls_total, trax_call_failures_total and trax_call_duration_seconds,
    // with their HELP and TYPE lines.
    std::string PrometheusText() const;

private:
    struct PerFunction {
        std::uint64_t calls = 0;
        std::map<std::string, std::uint64_t> failures;
        std::array<std::uint64_t, kBuckets.size()> buckets{};
        double seconds = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, PerFunction> functions_;
};

// A label value as the text format wants it: backslash, quote and newline escaped.
std::string PrometheusLabel(const std::string& value);

}  // namespace trax::client
