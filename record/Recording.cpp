// The exchange recording's file: its first line and one line per exchange.
#include "record/Recording.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver/UsbDriver.h"
#include "platform/Platform.h"
#include "trace/LineBuilder.h"
#include "trace/Trace.h"

#ifndef TRAX_LIBRARY_VERSION
#define TRAX_LIBRARY_VERSION "unknown"
#endif

namespace trax::record {

namespace detail {
std::atomic<bool> on{false};
}

namespace {

platform::ExclusiveLock& FileLock() {
    static platform::ExclusiveLock lock;
    return lock;
}

// Set at load (or by tests between calls); written by the thread that
// records an exchange, one at a time under the lock.
std::FILE* file TRAX_GUARDED_BY(FileLock()) = nullptr;
char path[1024] TRAX_GUARDED_BY(FileLock()) = {};
uint64_t exchanges TRAX_GUARDED_BY(FileLock()) = 0;
uint64_t startUs TRAX_GUARDED_BY(FileLock()) = 0;
// The reply pieces of the exchange in progress, and the line being built:
// kept between exchanges so that their storage is allocated once.
std::vector<uint8_t> kept TRAX_GUARDED_BY(FileLock());
std::string line TRAX_GUARDED_BY(FileLock());

void AppendHex(std::string& out, const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (count == 0) return;
    const size_t at = out.size();
    out.resize(at + count * 3 - 1);
    char* p = &out[at];
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) *p++ = ' ';
        *p++ = kDigits[bytes[i] >> 4];
        *p++ = kDigits[bytes[i] & 0x0F];
    }
}

void AppendJsonString(std::string& out, const char* text) {
    static const char kDigits[] = "0123456789abcdef";
    out += '"';
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Plain ASCII in the file whatever a driver or a path holds.
            out += "\\u00";
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void AppendFormat(std::string& out, const char* format, ...) TRAX_TRACE_PRINTF(2, 3);
void AppendFormat(std::string& out, const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) out.append(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

void AppendMs(std::string& out, const char* key, uint64_t us) {
    AppendFormat(out, ",\"%s\":%llu.%03llu", key, static_cast<unsigned long long>(us / 1000),
                 static_cast<unsigned long long>(us % 1000));
}

// Said once, where a person looking for the trace would look.
void Report(const char* text) {
    char buffer[1400];
    trax::trace::LineBuilder report(buffer, sizeof buffer);
    report.AddPrefix(platform::NowMicroseconds());
    report.Add("%s", text);
    const int length = report.Finish();
    if (trace::LinesOn()) {
        trace::Emit(report.Text(), length);
    } else {
        platform::WriteDebugOutput(report.Text(), length);
    }
}

// The recording ends at its first failed write: a line cut by a full disk
// must stay the file's last.
void FailWrite(int error) TRAX_REQUIRES(FileLock()) {
    detail::on.store(false);
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    char text[1300];
    std::snprintf(text, sizeof text, "recording to '%.1024s' stopped: the file cannot be written (%s)", path,
                  std::strerror(error));
    Report(text);
}

void WriteLine() TRAX_REQUIRES(FileLock()) {
    if (file == nullptr) return;
    line += '\n';
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size() || std::fflush(file) != 0) {
        FailWrite(errno != 0 ? errno : EIO);
    }
}

void CloseFile() TRAX_REQUIRES(FileLock()) {
    detail::on.store(false);
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    kept.clear();
}

void Open(const char* name) TRAX_REQUIRES(FileLock()) {
    CloseFile();
    std::snprintf(path, sizeof path, "%s", name);
    exchanges = 0;
    startUs = platform::NowMicroseconds();
    file = std::fopen(name, "wb");
    if (file == nullptr) {
        char text[1300];
        std::snprintf(text, sizeof text, "recording to '%.1024s' is off: the file cannot be opened (%s)", name,
                      std::strerror(errno));
        Report(text);
    }
}

void FirstLine(bool usable) TRAX_REQUIRES(FileLock()) {
    if (file == nullptr) return;
    line.clear();
    AppendFormat(line, "{\"format\":\"trax-recording\",\"version\":%d,\"library\":\"%s\"", kFormatVersion,
                 TRAX_LIBRARY_VERSION);
    AppendFormat(line, ",\"system\":\"%s\",\"architecture\":\"%s\",\"process\":%lu,\"usable\":%s",
                 platform::PlatformName(), platform::ArchitectureName(),
                 static_cast<unsigned long>(platform::CurrentProcessId()), usable ? "true" : "false");
    const char* standIn = driver::StandInDriverDescription();
    line += standIn != nullptr ? ",\"stand_in\":true,\"driver\":" : ",\"stand_in\":false,\"driver\":";
    AppendJsonString(line, standIn != nullptr ? standIn : "the maker's USB driver (not the stand-in)");
    char driverFile[1024];
    line += ",\"driver_file\":";
    AppendJsonString(line, driver::DriverFile(driverFile, sizeof driverFile) ? driverFile : "not known");
    line += '}';
    WriteLine();
    detail::on.store(file != nullptr);
}

}  // namespace

