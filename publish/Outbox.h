// What is waiting to reach the broker, in the order it was made: every
// message the publisher produces goes in at the back, the link takes them
// from the front, and a message leaves only when the broker has acknowledged
// it (or it was dropped). The whole queue is bounded in bytes; when a new
// message does not fit, the oldest go first and are counted, per topic, so
// that the drop can be reported on the events topic.
//
// With a spool folder the queue is also written to disk as it grows (a
// write-ahead log in segment files) and the position up to which everything
// is done is kept beside it, so that a crashed or killed publisher hands its
// unsent messages to the next run. Sync() makes what was appended durable;
// the publisher calls it after each batch, so a power loss costs at most the
// messages since the last Sync().
//
// Thread use: Push from the producer threads, everything else from the link
// thread; one mutex guards all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace trax::publish {

// The topics whose messages are queued (status and settings are state, sent
// as they are when the link is up, and never queued).
enum class Kind : std::uint8_t { Values = 1, Storage = 2, Events = 3, Response = 4 };
const char* KindName(Kind kind);

struct Record {
    std::uint64_t id = 0;  // given by the outbox, one more for each message
    Kind kind = Kind::Values;
    std::uint64_t seq = 0;  // the message's seq within its topic
    std::string topic;
    std::string payload;
    int qos = 1;
    std::string correlation;  // a command's correlation data, for responses
    std::size_t Bytes() const { return topic.size() + payload.size() + correlation.size() + 32; }
};

// Messages dropped since the last report, per kind: how many never left,
// how many were sent but not acknowledged (the broker may have them: the
// connection broke before its answer came), and the first and last seq
// among all of them.
struct DropRange {
    std::uint64_t count = 0;
    std::uint64_t unconfirmed = 0;
    std::uint64_t firstSeq = 0;
    std::uint64_t lastSeq = 0;
};
using DropReport = std::map<Kind, DropRange>;

// Why a spool folder cannot be used, with the system's words.
struct SpoolError {
    std::string message;
};

class Outbox {
public:
    // limitBytes: the bound of the queue (and of the spool, which may hold one
    // segment more while a partly sent segment waits to be removed).
    // spoolDir: "" for a queue in memory only. Throws SpoolError when the
    // folder cannot be made or read; a damaged tail of the last segment (a
    // crash in the middle of a write) is cut off, not an error.
    Outbox(std::size_t limitBytes, const std::string& spoolDir);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Queues a message at the back, dropping the oldest when it does not fit;
    // returns its id. A message larger than the whole bound is dropped itself
    // (counted, id 0).
    std::uint64_t Push(Record record);

    // The oldest message not yet acknowledged whose id is at least `from`.
    std::optional<Record> Next(std::uint64_t from) const;
    // As Next, and marks the message sent in the same step: a message being
    // handed to the broker may be dropped by a Push meanwhile, and must then
    // count as one the broker may have.
    std::optional<Record> NextToSend(std::uint64_t from);
    // The broker has the message: it leaves once those before it have left.
    void Ack(std::uint64_t id);
    // The id of the oldest message still queued (or the next id when empty):
    // where sending starts again after a reconnect.
    std::uint64_t FrontId() const;

    // Appended spool data to disk (fdatasync); the done position too.
    void Sync();

    // Drops not yet reported; clears them.
    DropReport TakeDrops();

    std::size_t Count() const;
    std::size_t Bytes() const;
    std::uint64_t DroppedTotal() const;
    // Messages found in the spool from an earlier run.
    std::size_t Recovered() const { return recovered_; }

private:
    struct Entry {
        Record record;
        bool sent = false;
        bool acked = false;
    };
    struct Segment {
        std::string path;
        std::uint64_t lastId = 0;  // of the records in it
        std::size_t bytes = 0;
    };

    std::deque<Entry>::const_iterator FindLocked(std::uint64_t id) const;
    void PopDoneLocked();
    void DropFrontLocked();
    void AppendLocked(const Record& record);
    void RemoveDoneSegmentsLocked();
    void Recover();
    void WriteDoneLocked();

    const std::size_t limit_;
    const std::string dir_;
    std::size_t segmentLimit_ = 0;

    mutable std::mutex mutex_;
    std::deque<Entry> queue_;
    std::uint64_t nextId_ = 1;
    std::size_t bytes_ = 0;
    std::uint64_t doneId_ = 0;  // every id up to this one is acknowledged or dropped
    std::uint64_t writtenDoneId_ = 0;
    DropReport drops_;
    std::uint64_t droppedTotal_ = 0;
    std::size_t recovered_ = 0;

    std::deque<Segment> segments_;
    int fd_ = -1;  // the last segment, open for appending
    bool unsynced_ = false;
};

// "64M", "512k", "1G", "100000": bytes. Throws std::invalid_argument with the reason.
std::size_t ParseSize(const std::string& text);

}  // namespace trax::publish
