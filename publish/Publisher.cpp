#include "publish/Publisher.h"

#include <trax.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "client/ValueText.h"
#include "publish/LibraryController.h"
#include "publish/MetricsEndpoint.h"

namespace trax::publish {

using nlohmann::json;

namespace {

constexpr auto kStoragePoll = std::chrono::seconds(1);
constexpr auto kSyncEvery = std::chrono::milliseconds(200);
constexpr std::size_t kMaxJobs = 16;
// At most this many values messages a second: faster sampling goes in batches.
constexpr double kMessagesPerSecond = 100;
// While the controller fails, one try per this long at the most.
constexpr auto kFailingRetry = std::chrono::milliseconds(200);

SystemTime Now() { return std::chrono::system_clock::now(); }

}  // namespace

Publisher::Publisher(PublishOptions options, ControllerPort& controller, Stats& stats, std::ostream& err)
    : options_(std::move(options)),
      controller_(controller),
      err_(err),
      stats_(stats),
      outbox_(options_.spoolMax, options_.spoolDir) {
    status_.state = "online";
    status_.start = client::IsoTime(Now());
    status_.traxctl = options_.traxctlVersion;
    status_.library = options_.libraryVersion;
    status_.driver = options_.driver;
    status_.unit = options_.unit;
}

Publisher::~Publisher() = default;

void Publisher::Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(sayMutex_);
    err_ << "traxctl publish: " << line << "\n";
    err_.flush();
}

void Publisher::Event(const std::string& name, const json& fields) {
    Record r;
    r.kind = Kind::Events;
    r.seq = ++eventsSeq_;
    r.topic = Topic("events");
    r.payload = EventPayload(r.seq, Now(), name, fields);
    r.qos = options_.qos;
    outbox_.Push(std::move(r));
}

void Publisher::SetStatus(const std::function<void(StatusFacts&)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(status_);
    ++statusVersion_;
}

std::string Publisher::OfflinePayload(const std::string& reason) {
    StatusFacts facts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        facts = status_;
    }
    facts.state = "offline";
    facts.failure.reset();
    facts.reason = reason;
    return StatusPayload(++statusSeq_, Now(), facts);
}

// --- the controller thread ------------------------------------------------

void Publisher::ReadSettings(const char* why) {
    Say(std::string("reading the settings (") + why +
        "): the controller leaves measurement for the time it takes, about a second");
    std::vector<client::SettingValue> failures;
    client::SettingsDocument doc = controller_.ReadSettings(&failures);
    if (!failures.empty()) {
        // Half a setup published as if whole would mislead: none then.
        Event("call-failed", FailureJson(failures[0].failure));
        Say("the settings could not be read: " + failures[0].failure.Text());
        return;
    }
    doc.library = options_.libraryVersion;
    const std::string payload = SettingsPayload(++settingsSeq_, Now(), doc);
    std::lock_guard<std::mutex> lock(mutex_);
    settingsPayload_ = payload;
    ++settingsVersion_;
    if (doc.program) status_.program = doc.program, ++statusVersion_;
}

