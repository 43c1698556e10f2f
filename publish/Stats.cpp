#include "publish/Stats.h"

#include <cmath>
#include <sstream>

#include "client/ValueText.h"

namespace trax::publish {

std::string ReasonKind(const client::Failure& failure) {
    const std::string& r = failure.reason;
    if (failure.errorNumber && *failure.errorNumber == 5) return "mode";
    if (failure.errorNumber) return "controller-error";
    if (r.find("no reply") != std::string::npos || r.find("timed out") != std::string::npos) return "no-reply";
    if (r.find("driver") != std::string::npos || r.find("USB") != std::string::npos) return "driver";
    return "other";
}

void Stats::Call(const char* function, const CallResult& result, std::chrono::nanoseconds took) {
    const double seconds = std::chrono::duration<double>(took).count();
    std::lock_guard<std::mutex> lock(mutex_);
    PerFunction& f = functions_[function];
    ++f.calls;
    if (result) ++f.failures[ReasonKind(*result)];
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
        if (seconds <= kBuckets[i]) ++f.buckets[i];
    f.seconds += seconds;
}

std::string Stats::Text() const {
    std::ostringstream out;
    auto gauge = [&](const char* name, const char* help, double value) {
        out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n" << name << " " << value << "\n";
    };
    auto counter = [&](const char* name, const char* help, std::uint64_t value) {
        out << "# HELP " << name << " " << help << "\n# TYPE " << name << " counter\n" << name << " " << value << "\n";
    };
    gauge("trax_up", "1 while the publisher runs", 1);
    gauge("trax_publish_connected", "1 while connected to the broker", connected.load() ? 1 : 0);
    gauge("trax_controller_failing", "1 while the controller's calls fail", controllerFailing.load() ? 1 : 0);
    gauge("trax_publish_queue_messages", "messages waiting for the broker", static_cast<double>(queued.load()));
    gauge("trax_publish_queue_bytes", "bytes waiting for the broker", static_cast<double>(queuedBytes.load()));
    counter("trax_publish_messages_total", "messages handed to the broker", published.load());
    counter("trax_publish_acknowledged_total", "messages the broker acknowledged", acknowledged.load());
    counter("trax_publish_reconnects_total", "connections made again after a loss", reconnects.load());
    counter("trax_publish_dropped_total", "messages dropped when the queue was full", dropped.load());
    out << "# HELP trax_head_status 1 for the latest reading's status of each head\n# TYPE trax_head_status gauge\n";
    const int statuses[2] = {statusA.load(), statusB.load()};
    const float values[2] = {valueA.load(), valueB.load()};
    for (int h = 0; h < 2; ++h)
        out << "trax_head_status{head=\"" << (h == 0 ? "A" : "B") << "\",status=\""
            << client::StatusName(statuses[h]) << "\"} 1\n";
    out << "# HELP trax_head_value the latest valid value of each head, in its display unit\n"
           "# TYPE trax_head_value gauge\n";
    for (int h = 0; h < 2; ++h)
        if (statuses[h] == 0) out << "trax_head_value{head=\"" << (h == 0 ? "A" : "B") << "\"} " << values[h] << "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    out << "# HELP trax_calls_total library calls\n# TYPE trax_calls_total counter\n";
    for (const auto& [name, f] : functions_) out << "trax_calls_total{function=\"" << name << "\"} " << f.calls << "\n";
    out << "# HELP trax_call_failures_total library calls that returned 0, by kind of reason\n"
           "# TYPE trax_call_failures_total counter\n";
    for (const auto& [name, f] : functions_)
        for (const auto& [kind, n] : f.failures)
            out << "trax_call_failures_total{function=\"" << name << "\",kind=\"" << kind << "\"} " << n << "\n";
    out << "# HELP trax_call_duration_seconds library call durations\n"
           "# TYPE trax_call_duration_seconds histogram\n";
    for (const auto& [name, f] : functions_) {
        for (std::size_t i = 0; i < kBuckets.size(); ++i)
            out << "trax_call_duration_seconds_bucket{function=\"" << name << "\",le=\"" << kBuckets[i] << "\"} "
                << f.buckets[i] << "\n";
        out << "trax_call_duration_seconds_bucket{function=\"" << name << "\",le=\"+Inf\"} " << f.calls << "\n";
        out << "trax_call_duration_seconds_sum{function=\"" << name << "\"} " << f.seconds << "\n";
        out << "trax_call_duration_seconds_count{function=\"" << name << "\"} " << f.calls << "\n";
    }
    return out.str();
}

}  // namespace trax::publish
