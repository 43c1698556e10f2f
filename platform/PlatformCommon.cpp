// Parts of the platform layer that are the same on every backend: the
// assertion counter and hook, the live-handle count and the module name.
#include "platform/PlatformCommon.h"

#include <atomic>
#include <cstring>

namespace trax::platform {

namespace {
std::atomic<uint64_t> assertionCount{0};
std::atomic<AssertionHook> assertionHook{nullptr};
std::atomic<int> liveHandles{0};
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

void SetAssertionHook(AssertionHook hook) { assertionHook.store(hook); }

int LiveHandleCount() { return liveHandles.load(); }

void ReportAssertion(const char* sourcePath, int line) {
    char module[64];
    ModuleNameFromPath(sourcePath, module, sizeof module);
    assertionCount.fetch_add(1);
    if (AssertionHook hook = assertionHook.load()) {
        hook(module, line);
        return;
    }
    ShowAssertion(module, line);
}

void CountHandleCreated() { liveHandles.fetch_add(1); }
void CountHandleClosed() { liveHandles.fetch_sub(1); }

}  // namespace trax::platform
