// The libFuzzer target over the recording reader: a recording is a file from
// outside, handed to the stand-in driver by whoever asks for a replay. Any
// input must be read or refused with a reason, never crash or read beyond
// itself; a recording that is read must replay without fault, its own
// requests and others alike, and say how far it got.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/RecordingFile.h"
#include "sim/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the input is caught.
    const std::string text(reinterpret_cast<const char*>(data), size);
    trax::sim::Recording recording;
    std::string problem;
    if (!trax::sim::ParseRecording(text, &recording, &problem)) {
        if (problem.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    std::vector<std::vector<uint8_t>> requests;
    for (const auto& e : recording.exchanges) requests.push_back(e.request);
    requests.push_back({0x00, 0x04, 0x07, 0x2A});
    trax::sim::Replay replay("fuzz.jsonl", std::move(recording), false);
    std::vector<uint8_t> reply(1 << 12);
    for (size_t round = 0; round < 2; ++round) {
        replay.ChannelStarted();
        for (const auto& request : requests) {
            unsigned long length = static_cast<unsigned long>(reply.size());
            const auto answer =
                replay.Exchange(request.data(), static_cast<unsigned long>(request.size()), reply.data(), &length);
            if (answer.result > 1) std::abort();
        }
    }
    if (replay.StatusJson().empty()) std::abort();
    return 0;
}
