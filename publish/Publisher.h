// traxctl publish: the controller's values, status, settings, storage runs
// and events on an MQTT broker, and commands from it when allowed.
//
// Two threads do the work. The controller thread makes every library call
// (samples at the chosen rate, storage polls, commands, settings reads) and
// turns what it learns into messages. The link thread owns the connection:
// it sends the outbox's messages in order, resends what was not acknowledged
// after a reconnect, publishes the retained state topics (status, settings)
// as they are when the link comes up, and reconnects after 1, 2, 4 ... 30 s.
// Between them: the Outbox (its own lock) and the shared state below (one
// mutex).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "publish/Backoff.h"
#include "publish/Commands.h"
#include "publish/ControllerPort.h"
#include "publish/Link.h"
#include "publish/Messages.h"
#include "publish/Outbox.h"
#include "publish/Stats.h"

namespace trax::publish {

struct PublishOptions {
    LinkOptions link;
    std::string prefix;  // "trax/<hostname>"
    double rateHz = 10;
    int qos = 1;
    std::string spoolDir;
    std::size_t spoolMax = 64 * 1024 * 1024;
    bool storage = false;
    bool allowCommands = false;
    bool readSettingsAtStart = true;
    std::string unit;  // the values' unit name, "" when not known
    std::string traxctlVersion, libraryVersion, driver;
    // Before the first connection: how long to keep trying.
    std::chrono::milliseconds connectTimeout{30000};
    // At Ctrl-C: how long to go on sending what is queued.
    std::chrono::milliseconds flushBound{3000};
    // Messages sent and not yet acknowledged, at most.
    int window = 100;
    std::function<bool()> interrupted;
    int metricsPort = -1;  // -1: no /metrics
};

class Publisher {
public:
    // stats: counted into by the controller's observer too.
    Publisher(PublishOptions options, ControllerPort& controller, Stats& stats, std::ostream& err);
    ~Publisher();
    // Runs until interrupted (130) or a problem that retrying cannot mend (1).
    int Run();

private:
    void ControllerLoop();
    void LinkLoop();
    void TakeSample(std::vector<Sample>& batch, std::size_t batchSize);
    void PollStorage();
    void ReadSettings(const char* why);
    void RunCommandJob(const std::string& name, const std::string& payload, const Incoming& request);
    void OnMessage(const Incoming& message);
    void Event(const std::string& name, const nlohmann::json& fields);
    void Respond(const Incoming& request, const std::string& name, const CommandOutcome& outcome);
    void SetStatus(const std::function<void(StatusFacts&)>& change);
    std::string Topic(const char* leaf) const { return options_.prefix + "/" + leaf; }
    std::string OfflinePayload(const std::string& reason);
    void Say(const std::string& line);

    PublishOptions options_;
    ControllerPort& controller_;
    std::ostream& err_;
    Stats& stats_;
    Outbox outbox_;

    // Shared between the threads; guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;      // the controller thread ends
    bool linkStopping_ = false;  // the link thread flushes and ends
    bool linkDone_ = false;
    std::string fatal_;  // why the run must end
    StatusFacts status_;
    std::uint64_t statusVersion_ = 1;
    std::string settingsPayload_;  // "" until read
    std::uint64_t settingsVersion_ = 0;
    std::deque<std::function<void()>> jobs_;
    std::mutex sayMutex_;

    std::atomic<std::uint64_t> valuesSeq_{0}, eventsSeq_{0}, statusSeq_{0}, settingsSeq_{0}, storageSeq_{0};

    // Controller thread only.
    bool failing_ = false;
    std::string failingWhat_;  // function and reason of the first failure of a run of them
    std::uint64_t failedCalls_ = 0;
    bool storing_ = false;
    bool storageFailing_ = false;
    std::optional<std::pair<int, int>> storageCounts_;  // at the last poll
    std::string storageStart_, storageStop_;
};

// traxctl publish: runs a Publisher over the library; the exit status.
int RunPublish(PublishOptions options, std::ostream& out, std::ostream& err);

}  // namespace trax::publish
