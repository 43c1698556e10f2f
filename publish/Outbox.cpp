#include "publish/Outbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "client/AtomicFile.h"

namespace trax::publish {

namespace fs = std::filesystem;

namespace {

// A spool record on disk: length and CRC-32 of the body, then the body.
// A record whose length runs past the end of its file, or whose CRC does not
// match, is where a crash cut the file: it and everything after are dropped.
constexpr std::size_t kRecordHead = 8;
constexpr std::uint32_t kMaxRecordBody = 64u * 1024u * 1024u;
constexpr const char* kDoneFile = "done";
constexpr const char* kSegmentPrefix = "seg-";
constexpr const char* kSegmentSuffix = ".spool";

std::uint32_t Crc32(const std::string& data) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char byte : data) crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void PutInt(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

std::uint64_t GetInt(const std::string& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]))
                 << (8 * i);
    return value;
}

std::string Encode(const Record& r) {
    std::string body;
    PutInt(body, r.id, 8);
    PutInt(body, static_cast<std::uint8_t>(r.kind), 1);
    PutInt(body, r.seq, 8);
    PutInt(body, static_cast<std::uint64_t>(r.qos), 1);
    PutInt(body, r.topic.size(), 4);
    PutInt(body, r.correlation.size(), 4);
    body += r.topic;
    body += r.correlation;
    body += r.payload;
    std::string out;
    PutInt(out, body.size(), 4);
    PutInt(out, Crc32(body), 4);
    return out + body;
}

// One record's body, checked field by field against its length.
std::optional<Record> Decode(const std::string& body) {
    constexpr std::size_t fixed = 8 + 1 + 8 + 1 + 4 + 4;
    if (body.size() < fixed) return std::nullopt;
    Record r;
    r.id = GetInt(body, 0, 8);
    const auto kind = GetInt(body, 8, 1);
    if (kind < 1 || kind > 4) return std::nullopt;
    r.kind = static_cast<Kind>(kind);
    r.seq = GetInt(body, 9, 8);
    r.qos = static_cast<int>(GetInt(body, 17, 1));
    if (r.qos > 1) return std::nullopt;
    const std::uint64_t topicSize = GetInt(body, 18, 4), correlationSize = GetInt(body, 22, 4);
    if (topicSize > body.size() - fixed || correlationSize > body.size() - fixed - topicSize) return std::nullopt;
    r.topic = body.substr(fixed, topicSize);
    r.correlation = body.substr(fixed + topicSize, correlationSize);
    r.payload = body.substr(fixed + topicSize + correlationSize);
    return r;
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " '" + path + "': " + std::strerror(errno);
}

void WriteAll(int fd, const std::string& data, const std::string& path) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw SpoolError{SystemError("cannot write the spool", path)};
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Values:
        return "values";
    case Kind::Storage:
        return "storage";
    case Kind::Events:
        return "events";
    case Kind::Response:
        return "response";
    }
    return "?";
}

std::size_t ParseSize(const std::string& text) {
    if (text.empty() || text.size() > 24) throw std::invalid_argument("'" + text.substr(0, 24) + "' is not a size");
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 15) throw std::invalid_argument("'" + text + "' is not a size (e.g. 64M, 512k)");
    std::uint64_t multiplier = 1;
    const std::string suffix = text.substr(digits);
    if (suffix == "k" || suffix == "K")
        multiplier = 1024;
    else if (suffix == "m" || suffix == "M")
        multiplier = 1024 * 1024;
    else if (suffix == "g" || suffix == "G")
        multiplier = 1024 * 1024 * 1024;
    else if (!suffix.empty())
        throw std::invalid_argument("'" + text + "': the unit is k, M or G");
    const std::uint64_t value = std::stoull(text.substr(0, digits));
    if (value > (std::uint64_t{1} << 40) / multiplier) throw std::invalid_argument("'" + text + "' is above 1T");
    return static_cast<std::size_t>(value * multiplier);
}

Outbox::Outbox(std::size_t limitBytes, const std::string& spoolDir) : limit_(limitBytes), dir_(spoolDir) {
    // Small segments make the bound on disk close to the bound in memory:
    // a segment goes once everything in it is done.
    segmentLimit_ = std::clamp<std::size_t>(limit_ / 16, 16 * 1024, 4 * 1024 * 1024);
    if (!dir_.empty()) Recover();
}

