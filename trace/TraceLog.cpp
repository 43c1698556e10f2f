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
std::FILE* tapFile TRAX_GUARDED_BY(OutputLock()) = nullptr;
std::atomic<Sink> testSink{nullptr};
// Whether the user's log writes lines and in which form; the tap. Written
// with the level, read by the calling threads.
std::atomic<bool> linesOn{false};
std::atomic<bool> jsonLines{false};
std::atomic<bool> tapOn{false};
std::atomic<uint64_t> startUs{0};
std::atomic<CallingConventionProbe> conventionProbe{nullptr};

// Level and output from the environment, or the text of what was wrong.
struct Setup {
    int level = LevelOff;
    bool json = false;
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
    if (logFile != nullptr && logFile != stderr) std::fclose(logFile);
    logFile = nullptr;
}

void WriteTapLine(const char* line, int length) TRAX_REQUIRES(OutputLock()) {
    if (tapFile == nullptr) return;
    // Like the log: a failed write is dropped and never fails the call.
    if (std::fwrite(line, 1, static_cast<size_t>(length), tapFile) == static_cast<size_t>(length)) {
        std::fflush(tapFile);
    }
}

void CloseTap() TRAX_REQUIRES(OutputLock()) {
    tapOn.store(false);
    if (tapFile != nullptr) std::fclose(tapFile);
    tapFile = nullptr;
}

// The first line as one JSON object, for the log in JSON and for the tap.
int FirstLineJson(LineBuilder& line, const driver::StartupResults& results, bool usable, int wanted,
                  const char* problem) {
    line.Add("{\"trax\":\"%s\",\"log\":\"%s\"", TRAX_LIBRARY_VERSION,
             wanted == LevelBytes   ? "bytes"
             : wanted == LevelCalls ? "calls"
                                    : "off");
    if (problem != nullptr && problem[0] != '\0') {
        line.Add(",\"problem\":");
        line.AddJsonString(problem);
    }
    line.Add(",\"platform\":\"%s\",\"architecture\":\"%s\",\"process\":%lu", platform::PlatformName(),
             platform::ArchitectureName(), static_cast<unsigned long>(platform::CurrentProcessId()));
    line.Add(",\"startup\":{\"InitQelUsbTypeParam\":%ld,\"SetUsbType\":%ld,\"InitUsb\":%d,\"InitPid\":%d}",
             results.typeParam, results.usbType, results.initUsb, results.initPid);
    line.Add(",\"usable\":%s", usable ? "true" : "false");
    const char* standIn = driver::StandInDriverDescription();
    line.Add(",\"stand_in\":%s,\"driver\":", standIn != nullptr ? "true" : "false");
    line.AddJsonString(standIn != nullptr ? standIn : "the maker's USB driver (not the stand-in)");
    const CallingConventionProbe probe = conventionProbe.load();
    const char* convention = probe != nullptr ? probe() : nullptr;
    line.Add(",\"driver_calls\":");
    line.AddJsonString(convention != nullptr ? convention : "not known");
    line.Add("}");
    return line.Finish();
}