const char* EndingText(Ending ending) {
    switch (ending) {
    case Ending::Answered:
        return "answered";
    case Ending::NoReply:
        return "no reply";
    case Ending::DriverFailure:
        return "driver failure";
    case Ending::CutReply:
        return "cut reply";
    case Ending::NotSent:
        return "not sent";
    }
    return "unknown";
}

void StartFromEnvironment() {
    platform::ExclusiveGuard guard(FileLock());
    CloseFile();
    static char name[1024];
    if (!platform::EnvironmentValue("TRAX_RECORD", name, sizeof name) || name[0] == '\0') return;
    Open(name);
}

void WriteFirstLine(bool usable) {
    platform::ExclusiveGuard guard(FileLock());
    FirstLine(usable);
}

void StartForTesting(const char* name) {
    platform::ExclusiveGuard guard(FileLock());
    CloseFile();
    if (name == nullptr) return;
    Open(name);
    FirstLine(true);
}

void KeepTake(const uint8_t* bytes, int32_t length, bool lengthSwapped) {
    if (length <= 0) return;
    platform::ExclusiveGuard guard(FileLock());
    const size_t at = kept.size();
    kept.insert(kept.end(), bytes, bytes + length);
    if (lengthSwapped && length >= 2) std::swap(kept[at], kept[at + 1]);
}

void Write(const Exchange& exchange) {
    const uint64_t endUs = platform::NowMicroseconds();
    const trace::CurrentCallInfo call = trace::CurrentCall();
    platform::ExclusiveGuard guard(FileLock());
    if (file == nullptr) {
        kept.clear();
        return;
    }
    line.clear();
    AppendFormat(line, "{\"n\":%llu", static_cast<unsigned long long>(++exchanges));
    AppendMs(line, "t_ms", exchange.startUs >= startUs ? exchange.startUs - startUs : 0);
    AppendMs(line, "took_ms", endUs >= exchange.startUs ? endUs - exchange.startUs : 0);
    AppendFormat(line, ",\"thread\":%lu", static_cast<unsigned long>(platform::CurrentThreadId()));
    if (call.function != nullptr) {
        AppendFormat(line, ",\"call\":\"%s\",\"call_n\":%llu,\"args\":[", call.function,
                     static_cast<unsigned long long>(call.number));
        for (int i = 0; i < call.argumentCount; ++i) {
            const trace::ArgumentValue& v = call.arguments[i];
            if (i > 0) line += ',';
            if (v.kind == trace::ArgumentValue::Integer) {
                AppendFormat(line, "%lld", v.integer);
            } else {
                line += v.pointer != nullptr ? "\"*\"" : "null";
            }
        }
        line += ']';
    } else {
        line += ",\"call\":null,\"call_n\":0,\"args\":[]";
    }
    AppendFormat(line, ",\"end\":\"%s\",\"request\":\"", EndingText(exchange.ending));
    AppendHex(line, exchange.request, exchange.requestLength > 0 ? static_cast<size_t>(exchange.requestLength) : 0);
    line += "\",\"reply\":\"";
    // Earlier records, the last one, then what was left unread: in the order
    // they came over the wire.
    const uint8_t* last = exchange.lastTake;
    const int32_t lastLength = exchange.lastTakeLength;
    AppendHex(line, kept.data(), kept.size());
    if (last != nullptr && lastLength > 0) {
        if (!kept.empty()) line += ' ';
        const size_t at = line.size();
        AppendHex(line, last, static_cast<size_t>(lastLength));
        if (exchange.lastTakeLengthSwapped && lastLength >= 2) {
            // "LL HH" back to "HH LL": the first two hex pairs trade places.
            std::swap(line[at], line[at + 3]);
            std::swap(line[at + 1], line[at + 4]);
        }
    }
    if (exchange.leftover != nullptr && exchange.leftoverLength > 0) {
        if (line.back() != '"') line += ' ';
        AppendHex(line, exchange.leftover, static_cast<size_t>(exchange.leftoverLength));
    }
    line += "\"}";
    kept.clear();
    WriteLine();
}

}  // namespace trax::record