void Publisher::TakeSample(std::vector<Sample>& batch, std::size_t batchSize) {
    Sample s;
    s.time = Now();
    if (CallResult failure = controller_.ReadValues(s.a, s.b)) {
        ++failedCalls_;
        const std::string what = failure->function + ": " + failure->reason;
        // The first failure of a run of them, and each new reason: an event.
        // The same failure again is counted and told at the recovery.
        if (!failing_ || what != failingWhat_) {
            json fields = FailureJson(*failure);
            fields["failedCalls"] = failedCalls_;
            Event("call-failed", fields);
            if (!failing_) Say("the controller fails: " + failure->Text());
            failingWhat_ = what;
            SetStatus([&](StatusFacts& f) {
                f.state = "failing";
                f.failure = *failure;
            });
        }
        failing_ = true;
        stats_.controllerFailing = true;
        return;
    }
    if (failing_) {
        Event("controller-recovered", {{"failedCalls", failedCalls_}});
        Say("the controller answers again after " + std::to_string(failedCalls_) + " failed calls");
        failing_ = false;
        failedCalls_ = 0;
        failingWhat_.clear();
        stats_.controllerFailing = false;
        SetStatus([](StatusFacts& f) {
            f.state = "online";
            f.failure.reset();
        });
    }
    stats_.statusA = s.a.status;
    stats_.statusB = s.b.status;
    stats_.valueA = s.a.value;
    stats_.valueB = s.b.value;
    batch.push_back(s);
    if (batch.size() >= batchSize) {
        Record r;
        r.kind = Kind::Values;
        r.seq = ++valuesSeq_;
        r.topic = Topic("values");
        r.payload = ValuesPayload(r.seq, batch, options_.unit);
        r.qos = options_.qos;
        outbox_.Push(std::move(r));
        batch.clear();
    }
}

void Publisher::PollStorage() {
    bool storing = false;
    int countA = 0, countB = 0;
    if (CallResult failure = controller_.StorageStatus(storing, countA, countB)) {
        // One event for a run of failed polls, as for the values.
        if (!storageFailing_) Event("call-failed", FailureJson(*failure));
        storageFailing_ = true;
        return;
    }
    if (storageFailing_) Event("storage-recovered", json::object());
    storageFailing_ = false;
    // A run ends when storing stops, or, for a run started and completed
    // between two polls (by the panel or another program), when the counts
    // changed while nothing stores.
    const bool countsChanged = storageCounts_ && *storageCounts_ != std::make_pair(countA, countB);
    const bool completed = (storing_ && !storing) || (!storing_ && !storing && countsChanged && countA + countB > 0);
    if (storing && !storing_ && storageStart_.empty()) storageStart_ = client::IsoTime(Now());
    storing_ = storing;
    storageCounts_ = std::make_pair(countA, countB);
    if (!completed) return;
    if (storageStop_.empty()) storageStop_ = client::IsoTime(Now());
    StorageRun run;
    run.start = storageStart_;
    run.stop = storageStop_;
    if (CallResult f = controller_.StorageData(0, run.a)) return Event("call-failed", FailureJson(*f));
    if (CallResult f = controller_.StorageData(1, run.b)) return Event("call-failed", FailureJson(*f));
    Record r;
    r.kind = Kind::Storage;
    r.seq = ++storageSeq_;
    r.topic = Topic("storage");
    r.payload = StoragePayload(r.seq, Now(), run, options_.unit);
    r.qos = options_.qos;
    outbox_.Push(std::move(r));
    storageStart_.clear();
    storageStop_.clear();
}

void Publisher::Respond(const Incoming& request, const std::string& name, const CommandOutcome& outcome) {
    const std::string text = outcome.Text();
    if (UsableResponseTopic(request.responseTopic)) {
        Record r;
        r.kind = Kind::Response;
        r.topic = request.responseTopic;
        r.payload = text;
        r.qos = options_.qos;
        if (request.hasCorrelation) r.correlation = request.correlation;
        outbox_.Push(std::move(r));
    }
    // Every command and its answer on events too: who changed what is on record.
    json fields = {{"command", name}, {"status", outcome.status}};
    if (outcome.body.contains("error")) fields["error"] = outcome.body["error"];
    Event("command", fields);
}

void Publisher::RunCommandJob(const std::string& name, const std::string& payload, const Incoming& request) {
    const CommandOutcome outcome = RunCommand(name, payload, controller_);
    if (outcome.storageStarted) {
        storageStart_ = client::IsoTime(Now());
        storageStop_.clear();
        storing_ = true;  // the run may be complete before the next poll sees it storing
    }
    if (outcome.storageStopped) storageStop_ = client::IsoTime(Now());
    Respond(request, name, outcome);
    if (outcome.changedSettings) ReadSettings("after a change");
    if (outcome.readSettings) ReadSettings("asked on cmd/settings-read");
}

