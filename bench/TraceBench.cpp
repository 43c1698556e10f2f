#include <benchmark/benchmark.h>

#include "bench/InstantDriver.h"
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

}  // namespace
