#include "sim/Replay.h"

#include <cstring>
#include <utility>

namespace trax::sim {

namespace {

void AppendJsonString(std::string& out, const std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            out += "\\u00";
            out += kDigits[u >> 4];
            out += kDigits[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

Replay::Replay(std::string file, Recording r, bool withTiming)
    : path(std::move(file)), recording(std::move(r)), timing(withTiming) {
    for (size_t i = 0; i < recording.exchanges.size(); ++i) {
        const RecordedExchange& e = recording.exchanges[i];
        if (e.ending == RecordedEnding::NotSent) continue;
        Thread* thread = nullptr;
        for (Thread& t : threads) {
            if (t.id == e.thread) thread = &t;
        }
        if (thread == nullptr) {
            threads.push_back(Thread{e.thread, {}, 0});
            thread = &threads.back();
        }
        thread->exchanges.push_back(i);
        ++toPlay;
    }
}

Replay Replay::Refused(std::string file, std::string why) {
    Replay replay(std::move(file), Recording{}, false);
    replay.problem = std::move(why);
    return replay;
}

void Replay::ChannelStarted() { bound = -1; }

const RecordedExchange* Replay::Next(const Thread& t) const {
    return t.next < t.exchanges.size() ? &recording.exchanges[t.exchanges[t.next]] : nullptr;
}

std::string Replay::Where(const RecordedExchange& e) const {
    return "exchange " + std::to_string(e.number) + " (line " + std::to_string(e.line) + "), " +
           (e.call.empty() ? std::string("outside any call") : e.call);
}

Replay::Answer Replay::Exchange(const uint8_t* request, unsigned long requestLength, uint8_t* reply,
                                unsigned long* replyLength) {
    Answer answer;
    const std::vector<uint8_t> sent(request, request + requestLength);
    if (!problem.empty()) {
        if (refusedRequests++ == 0) answer.report = "replay of '" + path + "' refused: " + problem;
        return answer;
    }
    if (played == toPlay) {
        if (!exhaustedSeen) {
            exhaustedSeen = true;
            answer.report = "replay of '" + path + "': recording exhausted after " + std::to_string(played) +
                            " exchanges; this and every further request fails (sent " + HexText(sent) + ")";
        }
        ++refusedRequests;
        return answer;
    }
    int chosen = -1;
    if (bound >= 0) {
        const RecordedExchange* next = Next(threads[static_cast<size_t>(bound)]);
        if (next != nullptr && next->request == sent) chosen = bound;
    } else {
        // The earliest recorded thread whose next request this is.
        size_t earliest = recording.exchanges.size();
        for (size_t i = 0; i < threads.size(); ++i) {
            const RecordedExchange* next = Next(threads[i]);
            if (next == nullptr || next->request != sent) continue;
            const size_t index = threads[i].exchanges[threads[i].next];
            if (index < earliest) {
                earliest = index;
                chosen = static_cast<int>(i);
            }
        }
    }
    if (chosen < 0) {
        // What was expected: the channel's thread's next exchange, or the
        // earliest one still to play.
        const RecordedExchange* expected = bound >= 0 ? Next(threads[static_cast<size_t>(bound)]) : nullptr;
        if (expected == nullptr) {
            for (const Thread& t : threads) {
                const RecordedExchange* next = Next(t);
                if (next != nullptr && (expected == nullptr || next->line < expected->line)) expected = next;
            }
        }
        ++refusedRequests;
        if (!divergenceSeen && expected != nullptr) {
            divergenceSeen = true;
            divergence = "diverges at " + Where(*expected) + ": expected " + HexText(expected->request) + ", sent " +
                         HexText(sent);
            answer.report = "replay of '" + path + "' " + divergence;
        }
        return answer;
    }
    bound = chosen;
    Thread& thread = threads[static_cast<size_t>(chosen)];
    const RecordedExchange& e = recording.exchanges[thread.exchanges[thread.next]];
    ++thread.next;
    ++played;
    if (timing && e.ending != RecordedEnding::NoReply) answer.delayUs = static_cast<uint64_t>(e.tookMs * 1000.0);
    switch (e.ending) {
    case RecordedEnding::Answered:
    case RecordedEnding::NoReply:
        // "no reply": what came before the wait ran out, often nothing; the
        // library then waits in vain, as it did in the recorded run.
        if (e.reply.size() > *replyLength) {
            // Longer than the library's buffer: as the recorded driver said.
            *replyLength = static_cast<unsigned long>(e.reply.size());
            answer.result = 1;
            break;
        }
        if (!e.reply.empty()) std::memcpy(reply, e.reply.data(), e.reply.size());
        *replyLength = static_cast<unsigned long>(e.reply.size());
        answer.result = 1;
        break;
    case RecordedEnding::CutReply:
        *replyLength = *replyLength + 1;
        answer.result = 1;
        break;
    case RecordedEnding::DriverFailure:
    case RecordedEnding::NotSent:
        answer.result = 0;
        break;
    }
    return answer;
}

std::string Replay::StatusJson() const {
    std::string out = "{\"file\":";
    AppendJsonString(out, path);
    out += ",\"exchanges\":" + std::to_string(toPlay) + ",\"played\":" + std::to_string(played);
    const bool complete = problem.empty() && played == toPlay && !divergenceSeen;
    out += std::string(",\"complete\":") + (complete ? "true" : "false");
    out += ",\"refused_requests\":" + std::to_string(refusedRequests);
    out += std::string(",\"exhausted\":") + (exhaustedSeen ? "true" : "false");
    out += ",\"divergence\":";
    if (divergenceSeen) {
        AppendJsonString(out, divergence);
    } else {
        out += "null";
    }
    out += ",\"problem\":";
    if (!problem.empty()) {
        AppendJsonString(out, problem);
    } else {
        out += "null";
    }
    out += ",\"warning\":";
    if (!recording.warning.empty()) {
        AppendJsonString(out, recording.warning);
    } else {
        out += "null";
    }
    out += "}";
    return out;
}

}  // namespace trax::sim
