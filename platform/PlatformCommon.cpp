// Parts of the platform layer that are the same on every backend: the
// assertion counter and hook, the live-handle count and the module name.
#include "platform/PlatformCommon.h"

#include <atomic>
#include <cstring>

namespace trax::platform {

namespace {
std::atomic<uint64_t> assertionCount{0};
std::atomic<AssertionHook> assertionHook{nullptr};
std::atomic<AssertionSink> assertionSink{nullptr};
std::atomic<int> liveHandles{0};

struct PendingAssertion {
    char module[64];
    int line;
};
constexpr int kPendingLimit = 4;
// Per thread: each thread's reports wait for the end of its own call.
thread_local int deferDepth = 0;
thread_local int pendingCount = 0;
thread_local PendingAssertion pending[kPendingLimit];

void Deliver(const char* module, int line) {
    if (AssertionSink sink = assertionSink.load()) {
        sink(module, line);
        return;
    }
    ShowAssertion(module, line);
}
}  // namespace

void ModuleNameFromPath(const char* path, char* out, int outSize) {
    if (outSize <= 0) return;
    out[0] = '\0';
    if (path == nullptr) return;
    const char* start = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') start = p + 1;
    }
    const char* dot = std::strrchr(start, '.');
    size_t length = dot != nullptr ? static_cast<size_t>(dot - start) : std::strlen(start);
    if (length >= static_cast<size_t>(outSize)) length = static_cast<size_t>(outSize) - 1;
    std::memcpy(out, start, length);
    out[length] = '\0';
}

uint64_t AssertionCount() { return assertionCount.load(); }

AssertionHook SetAssertionHook(AssertionHook hook) { return assertionHook.exchange(hook); }

void SetAssertionSink(AssertionSink sink) { assertionSink.store(sink); }

DeferAssertions::DeferAssertions() { ++deferDepth; }

DeferAssertions::~DeferAssertions() {
    if (--deferDepth > 0) return;
    // Taken out first: showing one may run a message loop that calls the
    // library again, and that call keeps its own reports.
    PendingAssertion shown[kPendingLimit];
    const int count = pendingCount;
    for (int i = 0; i < count; ++i) shown[i] = pending[i];
    pendingCount = 0;
    for (int i = 0; i < count; ++i) Deliver(shown[i].module, shown[i].line);
}

int LiveHandleCount() { return liveHandles.load(); }

void ReportAssertion(const char* sourcePath, int line) {
    char module[64];
    ModuleNameFromPath(sourcePath, module, sizeof module);
    assertionCount.fetch_add(1);
    if (AssertionHook hook = assertionHook.load()) {
        hook(module, line);
        return;
    }
    if (deferDepth > 0) {
        if (pendingCount < kPendingLimit) {
            PendingAssertion& kept = pending[pendingCount++];
            std::memcpy(kept.module, module, sizeof kept.module);
            kept.line = line;
        }
        return;
    }
    Deliver(module, line);
}

void CountHandleCreated() { liveHandles.fetch_add(1); }
void CountHandleClosed() { liveHandles.fetch_sub(1); }

}  // namespace trax::platform
