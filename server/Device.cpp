#include "Device.h"

#include "Metrics.h"

#include <utility>

namespace traxserve {

namespace {

constexpr size_t kLogLength = 200;

}  // namespace

CallFailure WithReason(trax::client::Failure failure) {
    if (failure.reason.empty())
        failure.reason =
            failure.function + " returned 0: no answer, refused by the controller, or the USB driver did not start";
    return failure;
}

Device::Device(double rateHz, Poll poll, SampleSink sink)
    : rateHz_(rateHz), poll_(std::move(poll)), sink_(std::move(sink)), started_(Clock::now()), thread_([this] {
          Run();
      }) {}

Device::~Device() { Stop(); }

void Device::Submit(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || stopRequested_.load()) return;
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void Device::Wake() {
    // Taking the lock orders the wake after the waiter's predicate check.
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_one();
}

void Device::Drain(std::function<void()> then) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_.store(true);
        queue_.clear();
        if (!stopping_) queue_.push_back(std::move(then));
    }
    wake_.notify_one();
}

void Device::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

double Device::Uptime() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }

void Device::Run() {
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rateHz_));
    Clock::time_point nextPoll = Clock::now();
    for (;;) {
        std::function<void()> job;
        bool pollNow = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            for (;;) {
                if (stopping_) return;
                const bool watching = viewers_.load() > 0;
                const auto now = Clock::now();
                // A due poll goes before queued jobs so that the stream keeps
                // its rate while pages make requests.
                if (watching && now >= nextPoll) {
                    pollNow = true;
                    break;
                }
                if (!queue_.empty()) {
                    job = std::move(queue_.front());
                    queue_.pop_front();
                    break;
                }
                if (watching)
                    wake_.wait_until(lock, nextPoll);
                else
                    wake_.wait(lock);
                if (!watching) nextPoll = Clock::now();
            }
        }
        if (job) {
            // A job's own failures are its reply's business; anything that
            // still escapes must not end the thread every request depends on.
            try {
                job();
            } catch (...) {
            }
            continue;
        }
        if (pollNow) {
            const auto now = Clock::now();
            // Fell behind by more than a period (a slow job): start the beat
            // again instead of firing a burst of polls to catch up.
            nextPoll = now - nextPoll > period ? now + period : nextPoll + period;
            Sample sample{Uptime(), true, "", {}};
            try {
                sample.json = poll_(*this);
            } catch (const CallFailure& f) {
                sample.ok = false;
                sample.failure = f;
            } catch (const std::exception& e) {
                sample.ok = false;
                sample.failure = WithReason(trax::client::Failure{"TRAX_GetCalcData", e.what(), std::nullopt, ""});
            }
            polls_.fetch_add(1);
            sink_(sample);
        }
    }
}

void Device::Call(const char* function, const std::function<int()>& call, bool logSuccess) {
    if (inFlight_.fetch_add(1) != 0) overlaps_.fetch_add(1);
    const auto started = Clock::now();
    const int result = call();
    const auto took = Clock::now() - started;
    inFlight_.fetch_sub(1);
    calls_.fetch_add(1);
    if (result == 1) {
        ServerCallStats().Record(function, nullptr, took);
        if (logSuccess) Record(function, true, "");
        return;
    }
    // The library's reason is read on this thread, right after the call; the
    // hint may ask the controller one more question, still from here.
    trax::client::Failure known = trax::client::FailureOf(function);
    trax::client::AddHint(known);
    const CallFailure failure = WithReason(std::move(known));
    ServerCallStats().Record(function, &failure, took);
    Record(function, false, failure.reason);
    throw failure;
}

void Device::Note(const char* function, bool ok, const std::string& reason) {
    calls_.fetch_add(1);
    if (!ok) {
        const CallFailure failure{function, reason, std::nullopt, ""};
        ServerCallStats().Record(function, &failure, Clock::duration::zero());
    }
    Record(function, ok, reason);
}

void Device::Record(const char* function, bool ok, const std::string& reason) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.push_back(LogEntry{++sequence_, Uptime(), function, ok, reason});
    if (log_.size() > kLogLength) log_.pop_front();
}

std::vector<LogEntry> Device::RecentCalls(std::uint64_t after) const {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::vector<LogEntry> entries;
    for (const LogEntry& e : log_) {
        if (e.sequence > after) entries.push_back(e);
    }
    return entries;
}

}  // namespace traxserve
