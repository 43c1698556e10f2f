#include "client/CallStats.h"

#include <sstream>

namespace trax::client {

std::string ReasonKind(const Failure& failure) {
    if (failure.errorNumber) return *failure.errorNumber == 5 ? "mode" : "controller-error";
    const std::string& r = failure.reason;
    if (r.find("no reply") != std::string::npos || r.find("timed out") != std::string::npos) return "no-reply";
    if (r.find("driver") != std::string::npos || r.find("USB") != std::string::npos) return "driver";
    return "other";
}

std::string PrometheusLabel(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void CallStats::Record(const std::string& function, const Failure* failure, std::chrono::nanoseconds took) {
    const double seconds = std::chrono::duration<double>(took).count();
    std::lock_guard<std::mutex> lock(mutex_);
    PerFunction& f = functions_[function];
    ++f.calls;
    if (failure != nullptr) ++f.failures[ReasonKind(*failure)];
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
        if (seconds <= kBuckets[i]) ++f.buckets[i];
    f.seconds += seconds;
}

std::string CallStats::PrometheusText() const {
    std::ostringstream out;
    std::lock_guard<std::mutex> lock(mutex_);
    out << "# HELP trax_calls_total Library calls made.\n# TYPE trax_calls_total counter\n";
    for (const auto& [name, f] : functions_)
        out << "trax_calls_total{function=\"" << PrometheusLabel(name) << "\"} " << f.calls << "\n";
    out << "# HELP trax_call_failures_total Library calls that returned 0, by kind of reason.\n"
           "# TYPE trax_call_failures_total counter\n";
    for (const auto& [name, f] : functions_)
        for (const auto& [kind, n] : f.failures)
            out << "trax_call_failures_total{function=\"" << PrometheusLabel(name) << "\",kind=\"" << kind << "\"} "
                << n << "\n";
    out << "# HELP trax_call_duration_seconds How long library calls took.\n"
           "# TYPE trax_call_duration_seconds histogram\n";
    for (const auto& [name, f] : functions_) {
        const std::string label = "function=\"" + PrometheusLabel(name) + "\"";
        for (std::size_t i = 0; i < kBuckets.size(); ++i)
            out << "trax_call_duration_seconds_bucket{" << label << ",le=\"" << kBuckets[i] << "\"} " << f.buckets[i]
                << "\n";
        out << "trax_call_duration_seconds_bucket{" << label << ",le=\"+Inf\"} " << f.calls << "\n";
        out << "trax_call_duration_seconds_sum{" << label << "} " << f.seconds << "\n";
        out << "trax_call_duration_seconds_count{" << label << "} " << f.calls << "\n";
    }
    return out.str();
}

}  // namespace trax::client