void Publisher::ControllerLoop() {
    using std::chrono::duration;
    const double rate = std::max(0.1, options_.rateHz);
    const auto period = std::chrono::duration_cast<Clock::duration>(duration<double>(1.0 / rate));
    const std::size_t batchSize = static_cast<std::size_t>(std::max(1.0, std::ceil(rate / kMessagesPerSecond)));
    std::vector<Sample> batch;
    int program = 0;
    if (!controller_.ProgramNumber(program)) SetStatus([&](StatusFacts& f) { f.program = program; });
    if (options_.readSettingsAtStart) ReadSettings("at start");
    auto nextSample = Clock::now();
    auto nextStorage = Clock::now();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            auto until = nextSample;
            if (options_.storage) until = std::min(until, nextStorage);
            wake_.wait_until(lock, until, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) break;
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
        }
        if (job) {
            job();
            continue;
        }
        const auto now = Clock::now();
        if (now >= nextSample) {
            TakeSample(batch, batchSize);
            const auto step = failing_ ? std::max<Clock::duration>(period, kFailingRetry) : period;
            // Behind by more than a step (a slow call): start the beat again
            // rather than fire a burst of reads to catch up.
            nextSample = now - nextSample > step ? now + step : nextSample + step;
        }
        if (options_.storage && now >= nextStorage) {
            PollStorage();
            nextStorage = now + kStoragePoll;
        }
    }
    // What was read goes out, however short the batch.
    if (!batch.empty()) {
        Record r;
        r.kind = Kind::Values;
        r.seq = ++valuesSeq_;
        r.topic = Topic("values");
        r.payload = ValuesPayload(r.seq, batch, options_.unit);
        r.qos = options_.qos;
        outbox_.Push(std::move(r));
    }
}

// --- the link thread --------------------------------------------------------

void Publisher::OnMessage(const Incoming& message) {
    const std::string name = CommandName(options_.prefix, message.topic);
    if (name.empty()) {
        CommandOutcome refused = Refused(404, "no such command topic");
        Respond(message, "?", refused);
        return;
    }
    if (message.correlation.size() > kMaxCorrelation) {
        Incoming bare = message;
        bare.hasCorrelation = false;
        bare.correlation.clear();
        Respond(bare, name, Refused(400, "correlation data longer than " + std::to_string(kMaxCorrelation) + " bytes"));
        return;
    }
    if (!options_.allowCommands) {
        Respond(message, name, Refused(403, "commands are off: traxctl publish was started without --allow-commands"));
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.size() >= kMaxJobs) {
        // Answered from here: the controller thread is busy enough.
        Respond(message, name, Refused(503, "too many commands waiting; try again"));
        return;
    }
    jobs_.push_back([this, name, message] { RunCommandJob(name, message.payload, message); });
    wake_.notify_one();
}

