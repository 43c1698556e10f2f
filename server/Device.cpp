#include "Device.h"

#include "Metrics.h"
#include "client/Diagnosis.h"

#include <utility>

namespace traxserve {

namespace {

constexpr size_t kLogLength = 200;

}  // namespace

std::string HintFor(trax::client::Trouble trouble) {
    using trax::client::Trouble;
    switch (trouble) {
    case Trouble::LibraryMissing:
        return trax::client::LibraryPlacement() + "; restart traxctl serve after";
    case Trouble::DriverMissing:
        return trax::client::DriverPlacement() + "; 'traxctl doctor' on this machine checks each step";
    case Trouble::Busy:
        return "the controller stays busy: an Able adjustment or a storage run may be in progress (Control: Able "
               "adjustment Stop; Storage: Stop)";
    case Trouble::NoLink:
        return "check the USB cable and the controller's power, and that no other program holds the controller";
    case Trouble::SettingMode:
        return "the controller is in setting mode; POST /api/control {\"action\": \"mode\", \"mode\": \"measure\"} "
               "brings it back to measurement";
    case Trouble::Unknown:
        break;
    }
    return "";
}

CallFailure WithReason(trax::client::Failure failure) {
    if (failure.reason.empty())
        failure.reason =
            failure.function + " returned 0: no answer, refused by the controller, or the USB driver did not start";
    return failure;
}

Device::Device(double rateHz, Poll poll, SampleSink sink)
    : rateHz_(rateHz), poll_(std::move(poll)), sink_(std::move(sink)), started_(Clock::now()), thread_([this] {
          Run();
      }) {
    // Before the first job: the thread only waits until one is submitted.
    controller_.Observe([this](trax::client::CallRecord& call) { Observe(call); });
}

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
            } catch (const trax::client::CallError& e) {
                sample.ok = false;
                sample.failure = e.failure();
            } catch (const std::exception& e) {
                sample.ok = false;
                sample.failure = WithReason(trax::client::Failure{"TRAX_GetCalcData", e.what(), std::nullopt, ""});
            }
            polls_.fetch_add(1);
            sink_(sample);
        }
    }
}

void Device::Observe(trax::client::CallRecord& call) {
    if (call.overlapped) overlaps_.fetch_add(1);
    calls_.fetch_add(1);
    if (call.ok()) {
        ServerCallStats().Record(call.function, nullptr, call.duration);
        if (call.kind == trax::client::CallKind::Asked) Record(call.function, true, "");
        return;
    }
    // The controller read the reason on this thread, right after the call;
    // the hint may ask the controller one more question, still from here
    // (and that question is observed too, without a hint of its own).
    if (!hinting_) {
        hinting_ = true;
        call.failure->hint = HintFor(trax::client::Diagnose(*call.failure, controller_));
        hinting_ = false;
    }
    *call.failure = WithReason(std::move(*call.failure));
    ServerCallStats().Record(call.function, call.failure, call.duration);
    Record(call.function, false, call.failure->reason);
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
