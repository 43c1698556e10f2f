// The stand-in driver answering from a recording instead of the simulated
// controller (TRAX_SIM_REPLAY=PATH).
//
// Each request must equal the next recorded request of its thread's sequence.
// The driver does not see the host's threads, only the channel's: a channel
// (from its I/O thread's CheckUsbDllStatus to the next one) belongs to one
// exported call, so its first request picks the recorded thread whose next
// request it equals (the earliest in the file when several do), and the
// channel's later requests follow that thread. Exchanges that never reached
// the driver ("not sent") are skipped.
//
// Then the recorded ending is reproduced: the reply's bytes; for "no reply"
// whatever came before the wait ran out and nothing more; for "driver
// failure" a 0; for "cut reply" a reply length beyond the buffer. With
// timing, an answer comes after the recorded duration.
//
// A request that differs fails that exchange (the driver returns 0) and leaves
// the recording where it was; the first one is reported with its position,
// call, and the expected and sent bytes. Once every exchange has been played,
// every request fails with "recording exhausted".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/RecordingFile.h"

namespace trax::sim {

// How long the library waits for an answer while the replay answers at once:
// an answer that has not come by then will not come.
constexpr uint32_t kReplayAnswerWaitMs = 1000;

class Replay {
public:
    Replay(std::string path, Recording recording, bool timing);
    // A recording that could not be read: every request fails with `problem`.
    static Replay Refused(std::string path, std::string problem);

    // A new channel: its first request picks the recorded thread anew.
    void ChannelStarted();

    struct Answer {
        unsigned long result = 0;  // what the driver returns
        uint64_t delayUs = 0;      // with timing: the pause before it returns
        // Said once on the driver's output (the first divergence, the first
        // request after the end), "" otherwise.
        std::string report;
    };
    // Plays one exchange: reply/replyLength as the driver's QelUsbPtrIoPtr.
    Answer Exchange(const uint8_t* request, unsigned long requestLength, uint8_t* reply, unsigned long* replyLength);

    // {"file":..,"exchanges":N,"played":N,"complete":true,...}: how far the
    // replay got, for traxctl replay-check.
    std::string StatusJson() const;
    bool Timing() const { return timing; }
    const std::string& Problem() const { return problem; }

private:
    struct Thread {
        uint64_t id;
        std::vector<size_t> exchanges;  // indices, in order, of those that reached the driver
        size_t next = 0;
    };
    const RecordedExchange* Next(const Thread& t) const;
    std::string Where(const RecordedExchange& e) const;

    std::string path;
    Recording recording;
    bool timing = false;
    std::string problem;
    std::vector<Thread> threads;
    size_t toPlay = 0;
    size_t played = 0;
    int bound = -1;  // the channel's recorded thread, -1 before its first request
    bool divergenceSeen = false;
    std::string divergence;
    bool exhaustedSeen = false;
    uint64_t refusedRequests = 0;
};

}  // namespace trax::sim