void Publisher::LinkLoop() {
    Backoff backoff;
    bool everConnected = false, justConnected = false;
    const auto firstAttempt = Clock::now();
    auto nextAttempt = firstAttempt;
    auto lastSync = firstAttempt;
    Clock::time_point lostAt{};
    std::string lastProblem;
    int attempts = 0;
    std::map<int, std::uint64_t> inflight;
    std::uint64_t nextSend = outbox_.FrontId();
    std::uint64_t sentStatus = 0, sentSettings = 0;
    std::optional<Clock::time_point> flushUntil;
    bool offlineSent = false;

    Link::Callbacks callbacks;
    callbacks.connected = [&] { justConnected = true; };
    callbacks.lost = [&](const LinkProblem& problem) {
        stats_.connected = false;
        if (!everConnected && problem.fatal) {
            std::lock_guard<std::mutex> lock(mutex_);
            fatal_ = problem.text;
            return;
        }
        if (everConnected && lostAt == Clock::time_point{}) {
            lostAt = Clock::now();
            Say("lost the broker (" + problem.text + "); keeping what is not sent and trying again");
        } else if (problem.text != lastProblem) {
            Say(problem.text + "; trying again");
        }
        lastProblem = problem.text;
        nextAttempt = Clock::now() + backoff.Next();
    };
    callbacks.acknowledged = [&](int mid) {
        auto it = inflight.find(mid);
        if (it == inflight.end()) return;
        outbox_.Ack(it->second);
        ++stats_.acknowledged;
        inflight.erase(it);
    };
    callbacks.message = [&](const Incoming& m) { OnMessage(m); };

    LinkOptions linkOptions = options_.link;
    linkOptions.willTopic = Topic("status");
    Link link(linkOptions, callbacks);

    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!fatal_.empty()) break;
            if (linkStopping_ && !flushUntil) flushUntil = Clock::now() + options_.flushBound;
        }
        const auto now = Clock::now();
        if (flushUntil) {
            // Ctrl-C: what is queued first, then the offline status last, so
            // that it is the final word on status; within the bound.
            if (!link.Connected() || offlineSent) break;
            const bool drained = !outbox_.Next(nextSend) && inflight.empty();
            if (drained || now >= *flushUntil) {
                link.Publish(Topic("status"), OfflinePayload("stopped"), 1, true);
                offlineSent = true;
                continue;
            }
        }
        stats_.queued = outbox_.Count();
        stats_.queuedBytes = outbox_.Bytes();
        stats_.dropped = outbox_.DroppedTotal();
        if (now - lastSync >= kSyncEvery) {
            try {
                outbox_.Sync();
            } catch (const SpoolError& e) {
                Say(e.message);
            }
            lastSync = now;
        }
        if (!link.Active()) {
            if (!everConnected && now - firstAttempt >= options_.connectTimeout) {
                std::lock_guard<std::mutex> lock(mutex_);
                fatal_ = lastProblem.empty() ? "no connection to " + options_.link.broker.Text() : lastProblem;
                fatal_ += " (no connection within " + std::to_string(options_.connectTimeout.count() / 1000) + " s)";
                break;
            }
            if (now < nextAttempt) {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait_until(lock, std::min(nextAttempt, now + std::chrono::milliseconds(100)));
                continue;
            }
            ++attempts;
            // The will: this run's offline status, should the link break.
            link.SetWill(OfflinePayload("connection lost"));
            link.Start();
            continue;
        }
        link.Loop(5);
        if (!link.Connected()) continue;
        if (justConnected) {
            justConnected = false;
            backoff.Reset();
            stats_.connected = true;
            inflight.clear();
            nextSend = outbox_.FrontId();
            sentStatus = sentSettings = 0;
            link.Subscribe(options_.prefix + "/cmd/+", 1);
            if (everConnected) {
                ++stats_.reconnects;
                const auto down = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lostAt);
                Event("reconnected", {{"downMs", down.count()}, {"attempts", attempts}, {"queued", outbox_.Count()}});
                Say("connected again after " + std::to_string(down.count()) + " ms; sending " +
                    std::to_string(outbox_.Count()) + " queued messages");
            } else {
                Say("connected to " + options_.link.broker.Text() + ", publishing under " + options_.prefix + "/");
                if (outbox_.Recovered() > 0) Event("spool-recovered", {{"messages", outbox_.Recovered()}});
            }
            everConnected = true;
            lostAt = Clock::time_point{};
            attempts = 0;
            lastProblem.clear();
        }
        // The state topics as they are now.
        std::string status, settings;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (sentStatus != statusVersion_ && !flushUntil) {
                status = StatusPayload(++statusSeq_, Now(), status_);
                sentStatus = statusVersion_;
            }
            if (sentSettings != settingsVersion_ && !settingsPayload_.empty()) {
                settings = settingsPayload_;
                sentSettings = settingsVersion_;
            }
        }
        if (!status.empty()) link.Publish(Topic("status"), status, 1, true);
        if (!settings.empty()) link.Publish(Topic("settings"), settings, 1, true);
        DropReport drops = outbox_.TakeDrops();
        if (!drops.empty()) {
            json fields = {{"dropped", 0}, {"topics", json::object()}};
            std::uint64_t total = 0;
            for (const auto& [kind, range] : drops) {
                total += range.count + range.unconfirmed;
                fields["topics"][KindName(kind)] = {{"count", range.count},
                                                    {"unconfirmed", range.unconfirmed},
                                                    {"firstSeq", range.firstSeq},
                                                    {"lastSeq", range.lastSeq}};
            }
            fields["dropped"] = total;
            Event("spool-overflow", fields);
            Say("the queue overflowed: dropped the oldest " + std::to_string(total) + " messages");
        }
        while (static_cast<int>(inflight.size()) < options_.window) {
            std::optional<Record> r = outbox_.NextToSend(nextSend);
            if (!r) break;
            const int mid =
                link.Publish(r->topic, r->payload, r->qos, false,
                             r->kind == Kind::Response && !r->correlation.empty() ? &r->correlation : nullptr);
            if (mid < 0) break;
            ++stats_.published;
            nextSend = r->id + 1;
            if (r->qos == 0) {
                outbox_.Ack(r->id);
            } else {
                inflight[mid] = r->id;
            }
        }
    }
    link.Close();
    try {
        outbox_.Sync();
    } catch (const SpoolError& e) {
        Say(e.message);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    linkDone_ = true;
    wake_.notify_all();
}