Outbox::~Outbox() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) {
        if (unsynced_) ::fdatasync(fd_);
        ::close(fd_);
    }
    try {
        if (!dir_.empty()) WriteDoneLocked();
    } catch (const SpoolError&) {
        // Ending anyway: the next run resends what it cannot tell was done.
    }
}

void Outbox::Recover() {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) throw SpoolError{"cannot make the spool folder '" + dir_ + "': " + ec.message()};
    if (::access(dir_.c_str(), W_OK) != 0) throw SpoolError{SystemError("cannot write into the spool folder", dir_)};
    {
        std::ifstream done(fs::path(dir_) / kDoneFile);
        unsigned long long id = 0;
        if (done >> id) doneId_ = writtenDoneId_ = id;
    }
    std::vector<std::string> files;
    for (const auto& item : fs::directory_iterator(dir_, ec)) {
        const std::string name = item.path().filename().string();
        if (name.rfind(kSegmentPrefix, 0) == 0 && name.size() > std::strlen(kSegmentSuffix) &&
            name.compare(name.size() - std::strlen(kSegmentSuffix), std::string::npos, kSegmentSuffix) == 0)
            files.push_back(item.path().string());
    }
    if (ec) throw SpoolError{"cannot read the spool folder '" + dir_ + "': " + ec.message()};
    // The names carry the first id with leading zeros: name order is id order.
    std::sort(files.begin(), files.end());
    std::uint64_t lastId = doneId_;
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::ifstream in(files[f], std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::size_t at = 0, good = 0;
        Segment segment{files[f], 0, 0};
        while (data.size() - at >= kRecordHead) {
            const std::uint64_t length = GetInt(data, at, 4);
            const auto crc = static_cast<std::uint32_t>(GetInt(data, at + 4, 4));
            if (length > kMaxRecordBody || length > data.size() - at - kRecordHead) break;
            const std::string body = data.substr(at + kRecordHead, length);
            if (Crc32(body) != crc) break;
            std::optional<Record> record = Decode(body);
            // Ids only grow; one that does not is not ours to trust.
            if (!record || record->id <= segment.lastId) break;
            at += kRecordHead + length;
            good = at;
            segment.lastId = record->id;
            if (record->id > doneId_ && record->id > lastId) {
                lastId = record->id;
                bytes_ += record->Bytes();
                queue_.push_back(Entry{std::move(*record), false});
            }
        }
        if (good < data.size()) {
            // A torn tail: cut it so that appends after it stay readable.
            if (::truncate(files[f].c_str(), static_cast<off_t>(good)) != 0)
                throw SpoolError{SystemError("cannot repair the spool segment", files[f])};
        }
        segment.bytes = good;
        if (segment.lastId == 0) {
            fs::remove(files[f], ec);
            continue;
        }
        segments_.push_back(segment);
    }
    recovered_ = queue_.size();
    nextId_ = std::max(lastId, doneId_) + 1;
    if (!queue_.empty()) doneId_ = queue_.front().record.id - 1;
    while (bytes_ > limit_ && !queue_.empty()) DropFrontLocked();
    RemoveDoneSegmentsLocked();
}

std::uint64_t Outbox::Push(Record record) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t size = record.Bytes();
    if (size > limit_) {
        // Larger than the whole bound: it goes itself, counted like any drop,
        // and takes no id.
        DropRange& range = drops_[record.kind];
        if (range.count++ + range.unconfirmed == 0) range.firstSeq = record.seq;
        range.lastSeq = record.seq;
        ++droppedTotal_;
        return 0;
    }
    record.id = nextId_++;
    while (!queue_.empty() && bytes_ + size > limit_) DropFrontLocked();
    if (!dir_.empty()) AppendLocked(record);
    bytes_ += size;
    const std::uint64_t id = record.id;
    queue_.push_back(Entry{std::move(record), false});
    return id;
}