// A tap named together with its owner (TRAX_LOG_TAP_PROCESS) belongs to that
// process alone: a child that inherited both variables leaves it to its
// parent, and never makes a file under a name its parent has already removed.
bool TapIsOurs(char* owner, int size) {
    if (!platform::EnvironmentValue("TRAX_LOG_TAP_PROCESS", owner, size) || owner[0] == '\0') return true;
    char* end = nullptr;
    const unsigned long process = std::strtoul(owner, &end, 10);
    return end != owner && *end == '\0' && process == platform::CurrentProcessId();
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

bool LinesOn() { return linesOn.load(std::memory_order_relaxed); }
bool JsonLines() { return jsonLines.load(std::memory_order_relaxed); }
bool TapOn() { return tapOn.load(std::memory_order_relaxed); }

void EmitTap(const char* line, int length) {
    platform::ExclusiveGuard guard(OutputLock());
    WriteTapLine(line, length);
}

// Held from one handler to the other, which the analysis cannot follow.
void LockOutputForFork() TRAX_NO_THREAD_SAFETY_ANALYSIS { OutputLock().Lock(); }
void UnlockOutputAfterFork() TRAX_NO_THREAD_SAFETY_ANALYSIS { OutputLock().Unlock(); }

void StartFromEnvironment() {
    platform::ExclusiveGuard guard(OutputLock());
    detail::level.store(LevelOff);
    linesOn.store(false);
    startUs.store(platform::NowMicroseconds());
    CloseFile();
    CloseTap();
    pendingSetup = Setup{};
    // The tap is the tools' own and independent of the user's log: a tap that
    // cannot be opened leaves the tools without reasons and nothing else.
    // The variables as the process has them now (see EnvironmentValue).
    static char tapPath[1024], tapOwner[32], value[64], format[64], path[1024];
    if (platform::EnvironmentValue("TRAX_LOG_TAP", tapPath, sizeof tapPath) && tapPath[0] != '\0' &&
        TapIsOurs(tapOwner, sizeof tapOwner)) {
        tapFile = platform::OpenForAppending(tapPath);
    }
    if (!platform::EnvironmentValue("TRAX_LOG", value, sizeof value)) return;
    if (value[0] == '\0' || std::strcmp(value, "off") == 0) return;
    int wanted = LevelOff;
    if (std::strcmp(value, "calls") == 0) {
        wanted = LevelCalls;
    } else if (std::strcmp(value, "bytes") == 0) {
        wanted = LevelBytes;
    } else {
        std::snprintf(pendingSetup.problem, sizeof pendingSetup.problem,
                      "TRAX_LOG='%.64s' is neither 'calls' nor 'bytes', so the log stays off", value);
    }
    if (!platform::EnvironmentValue("TRAX_LOG_FORMAT", format, sizeof format)) format[0] = '\0';
    if (std::strcmp(format, "json") == 0) {
        pendingSetup.json = true;
    } else if (format[0] != '\0' && std::strcmp(format, "text") != 0 && pendingSetup.problem[0] == '\0') {
        std::snprintf(pendingSetup.problem, sizeof pendingSetup.problem,
                      "TRAX_LOG_FORMAT='%.64s' is neither 'text' nor 'json', so the log stays off", format);
    }
    if (!platform::EnvironmentValue("TRAX_LOG_FILE", path, sizeof path)) path[0] = '\0';
    if (std::strcmp(path, "stderr") == 0) {
        // Standard error on every system: on Windows the one way to see the
        // log in a console without a debugger.
        logFile = stderr;
    } else if (path[0] != '\0') {
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
    char buffer[768];
    if (tapFile != nullptr) {
        LineBuilder line(buffer, sizeof buffer);
        const int length = FirstLineJson(line, results, usable, LevelCalls, nullptr);
        WriteTapLine(line.Text(), length);
        tapOn.store(true);
    }
    // The tap needs the calls recorded even with the user's log off.
    const int recorded = wanted != LevelOff ? wanted : tapFile != nullptr ? LevelCalls : LevelOff;
    if (wanted == LevelOff && pendingSetup.problem[0] == '\0') {
        detail::level.store(recorded);
        return;
    }
    LineBuilder line(buffer, sizeof buffer);
    int length = 0;
    if (pendingSetup.json && pendingSetup.problem[0] == '\0') {
        length = FirstLineJson(line, results, usable, wanted, nullptr);
    } else {
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
        length = line.Finish();
    }
    WriteLine(line.Text(), length);
    if (wanted == LevelOff) CloseFile();
    jsonLines.store(pendingSetup.json);
    linesOn.store(wanted != LevelOff);
    detail::level.store(recorded);
}

void KeepCallsRecorded() {
    int expected = LevelOff;
    detail::level.compare_exchange_strong(expected, LevelCalls);
}

void SetDriverCallingConventionProbe(CallingConventionProbe probe) { conventionProbe.store(probe); }

void StartForTesting(Level newLevel, Sink sink) {
    platform::ExclusiveGuard guard(OutputLock());
    CloseFile();
    CloseTap();
    testSink.store(sink);
    startUs.store(platform::NowMicroseconds());
    linesOn.store(newLevel != LevelOff);
    if (newLevel == LevelOff) jsonLines.store(false);
    detail::level.store(newLevel);
}

void SetJsonForTesting(bool json) { jsonLines.store(json); }

void StopForTesting() { StartForTesting(LevelOff, nullptr); }

void LogRequest(const uint8_t* packet, int32_t length) {
    if (!BytesOn()) return;
    char buffer[512];
    LineBuilder line(buffer, sizeof buffer);
    const unsigned command = length >= 4 ? packet[3] : 0u;
    if (JsonLines()) {
        line.AddJsonPrefix(platform::NowMicroseconds());
        line.Add("\"request\":{\"command\":%u,\"length\":%d,\"hex\":\"", command, length);
        line.AddHex(packet, length < kMaxHexBytes ? length : kMaxHexBytes);
        line.Add("\"}}");
    } else {
        line.AddPrefix(platform::NowMicroseconds());
        line.Add("request, command %u, %d bytes: ", command, length);
        line.AddHex(packet, length < kMaxHexBytes ? length : kMaxHexBytes);
        if (length > kMaxHexBytes) line.Add(" ...");
    }
    const int n = line.Finish();
    Emit(line.Text(), n);
}

void LogReply(const uint8_t* bytes, int32_t length) {
    if (!BytesOn()) return;
    char buffer[512];
    LineBuilder line(buffer, sizeof buffer);
    if (JsonLines()) {
        line.AddJsonPrefix(platform::NowMicroseconds());
        line.Add("\"reply\":{");
        if (length >= 4) line.Add("\"code\":%u,", bytes[3]);
        line.Add("\"length\":%d,\"hex\":\"", length);
        line.AddHex(bytes, length < kMaxHexBytes ? length : kMaxHexBytes);
        line.Add("\"}}");
        const int n = line.Finish();
        Emit(line.Text(), n);
        return;
    }
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

void LineBuilder::AddJsonPrefix(uint64_t nowUs) {
    const uint64_t since = SinceStartUs(nowUs);
    Add("{\"t_ms\":%llu.%03llu,\"thread\":%lu,", static_cast<unsigned long long>(since / 1000),
        static_cast<unsigned long long>(since % 1000), static_cast<unsigned long>(platform::CurrentThreadId()));
}

void LineBuilder::AddJsonString(const char* text, int count) {
    static const char kDigits[] = "0123456789abcdef";
    Add("\"");
    for (int i = 0; text[i] != '\0' && (count < 0 || i < count); ++i) {
        // Room for the longest escape, the closing quote and the terminator.
        if (length + 8 > capacity) break;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            buffer[length++] = '\\';
            buffer[length++] = static_cast<char>(c);
        } else if (c < 0x20) {
            const char escape[] = {'\\', 'u', '0', '0', kDigits[c >> 4], kDigits[c & 0x0F]};
            std::memcpy(buffer + length, escape, sizeof escape);
            length += static_cast<int>(sizeof escape);
        } else {
            buffer[length++] = static_cast<char>(c);
        }
    }
    buffer[length] = '\0';
    Add("\"");
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
