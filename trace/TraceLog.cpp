// The trace log's level, output and first line, and the request and reply lines.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/UsbDriver.h"
#include "platform/Platform.h"
#include "trace/LineBuilder.h"

#ifndef TRAX_LIBRARY_VERSION
#define TRAX_LIBRARY_VERSION "unknown"
#endif

namespace trax::trace {

namespace detail {
std::atomic<int> level{LevelOff};
}

namespace {

// Replies longer than this show only their first bytes and their length.
constexpr int32_t kMaxHexBytes = 64;

platform::ExclusiveLock& OutputLock() {
    static platform::ExclusiveLock lock;
    return lock;
}

// The output is chosen at load, before any call, and changed by tests only
// between calls; Emit reads it under the lock.
std::FILE* logFile TRAX_GUARDED_BY(OutputLock()) = nullptr;
std::atomic<Sink> testSink{nullptr};
std::atomic<uint64_t> startUs{0};
std::atomic<CallingConventionProbe> conventionProbe{nullptr};

// Level and output from the environment, or the text of what was wrong.
struct Setup {
    int level = LevelOff;
    char problem[256] = {};
};
Setup pendingSetup TRAX_GUARDED_BY(OutputLock());

void WriteLine(const char* line, int length) TRAX_REQUIRES(OutputLock()) {
    if (Sink sink = testSink.load()) {
        sink(line, length);
        return;
    }
    if (logFile != nullptr) {
        // A full disk or a removed file drops the line; the call goes on.
        if (std::fwrite(line, 1, static_cast<size_t>(length), logFile) == static_cast<size_t>(length)) {
            std::fflush(logFile);
        }
        return;
    }
    platform::WriteDebugOutput(line, length);
}

void CloseFile() TRAX_REQUIRES(OutputLock()) {
    if (logFile != nullptr) std::fclose(logFile);
    logFile = nullptr;
}

}  // namespace

uint64_t SinceStartUs(uint64_t nowUs) {
    const uint64_t start = startUs.load(std::memory_order_relaxed);
    return nowUs >= start ? nowUs - start : 0;
}

void Emit(const char* line, int length) {
    platform::ExclusiveGuard guard(OutputLock());
    WriteLine(line, length);
}

// Held from one handler to the other, which the analysis cannot follow.
void LockOutputForFork() TRAX_NO_THREAD_SAFETY_ANALYSIS { OutputLock().Lock(); }
void UnlockOutputAfterFork() TRAX_NO_THREAD_SAFETY_ANALYSIS { OutputLock().Unlock(); }

void StartFromEnvironment() {
    platform::ExclusiveGuard guard(OutputLock());
    detail::level.store(LevelOff);
    startUs.store(platform::NowMicroseconds());
    CloseFile();
    pendingSetup = Setup{};
    const char* value = std::getenv("TRAX_LOG");
    if (value == nullptr || value[0] == '\0' || std::strcmp(value, "off") == 0) return;
    int wanted = LevelOff;
    if (std::strcmp(value, "calls") == 0) {
        wanted = LevelCalls;
    } else if (std::strcmp(value, "bytes") == 0) {
        wanted = LevelBytes;
    } else {
        std::snprintf(pendingSetup.problem, sizeof pendingSetup.problem,
                      "TRAX_LOG='%.64s' is neither 'calls' nor 'bytes', so the log stays off", value);
    }
    const char* path = std::getenv("TRAX_LOG_FILE");
    if (path != nullptr && path[0] != '\0') {
        logFile = std::fopen(path, "ab");
        if (logFile == nullptr && pendingSetup.problem[0] == '\0') {
            // Said on the system's debug output, the only place left.
            std::snprintf(pendingSetup.problem, sizeof pendingSetup.problem,
                          "TRAX_LOG_FILE '%.128s' cannot be opened (%s), so the log stays off", path,
                          std::strerror(errno));
            wanted = LevelOff;
        }
    }
    if (pendingSetup.problem[0] != '\0') wanted = LevelOff;
    // The header needs the driver's start-up; the level is switched on when
    // it has been written (WriteFirstLine), so the first line comes first.
    pendingSetup.level = wanted;
}

void WriteFirstLine(const driver::StartupResults& results, bool usable) {
    platform::ExclusiveGuard guard(OutputLock());
    const int wanted = pendingSetup.level;
    if (wanted == LevelOff && pendingSetup.problem[0] == '\0') return;
    char buffer[768];
    LineBuilder line(buffer, sizeof buffer);
    line.Add("trax %s trace log", TRAX_LIBRARY_VERSION);
    if (pendingSetup.problem[0] != '\0') {
        line.Add(": %s", pendingSetup.problem);
    } else {
        line.Add(" (%s)", wanted == LevelBytes ? "bytes" : "calls");
    }
    line.Add("; %s %s, process %lu", platform::PlatformName(), platform::ArchitectureName(),
             static_cast<unsigned long>(platform::CurrentProcessId()));
    line.Add("; driver start-up: InitQelUsbTypeParam=%ld SetUsbType=%ld InitUsb=%d InitPid=%d, library %s",
             results.typeParam, results.usbType, results.initUsb, results.initPid, usable ? "usable" : "unusable");
    const char* standIn = driver::StandInDriverDescription();
    if (standIn != nullptr) {
        line.Add("; driver: %s", standIn);
    } else {
        line.Add("; driver: the maker's USB driver (not the stand-in)");
    }
    const CallingConventionProbe probe = conventionProbe.load();
    const char* convention = probe != nullptr ? probe() : nullptr;
    line.Add("; driver calls: %s", convention != nullptr ? convention : "not known");
    const int length = line.Finish();
    WriteLine(line.Text(), length);
    if (wanted == LevelOff) CloseFile();
    detail::level.store(wanted);
}

void SetDriverCallingConventionProbe(CallingConventionProbe probe) { conventionProbe.store(probe); }

void StartForTesting(Level newLevel, Sink sink) {
    platform::ExclusiveGuard guard(OutputLock());
    CloseFile();
    testSink.store(sink);
    startUs.store(platform::NowMicroseconds());
    detail::level.store(newLevel);
}

void StopForTesting() { StartForTesting(LevelOff, nullptr); }

void LogRequest(const uint8_t* packet, int32_t length) {
    if (!BytesOn()) return;
    char buffer[512];
    LineBuilder line(buffer, sizeof buffer);
    line.AddPrefix(platform::NowMicroseconds());
    line.Add("request, command %u, %d bytes: ", length >= 4 ? packet[3] : 0u, length);
    line.AddHex(packet, length < kMaxHexBytes ? length : kMaxHexBytes);
    if (length > kMaxHexBytes) line.Add(" ...");
    const int n = line.Finish();
    Emit(line.Text(), n);
}

void LogReply(const uint8_t* bytes, int32_t length) {
    if (!BytesOn()) return;
    char buffer[512];
    LineBuilder line(buffer, sizeof buffer);
    line.AddPrefix(platform::NowMicroseconds());
    if (length >= 4) {
        line.Add("reply, code %u, %d bytes: ", bytes[3], length);
    } else {
        line.Add("reply, %d bytes: ", length);
    }
    line.AddHex(bytes, length < kMaxHexBytes ? length : kMaxHexBytes);
    if (length > kMaxHexBytes) line.Add(" ... (%d bytes in all)", length);
    const int n = line.Finish();
    Emit(line.Text(), n);
}

void LineBuilder::AddV(const char* format, va_list args) {
    if (length >= capacity - 1) return;
    const int room = capacity - length;
    const int wrote = std::vsnprintf(buffer + length, static_cast<size_t>(room), format, args);
    if (wrote < 0) return;
    length += wrote < room ? wrote : room - 1;
}

void LineBuilder::Add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AddV(format, args);
    va_end(args);
}

void LineBuilder::AddHex(const uint8_t* bytes, int32_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int32_t i = 0; i < count; ++i) {
        if (length + 4 > capacity) return;
        if (i > 0) buffer[length++] = ' ';
        buffer[length++] = kDigits[bytes[i] >> 4];
        buffer[length++] = kDigits[bytes[i] & 0x0F];
        buffer[length] = '\0';
    }
}

void LineBuilder::AddPrefix(uint64_t nowUs) {
    const uint64_t since = SinceStartUs(nowUs);
    Add("trax [%6llu.%03llu ms] thread %lu: ", static_cast<unsigned long long>(since / 1000),
        static_cast<unsigned long long>(since % 1000), static_cast<unsigned long>(platform::CurrentThreadId()));
}

int LineBuilder::Finish() {
    if (length > capacity - 2) {
        // Cut: the line still ends in an ellipsis and a newline.
        length = capacity - 5;
        std::memcpy(buffer + length, "...", 3);
        length += 3;
    }
    buffer[length++] = '\n';
    buffer[length] = '\0';
    return length;
}

}  // namespace trax::trace
