#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/InstantDriver.h"
#include "client/Failure.h"
#include "session/DeviceSession.h"
#include "trace/Trace.h"
#include "trax.h"

namespace {

void DropLine(const char*, int) {}

// The trace log's share of an exported call. The argument check fails at
// once, so an out-of-range call is little more than the call frame: with the
// log off it shows the cost of the hook (one relaxed load), with it on the
// cost of formatting a line with its reason.
void BM_OutOfRangeCall(benchmark::State& state) {
    trax::trace::StartForTesting(static_cast<trax::trace::Level>(state.range(0)), &DropLine);
    FigureData figure{};
    for (auto _ : state) benchmark::DoNotOptimize(TRAX_GetFigureData(5, &figure));
    trax::trace::StopForTesting();
}
BENCHMARK(BM_OutOfRangeCall)->Arg(trax::trace::LevelOff)->Arg(trax::trace::LevelCalls);

// A whole measured-value read (channel and I/O thread set up, one exchange,
// torn down) with the log off, at calls and at bytes.
void BM_CalcDataCall(benchmark::State& state) {
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(0);
    trax::trace::StartForTesting(static_cast<trax::trace::Level>(state.range(0)), &DropLine);
    FloatValue a{}, b{};
    for (auto _ : state) {
        if (TRAX_GetCalcData(&a, &b) != 1) {
            state.SkipWithError("read failed");
            break;
        }
    }
    trax::trace::StopForTesting();
}
BENCHMARK(BM_CalcDataCall)
    ->Arg(trax::trace::LevelOff)
    ->Arg(trax::trace::LevelCalls)
    ->Arg(trax::trace::LevelBytes)
    ->Unit(benchmark::kMicrosecond);

// The tools' capture: the reason tap (TRAX_LOG_TAP) on, the user's log off,
// as traxctl and the Python package run. Set at load, as they do.
class TapOn {
public:
    TapOn()
        : path_(std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") + "/trax-bench-tap") {
        std::remove(path_.c_str());
        setenv("TRAX_LOG_TAP", path_.c_str(), 1);
        unsetenv("TRAX_LOG");
        (void)trax::session::ProcessAttach();  // only the tap is wanted from it
    }
    ~TapOn() {
        unsetenv("TRAX_LOG_TAP");
        (void)trax::session::ProcessAttach();  // closes the tap, the log stays off
        std::remove(path_.c_str());
    }

private:
    std::string path_;
};

// A measured-value read that succeeds: with the tap on, the call is recorded
// but nothing is written.
void BM_CalcDataCallWithTap(benchmark::State& state) {
    TapOn tap;
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(0);
    FloatValue a{}, b{};
    for (auto _ : state) {
        if (TRAX_GetCalcData(&a, &b) != 1) {
            state.SkipWithError("read failed");
            break;
        }
    }
}
BENCHMARK(BM_CalcDataCallWithTap)->Unit(benchmark::kMicrosecond);

// A failed call with the tap on: its JSON object is formatted and appended to
// the file; with range(0) = 1 the tool's side too, reading the reason back.
void BM_FailedCallWithTap(benchmark::State& state) {
    TapOn tap;
    trax::client::PrepareReasonTap();
    FigureData figure{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(TRAX_GetFigureData(5, &figure));
        if (state.range(0) == 1) benchmark::DoNotOptimize(trax::client::FailureOf("TRAX_GetFigureData"));
    }
}
BENCHMARK(BM_FailedCallWithTap)->Arg(0)->Arg(1);

}  // namespace