void Outbox::DropFrontLocked() {
    const Entry& front = queue_.front();
    if (!front.acked) {
        DropRange& range = drops_[front.record.kind];
        if (range.count + range.unconfirmed == 0) range.firstSeq = front.record.seq;
        ++(front.sent ? range.unconfirmed : range.count);
        range.lastSeq = front.record.seq;
        ++droppedTotal_;
    }
    bytes_ -= front.record.Bytes();
    doneId_ = front.record.id;
    queue_.pop_front();
    PopDoneLocked();
}

void Outbox::PopDoneLocked() {
    while (!queue_.empty() && queue_.front().acked) {
        bytes_ -= queue_.front().record.Bytes();
        doneId_ = queue_.front().record.id;
        queue_.pop_front();
    }
    if (!dir_.empty()) RemoveDoneSegmentsLocked();
}

void Outbox::AppendLocked(const Record& record) {
    const std::string bytes = Encode(record);
    if (fd_ < 0 || segments_.empty() || segments_.back().bytes + bytes.size() > segmentLimit_) {
        if (fd_ >= 0) {
            if (unsynced_) ::fdatasync(fd_);
            ::close(fd_);
            fd_ = -1;
        }
        char name[64];
        std::snprintf(name, sizeof name, "%s%020llu%s", kSegmentPrefix, static_cast<unsigned long long>(record.id),
                      kSegmentSuffix);
        const std::string path = (fs::path(dir_) / name).string();
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0) throw SpoolError{SystemError("cannot make the spool segment", path)};
        segments_.push_back(Segment{path, 0, 0});
    }
    WriteAll(fd_, bytes, segments_.back().path);
    segments_.back().bytes += bytes.size();
    segments_.back().lastId = record.id;
    unsynced_ = true;
}

void Outbox::RemoveDoneSegmentsLocked() {
    // The open segment stays (appends go on into it) until a newer one exists.
    while (segments_.size() > 1 && segments_.front().lastId <= doneId_) {
        // The done position first: a crash between the two leaves a segment
        // that the next run skips, never one whose records it resends as new.
        WriteDoneLocked();
        std::error_code ec;
        fs::remove(segments_.front().path, ec);
        segments_.pop_front();
    }
}

void Outbox::WriteDoneLocked() {
    if (dir_.empty() || writtenDoneId_ == doneId_) return;
    const std::string error =
        client::WriteFileAtomically((fs::path(dir_) / kDoneFile).string(), std::to_string(doneId_) + "\n");
    if (!error.empty()) throw SpoolError{error};
    writtenDoneId_ = doneId_;
}

std::deque<Outbox::Entry>::const_iterator Outbox::FindLocked(std::uint64_t id) const {
    // Ids grow along the queue, with gaps where a spool from an earlier run
    // lost records.
    return std::lower_bound(queue_.begin(), queue_.end(), id,
                            [](const Entry& e, std::uint64_t wanted) { return e.record.id < wanted; });
}

std::optional<Record> Outbox::Next(std::uint64_t from) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = FindLocked(from); it != queue_.end(); ++it) {
        if (!it->acked) return it->record;
    }
    return std::nullopt;
}

std::optional<Record> Outbox::NextToSend(std::uint64_t from) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = FindLocked(from); it != queue_.end(); ++it) {
        if (it->acked) continue;
        Entry& entry = queue_[static_cast<std::size_t>(it - queue_.begin())];
        entry.sent = true;
        return entry.record;
    }
    return std::nullopt;
}

void Outbox::Ack(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = FindLocked(id);
    if (it == queue_.end() || it->record.id != id) return;  // dropped meanwhile, or not ours
    queue_[static_cast<std::size_t>(it - queue_.begin())].acked = true;
    PopDoneLocked();
}

std::uint64_t Outbox::FrontId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.empty() ? nextId_ : queue_.front().record.id;
}

void Outbox::Sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dir_.empty()) return;
    if (fd_ >= 0 && unsynced_) {
        if (::fdatasync(fd_) != 0) throw SpoolError{SystemError("cannot sync the spool", segments_.back().path)};
        unsynced_ = false;
    }
    WriteDoneLocked();
}

DropReport Outbox::TakeDrops() {
    std::lock_guard<std::mutex> lock(mutex_);
    DropReport report;
    report.swap(drops_);
    return report;
}

std::size_t Outbox::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

std::size_t Outbox::Bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

std::uint64_t Outbox::DroppedTotal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return droppedTotal_;
}

}  // namespace trax::publish
