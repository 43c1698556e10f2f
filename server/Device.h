// The one thread that makes library calls for the server. HTTP handlers hand
// it jobs through a queue; between jobs it polls the measured values for the
// live stream while anybody watches. Because every call runs here, two
// browser tabs can never interleave a settings bracket with a value read,
// and a slow controller holds up the queue, not the HTTP thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/Controller.h"
#include "client/Diagnosis.h"
#include "client/Failure.h"

namespace traxserve {

// A library call that returned 0: the tools' own account of it (call,
// reason, error number, hint), its reason always filled in by the device's
// observer. Thrown inside a CallError by the controller on the device thread
// and turned into a 502 reply.
using CallFailure = trax::client::Failure;

// One call as the Log panel shows it.
struct LogEntry {
    std::uint64_t sequence;
    double seconds;  // since the server started
    std::string function;
    bool ok;
    std::string reason;  // empty when ok
};

// One reading of both heads for the live stream, already as JSON text.
struct Sample {
    double seconds;  // since the server started
    bool ok;
    std::string json;     // when ok
    CallFailure failure;  // when not
};

class Device {
public:
    using Clock = std::chrono::steady_clock;
    using SampleSink = std::function<void(const Sample&)>;
    // Reads both heads once as JSON; runs on the device thread and may throw
    // CallError.
    using Poll = std::function<std::string(Device&)>;

    Device(double rateHz, Poll poll, SampleSink sink);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Queues a job; jobs run one at a time, in order, on the device thread.
    void Submit(std::function<void()> job);
    // Waits for the job in flight, drops the rest and ends the thread.
    void Stop();

    // Live viewers; the poller runs only while there is at least one.
    void AddViewer() {
        viewers_.fetch_add(1);
        Wake();
    }
    void RemoveViewer() { viewers_.fetch_sub(1); }
    int Viewers() const { return viewers_.load(); }
    double RateHz() const { return rateHz_; }

    // Device thread only: the controller every library call of the server
    // goes through. Its observer gives each failure its reason and hint and
    // records every call in the log (routine successes, the live poll's,
    // left out).
    trax::client::Controller& Controller() { return controller_; }

    // Ctrl-C: the job in flight is asked to stop at its next step (a long
    // settings-file load checks StopRequested between settings), queued jobs
    // are dropped, and `then` runs on the device thread once the job in flight
    // has ended. Later jobs are refused.
    void Drain(std::function<void()> then);
    bool StopRequested() const { return stopRequested_.load(); }

    std::vector<LogEntry> RecentCalls(std::uint64_t after) const;
    // Calls that started while another was in flight: must stay 0.
    std::uint64_t Overlaps() const { return overlaps_.load(); }
    std::uint64_t CallCount() const { return calls_.load(); }
    std::uint64_t Polls() const { return polls_.load(); }
    double Uptime() const;

private:
    void Run();
    void Wake();
    void Record(const char* function, bool ok, const std::string& reason);
    void Observe(trax::client::CallRecord& call);

    const double rateHz_;
    const Poll poll_;
    const SampleSink sink_;
    const Clock::time_point started_;

    std::mutex mutex_;  // guards queue_ and stopping_
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;

    mutable std::mutex logMutex_;  // guards log_ and sequence_
    std::deque<LogEntry> log_;
    std::uint64_t sequence_ = 0;

    // Written by HTTP and device threads alike, hence atomic.
    std::atomic<int> viewers_{0};
    std::atomic<int> inFlight_{0};
    std::atomic<std::uint64_t> overlaps_{0};
    std::atomic<std::uint64_t> calls_{0};
    std::atomic<std::uint64_t> polls_{0};
    std::atomic<bool> stopRequested_{false};

    trax::client::Controller controller_;
    // Device thread only: a hint's own question to the controller is being asked.
    bool hinting_ = false;

    std::thread thread_;  // last: starts once everything above exists
};

// The failure as the server reports and logs it: the library's reason, or
// a general one when the library's own is not known.
CallFailure WithReason(trax::client::Failure failure);

// What to do about a failure, in the words of the page and the API.
std::string HintFor(trax::client::Trouble trouble);

}  // namespace traxserve
