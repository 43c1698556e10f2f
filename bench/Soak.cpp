// The soak: four threads make a mix of every function family against the
// simulated controller, with random link latency and a small share of spoilt
// exchanges, for a given time. It reports calls per second, every failure
// (each must fall in a call during which a fault was injected), and the
// process's resident memory and thread count, which must not grow.
//
//   trax_soak [--seconds N] [--threads N] [--seed N]
//
// Exit status 0 when every failure is explained and nothing grew, 1 otherwise.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/SoakDriver.h"
#include "session/DeviceSession.h"
#include "trax.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Call {
    const char* family;
    int (*run)(std::mt19937&);
};

int Pick(std::mt19937& random, int count) { return static_cast<int>(random() % static_cast<unsigned>(count)); }

// Calls the simulated controller accepts from any state the mix can leave
// it in: nothing here leaves it in setting mode on success.
const Call kCalls[] = {
    {"measure",
     [](std::mt19937&) {
         FloatValue a, b;
         return TRAX_GetCalcData(&a, &b);
     }},
    {"measure",
     [](std::mt19937& r) {
         FigureData f;
         return TRAX_GetFigureData(Pick(r, 2), &f);
     }},
    {"storage",
     [](std::mt19937& r) {
         int state = 0, count = 0;
         return TRAX_DataStorageGetStatus(Pick(r, 2), &state, &count);
     }},
    {"storage",
     [](std::mt19937& r) {
         FloatValue values[64];
         int returned = 0;
         return TRAX_DataStorageGetData(Pick(r, 2), 64, values, &returned);
     }},
    {"light",
     [](std::mt19937& r) {
         LightData data;
         unsigned char profile[1024];
         int extra = 0;
         return TRAX_GetLight(Pick(r, 2), Pick(r, 4), &data, &extra, profile);
     }},
    {"control", [](std::mt19937& r) { return TRAX_SetZero(Pick(r, 3), 0); }},
    {"control",
     [](std::mt19937&) {
         int panel = 0;
         return TRAX_GetPanel(&panel);
     }},
    {"settings", [](std::mt19937& r) { return TRAX_SetAverage(Pick(r, 2), Pick(r, 10)); }},
    {"settings",
     [](std::mt19937& r) {
         int average = 0;
         return TRAX_GetAverage(Pick(r, 2), &average);
     }},
    {"settings",
     [](std::mt19937& r) {
         int high = 0, low = 0, hysteresis = 0;
         return TRAX_GetTolerance(Pick(r, 2), &high, &low, &hysteresis);
     }},
    {"system",
     [](std::mt19937&) {
         int cycle = 0;
         return TRAX_GetSamplingCycle(&cycle);
     }},
    {"mode", [](std::mt19937&) { return TRAX_SetMode(0); }},
};
constexpr int kCallCount = sizeof kCalls / sizeof kCalls[0];

#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define TRAX_SOAK_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define TRAX_SOAK_UNDER_SANITIZER 1
#endif
#if defined(TRAX_SOAK_UNDER_SANITIZER)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

// From /proc/self/status: "VmRSS:" in KiB, "Threads:".
long StatusField(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0) return std::strtol(line.c_str() + length, nullptr, 10);
    }
    return -1;
}

