// What one exported call costs against a driver that answers at once, next to
// the one thread start and join that every call pays for its I/O thread.
// After the usual table, the run prints each call's median time as a multiple
// of the median thread start and join, so one run shows both figures and their
// ratio under the same load.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/InstantDriver.h"
#include "session/DeviceSession.h"
#include "trax.h"

namespace {

void Prepare() {
    trax::session::SetLibraryUsableForTesting(true);
    trax::bench::PrepareReplies(0);
}

// The floor of every exported call: its I/O thread's start and end.
void BM_ThreadStartJoin(benchmark::State& state) {
    for (auto _ : state) {
        std::thread thread([] {});
        thread.join();
    }
}
BENCHMARK(BM_ThreadStartJoin)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One transaction: session open with channel and thread, one exchange, close.
void BM_GetCalcData(benchmark::State& state) {
    Prepare();
    FloatValue a{}, b{};
    for (auto _ : state) {
        if (TRAX_GetCalcData(&a, &b) != 1) {
            state.SkipWithError("measured-value read failed");
            break;
        }
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_GetCalcData)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Six transactions in one session: mode query, switch to setting mode, query
// again (status and probe), the write, switch back.
void BM_SetAverage(benchmark::State& state) {
    Prepare();
    for (auto _ : state) {
        if (TRAX_SetAverage(0, 3) != 1) {
            state.SkipWithError("setting write failed");
            break;
        }
    }
}
BENCHMARK(BM_SetAverage)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The console table as usual, plus the per-iteration real time of every
// repetition (or the median the library reports), kept by benchmark name
// for the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) continue;
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration) {
                seconds_[name].push_back(seconds);
            } else if (run.aggregate_name == "median") {
                reportedMedian_[name] = seconds;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const double base = Median("BM_ThreadStartJoin");
        if (base <= 0) return;
        std::printf("\nMedian real time per call, as a multiple of one thread start and join (%.1f us):\n", base * 1e6);
        for (const char* name : {"BM_GetCalcData", "BM_SetAverage"}) {
            const double median = Median(name);
            if (median > 0) std::printf("  %-16s %9.1f us  %5.2fx\n", name + 3, median * 1e6, median / base);
        }
    }

private:
    // The median the library computed when it reported one (repetitions
    // with aggregates only), else the median of the runs seen.
    double Median(const std::string& name) {
        auto reported = reportedMedian_.find(name);
        if (reported != reportedMedian_.end()) return reported->second;
        auto found = seconds_.find(name);
        if (found == seconds_.end() || found->second.empty()) return 0;
        std::vector<double> values = found->second;
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

    std::map<std::string, std::vector<double>> seconds_;
    std::map<std::string, double> reportedMedian_;
};

}  // namespace

// "--calls GetCalcData|SetAverage N" makes N calls and nothing else, for
// counting system calls per call (strace -f -c) without the framework's own.
int RunCalls(const std::string& which, long count) {
    Prepare();
    FloatValue a{}, b{};
    for (long i = 0; i < count; ++i) {
        const int ok = which == "SetAverage" ? TRAX_SetAverage(0, 3) : TRAX_GetCalcData(&a, &b);
        if (ok != 1) {
            std::fprintf(stderr, "call %ld failed\n", i);
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--calls") {
        const std::string which = argv[2];
        if (which != "GetCalcData" && which != "SetAverage") return 2;
        return RunCalls(which, std::strtol(argv[3], nullptr, 10));
    }
    // By default several repetitions, run in random interleaved order, so that
    // a change of the machine's load between two benchmarks does not end up
    // in their ratio. Flags given on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=9";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregatesOnly});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