int Publisher::Run() {
    std::unique_ptr<MetricsEndpoint> metrics;
    if (options_.metricsPort >= 0) {
        metrics =
            std::make_unique<MetricsEndpoint>(options_.metricsPort, [this] { return stats_.Text(options_.unit); });
        Say("metrics at http://127.0.0.1:" + std::to_string(metrics->Port()) + "/metrics");
    }
    std::thread controllerThread([this] { ControllerLoop(); });
    std::thread linkThread([this] { LinkLoop(); });
    bool interrupted = false;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(50));
        if (!fatal_.empty() || linkDone_) break;
        if (options_.interrupted && options_.interrupted()) {
            interrupted = true;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    // The call in flight ends first; its sample still goes out.
    controllerThread.join();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        linkStopping_ = true;
        wake_.notify_all();
        // A connection attempt to a host that does not answer can block for
        // minutes inside the MQTT library: Ctrl-C does not wait for it. What
        // was queued is in the spool already (written, if not yet synced).
        if (!wake_.wait_for(lock, options_.flushBound + std::chrono::seconds(2), [this] { return linkDone_; })) {
            Say("stopped by Ctrl-C while the broker did not answer");
            err_.flush();
            std::_Exit(interrupted ? 130 : 1);
        }
    }
    linkThread.join();
    if (!fatal_.empty()) {
        Say(fatal_);
        return 1;
    }
    if (interrupted) {
        const std::size_t left = outbox_.Count();
        Say(left == 0
                ? "stopped by Ctrl-C; everything was sent"
                : "stopped by Ctrl-C; " + std::to_string(left) + " messages not sent" +
                      (options_.spoolDir.empty() ? " (lost: no --spool)" : " (kept in the spool for the next run)"));
        return 130;
    }
    return 1;
}

int RunPublish(PublishOptions options, std::ostream&, std::ostream& err) {
    InitMqttLibrary();
    Stats stats;
    LibraryController controller(
        [&stats](client::CallRecord& call) { stats.calls.Record(call.function, call.failure, call.duration); });
    try {
        Publisher publisher(std::move(options), controller, stats, err);
        return publisher.Run();
    } catch (const SpoolError& e) {
        err << "traxctl publish: " << e.message << "\n";
        return 1;
    } catch (const MetricsError& e) {
        err << "traxctl publish: " << e.message << "\n";
        return 1;
    }
}

}  // namespace trax::publish
