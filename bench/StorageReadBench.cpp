#include <benchmark/benchmark.h>

#include <vector>

#include "bench/InstantDriver.h"
#include "measure/Conversion.h"
#include "session/DeviceSession.h"
#include "trax.h"

namespace {

void Prepare(uint32_t storedCount) {
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(storedCount);
}

// A whole exported call: channel and I/O thread set up, one 262160-byte
// exchange, ring copy, byte swap, conversion, channel torn down.
void BM_StorageRead65536(benchmark::State& state) {
    Prepare(65536);
    std::vector<FloatValue> values(65536);
    int returned = 0;
    for (auto _ : state) {
        if (TRAX_DataStorageGetData(0, 65536, values.data(), &returned) != 1 || returned != 65536) {
            state.SkipWithError("storage read failed");
            break;
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(state.iterations() * 65536);
    state.SetBytesProcessed(state.iterations() * (16 + 4 * 65536));
}
BENCHMARK(BM_StorageRead65536)->Unit(benchmark::kMicrosecond);

// The conversion pass alone, for the share it takes of the read above.
void BM_Convert65536(benchmark::State& state) {
    std::vector<int32_t> raw(65536);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<int32_t>(i * 1531) - 50000000;
    std::vector<FloatValue> values(65536);
    for (auto _ : state) {
        const trax::measure::UnitScale scale(0, 1);
        for (size_t i = 0; i < raw.size(); ++i) scale.Convert(&values[i], raw[i]);
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(state.iterations() * 65536);
}
BENCHMARK(BM_Convert65536)->Unit(benchmark::kMicrosecond);

// The fixed cost every exported call pays: session open with channel, rings
// and thread, one small exchange, close.
void BM_GetCalcData(benchmark::State& state) {
    Prepare(0);
    FloatValue a{}, b{};
    for (auto _ : state) {
        if (TRAX_GetCalcData(&a, &b) != 1) {
            state.SkipWithError("measured-value read failed");
            break;
        }
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GetCalcData)->Unit(benchmark::kMicrosecond);

}  // namespace