struct Tally {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> failures{0};
    std::atomic<uint64_t> unexplained{0};
};

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    int threadCount = 4;
    uint64_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--threads") == 0) threadCount = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    if (seconds <= 0 || threadCount <= 0) {
        std::fprintf(stderr, "usage: trax_soak [--seconds N] [--threads N] [--seed N]\n");
        return 2;
    }

    trax::soak::SoakLink link;
    link.seed = seed;
    trax::soak::ConfigureLink(link);
    if (trax::session::ProcessAttach() != 1) {
        std::fprintf(stderr, "driver start-up failed\n");
        return 1;
    }

    const long threadsAtStart = StatusField("Threads:");
    Tally tally[kCallCount];
    std::mutex reportMutex;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> faultsAtLastSuccess{0};
    std::atomic<int> failuresInARow{0};
    std::atomic<int> longestFailureRun{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threadCount; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(static_cast<uint32_t>(seed * 7919 + static_cast<uint64_t>(t)));
            while (!stop.load()) {
                const int index = Pick(random, kCallCount);
                const uint64_t faultsBefore = trax::soak::InjectedFaultTotal();
                const int result = kCalls[index].run(random);
                const uint64_t faultsAfter = trax::soak::InjectedFaultTotal();
                tally[index].calls.fetch_add(1);
                if (result == 1) {
                    faultsAtLastSuccess.store(faultsAfter);
                    failuresInARow.store(0);
                    continue;
                }
                tally[index].failures.fetch_add(1);
                const int row = failuresInARow.fetch_add(1) + 1;
                int longest = longestFailureRun.load();
                while (row > longest && !longestFailureRun.compare_exchange_weak(longest, row)) {
                }
                // Calls are serialised by the library, so a fault injected
                // between the two counts fell in this call or one it waited
                // for. A fault since the last success explains a failure too:
                // a refused switch back to measurement mode is an answer and
                // is not asked again, so the controller stays in setting mode
                // until the next call that switches.
                if (faultsAfter == faultsBefore && faultsBefore == faultsAtLastSuccess.load()) {
                    tally[index].unexplained.fetch_add(1);
                    std::lock_guard<std::mutex> guard(reportMutex);
                    std::fprintf(stderr, "unexplained failure: call %d (%s)\n", index, kCalls[index].family);
                }
            }
        });
    }

    // Resident memory is taken once the workers have warmed up (thread
    // arenas, the storage reply record), and again just before they stop.
    const auto start = Clock::now();
    const auto warmUp = std::chrono::duration<double>(seconds < 10 ? seconds / 10 : 1.0);
    std::this_thread::sleep_for(warmUp);
    const long rssAtStart = StatusField("VmRSS:");
    std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds));
    const long rssAtEnd = StatusField("VmRSS:");
    stop.store(true);
    for (std::thread& worker : workers) worker.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const long threadsAtEnd = StatusField("Threads:");

    uint64_t calls = 0, failures = 0, unexplained = 0;
    std::printf("%-9s %10s %9s %12s\n", "family", "calls", "failures", "unexplained");
    for (const char* family : {"measure", "storage", "light", "control", "settings", "system", "mode"}) {
        uint64_t c = 0, f = 0, u = 0;
        for (int i = 0; i < kCallCount; ++i) {
            if (std::strcmp(kCalls[i].family, family) != 0) continue;
            c += tally[i].calls.load();
            f += tally[i].failures.load();
            u += tally[i].unexplained.load();
        }
        std::printf("%-9s %10llu %9llu %12llu\n", family, static_cast<unsigned long long>(c),
                    static_cast<unsigned long long>(f), static_cast<unsigned long long>(u));
        calls += c;
        failures += f;
        unexplained += u;
    }
    const uint64_t injected = trax::soak::InjectedFaultTotal();
    std::printf("threads %d, %.1f s: %llu calls (%.0f calls/s), %llu exchanges\n", threadCount, elapsed,
                static_cast<unsigned long long>(calls), static_cast<double>(calls) / elapsed,
                static_cast<unsigned long long>(trax::soak::ExchangeTotal()));
    std::printf("injected faults %llu, failed calls %llu, unexplained %llu\n",
                static_cast<unsigned long long>(injected), static_cast<unsigned long long>(failures),
                static_cast<unsigned long long>(unexplained));
    std::printf("resident memory %ld KiB after warm-up, %ld KiB at the end\n", rssAtStart, rssAtEnd);
    std::printf("threads %ld before the workers, %ld after them\n", threadsAtStart, threadsAtEnd);

    bool ok = true;
    if (unexplained != 0) {
        std::printf("FAIL: failures that no injected fault explains\n");
        ok = false;
    }
    // Whatever a fault left behind, the next calls that switch modes bring
    // the controller back: failures never go on and on.
    constexpr int kLongestFailureRun = 20;
    std::printf("longest run of failed calls %d\n", longestFailureRun.load());
    if (longestFailureRun.load() > kLongestFailureRun) {
        std::printf("FAIL: the controller did not come back after a fault\n");
        ok = false;
    }
    // A sanitizer starts a background thread of its own when it first needs
    // it, and keeps freed memory in quarantine and shadow pages: neither is
    // growth of the library's.
    if (threadsAtEnd > threadsAtStart + (kUnderSanitizer ? 1 : 0) || threadsAtEnd < threadsAtStart) {
        std::printf("FAIL: the thread count grew\n");
        ok = false;
    }
    // Allocator noise is allowed; a leak per call or per fault is not.
    constexpr long kRssSlackKiB = 2048;
    if (kUnderSanitizer) {
        std::printf("resident memory not judged: the sanitizer's own memory dominates it\n");
    } else if (rssAtEnd > rssAtStart + kRssSlackKiB) {
        std::printf("FAIL: resident memory grew\n");
        ok = false;
    }
    if (trax::session::TheSession().OpenCount() != 0) {
        std::printf("FAIL: the session is still open\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
