// The exchange recording's cost (TRAX_RECORD). Off, the engine makes one
// relaxed load per exchange; on, each exchange is formatted and written with
// a flush. Recording to /dev/null leaves the formatting and the write call;
// to a file adds what the file system asks. And a 65536-value storage read
// recorded, then read back and replayed by the stand-in's replay.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/InstantDriver.h"
#include "record/Recording.h"
#include "session/DeviceSession.h"
#include "sim/RecordingFile.h"
#include "sim/Replay.h"
#include "trace/Trace.h"
#include "trax.h"

namespace {

void DropLine(const char*, int) {}

std::string TempFile(const char* name) {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/" + name;
}

// CallsOnly: the recording off but the calls recorded as it has them, the
// share of the call records in what the recording costs.
enum Target { Off = 0, DevNull = 1, File = 2, CallsOnly = 3 };

void StartRecording(int target, const std::string& file) {
    // The calls recorded as at load, so that each line names its call.
    trax::trace::StartForTesting(target == Off ? trax::trace::LevelOff : trax::trace::LevelCalls, &DropLine);
    trax::record::StartForTesting(target == Off || target == CallsOnly ? nullptr
                                  : target == DevNull                  ? "/dev/null"
                                                                       : file.c_str());
}

void StopRecording() {
    trax::record::StartForTesting(nullptr);
    trax::trace::StopForTesting();
}

// A whole measured-value read (one exchange) with the recording off, to
// /dev/null and to a file.
void BM_RecordedCalcDataCall(benchmark::State& state) {
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(0);
    const std::string file = TempFile("trax-bench-record.jsonl");
    StartRecording(static_cast<int>(state.range(0)), file);
    FloatValue a{}, b{};
    for (auto _ : state) {
        if (TRAX_GetCalcData(&a, &b) != 1) {
            state.SkipWithError("read failed");
            break;
        }
    }
    StopRecording();
    std::remove(file.c_str());
}
BENCHMARK(BM_RecordedCalcDataCall)->Arg(Off)->Arg(CallsOnly)->Arg(DevNull)->Arg(File)->Unit(benchmark::kMicrosecond);

// The 65536-value storage read, recorded (off, /dev/null, a file).
void BM_RecordedStorageRead65536(benchmark::State& state) {
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(65536);
    const std::string file = TempFile("trax-bench-record-storage.jsonl");
    StartRecording(static_cast<int>(state.range(0)), file);
    std::vector<FloatValue> values(65536);
    int returned = 0;
    for (auto _ : state) {
        if (TRAX_DataStorageGetData(0, 65536, values.data(), &returned) != 1 || returned != 65536) {
            state.SkipWithError("storage read failed");
            break;
        }
    }
    StopRecording();
    std::remove(file.c_str());
}
BENCHMARK(BM_RecordedStorageRead65536)->Arg(Off)->Arg(DevNull)->Arg(File)->Unit(benchmark::kMillisecond);

// The storage read recorded to a file, then the file read and the read
// replayed: the whole round trip a desk replay of that read makes.
void BM_StorageReadRecordedAndReplayed(benchmark::State& state) {
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(65536);
    const std::string file = TempFile("trax-bench-roundtrip.jsonl");
    std::vector<FloatValue> values(65536);
    std::vector<uint8_t> reply(0x100000);
    int returned = 0;
    for (auto _ : state) {
        StartRecording(File, file);
        if (TRAX_DataStorageGetData(0, 65536, values.data(), &returned) != 1) {
            state.SkipWithError("storage read failed");
            break;
        }
        StopRecording();
        trax::sim::Recording recording;
        std::string problem;
        if (!trax::sim::ReadRecordingFile(file, &recording, &problem)) {
            state.SkipWithError(problem.c_str());
            break;
        }
        trax::sim::Replay replay(file, std::move(recording), false);
        unsigned long length = static_cast<unsigned long>(reply.size());
        // The read's one exchange, as the library sends it.
        const uint8_t request[] = {0x00, 0x05, 0x07, 0x24, 0x00};
        const auto answer = replay.Exchange(request, sizeof request, reply.data(), &length);
        if (answer.result != 1 || length < 262144) {
            state.SkipWithError("the replay did not answer the read");
            break;
        }
    }
    std::remove(file.c_str());
}
BENCHMARK(BM_StorageReadRecordedAndReplayed)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// One exchange's line alone: formatting, the lock and the write with its
// flush of a measured-value read's request and reply, to /dev/null.
void BM_RecordOneExchange(benchmark::State& state) {
    StartRecording(DevNull, "");
    const uint8_t request[] = {0x00, 0x06, 0x07, 0x14, 0x00, 0xFF};
    const uint8_t reply[] = {0x00, 0x14, 0x07, 0x15, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0x11, 0x00, 0x00, 0x01, 0xE2, 0x4E, 0xFF, 0xFC, 0xEF, 0x20};
    trax::record::Exchange exchange{};
    exchange.request = request;
    exchange.requestLength = sizeof request;
    exchange.ending = trax::record::Ending::Answered;
    exchange.lastTake = reply;
    exchange.lastTakeLength = sizeof reply;
    for (auto _ : state) trax::record::Write(exchange);
    StopRecording();
}
BENCHMARK(BM_RecordOneExchange);

}  // namespace
