// The record of one exported call on its thread: arguments, reasons and the
// result, written as one line when the call ends.
#include <atomic>
#include <cstdarg>
#include <cstring>

#include "platform/Platform.h"
#include "trace/LineBuilder.h"

namespace trax::trace {

namespace {

constexpr int kMaxArguments = 8;
constexpr int kReasonCapacity = 1024;
constexpr int kMaxReasonEntries = 8;

// Where one reason stands in the reasons text, for the JSON form, which
// lists them one by one.
struct ReasonEntry {
    Reason reason;
    int16_t textStart;  // "refused by the controller (error 5, command 20)"
    int16_t textLength;
    int16_t detailStart;  // "error 5, command 20"; length 0 without a detail
    int16_t detailLength;
};

// Plain data, so that the thread-local copy needs no constructor; only the
// thread that makes the call touches it.
struct CallRecord {
    int depth;  // exported calls in progress on this thread, nested ones included
    const char* function;
    const char* names;
    int argumentCount;
    ArgumentValue arguments[kMaxArguments];
    uint64_t startUs;
    uint64_t number;
    int result;
    int reasonCount;
    int reasonLength;
    char reasons[kReasonCapacity];
    ReasonEntry entries[kMaxReasonEntries];
};

thread_local CallRecord record;
// Numbers the outermost calls of the process, in the order they began.
std::atomic<uint64_t> callsBegun{0};
// The command of the last request this thread sent, for the reasons that
// come from the reply's decoder.
thread_local uint8_t lastCommand;

// The record of the call being logged on this thread, or null. With the log
// off the thread-local record is never touched.
CallRecord* Current() {
    if (!On()) return nullptr;
    return record.depth > 0 ? &record : nullptr;
}

// The name of argument `index` from "head, onOff, value": start and length.
bool ArgumentName(const char* names, int index, const char** start, int* length) {
    const char* p = names;
    for (int i = 0; i < index; ++i) {
        p = std::strchr(p, ',');
        if (p == nullptr) return false;
        ++p;
    }
    while (*p == ' ') ++p;
    const char* end = p;
    while (*end != '\0' && *end != ',' && *end != ' ') ++end;
    *start = p;
    *length = static_cast<int>(end - p);
    return *length > 0;
}

void AddReasonText(CallRecord& r, Reason reason, const char* format, va_list args) {
    LineBuilder text(r.reasons + r.reasonLength, kReasonCapacity - r.reasonLength);
    text.Add("%s", r.reasonCount == 0 ? "" : "; then ");
    ReasonEntry entry{reason, static_cast<int16_t>(r.reasonLength + text.Length()), 0, 0, 0};
    text.Add("%s", ReasonText(reason));
    if (format != nullptr && format[0] != '\0') {
        text.Add(" (");
        entry.detailStart = static_cast<int16_t>(r.reasonLength + text.Length());
        text.AddV(format, args);
        entry.detailLength = static_cast<int16_t>(r.reasonLength + text.Length() - entry.detailStart);
        text.Add(")");
    }
    entry.textLength = static_cast<int16_t>(r.reasonLength + text.Length() - entry.textStart);
    if (r.reasonCount < kMaxReasonEntries) r.entries[r.reasonCount] = entry;
    r.reasonLength += text.Length();
    ++r.reasonCount;
}

// The number after `label` in a reason's detail ("error 5, command 20"), or -1.
long NumberAfter(const char* detail, int length, const char* label) {
    const int labelLength = static_cast<int>(std::strlen(label));
    for (int i = 0; i + labelLength < length; ++i) {
        if (std::strncmp(detail + i, label, static_cast<size_t>(labelLength)) != 0) continue;
        if (i > 0 && detail[i - 1] != ' ') continue;
        long value = 0;
        int j = i + labelLength;
        if (j >= length || detail[j] < '0' || detail[j] > '9') continue;
        for (; j < length && detail[j] >= '0' && detail[j] <= '9' && value < 100000; ++j) {
            value = value * 10 + (detail[j] - '0');
        }
        return value;
    }
    return -1;
}

void AddArgumentValue(LineBuilder& line, const ArgumentValue& v, bool json) {
    if (v.kind == ArgumentValue::Integer) {
        line.Add("%lld", v.integer);
    } else if (v.pointer == nullptr) {
        line.Add(json ? "null" : "NULL");
    } else {
        // The same spelling on every C library ("%p" is not).
        line.Add(json ? "\"0x%llx\"" : "0x%llx",
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(v.pointer)));
    }
}

// The call as one JSON object: what the tap holds, and the log's line in JSON.
int CallJson(LineBuilder& line, const CallRecord& r, uint64_t endUs, uint64_t tookUs) {
    line.AddJsonPrefix(endUs);
    // The process too: a user's own tap may be shared by several.
    line.Add("\"process\":%lu,\"call\":\"%s\",\"args\":{", static_cast<unsigned long>(platform::CurrentProcessId()),
             r.function);
    for (int i = 0; i < r.argumentCount; ++i) {
        const char* name = "?";
        int nameLength = 1;
        ArgumentName(r.names, i, &name, &nameLength);
        line.Add("%s", i == 0 ? "" : ",");
        line.AddJsonString(name, nameLength);
        line.Add(":");
        AddArgumentValue(line, r.arguments[i], true);
    }
    const uint64_t calledUs = SinceStartUs(r.startUs);
    line.Add("},\"result\":%d,\"called_ms\":%llu.%03llu,\"took_ms\":%llu.%03llu", r.result,
             static_cast<unsigned long long>(calledUs / 1000), static_cast<unsigned long long>(calledUs % 1000),
             static_cast<unsigned long long>(tookUs / 1000), static_cast<unsigned long long>(tookUs % 1000));
    if (r.result == 0 || r.reasonCount > 0) {
        line.Add(",\"reason\":");
        line.AddJsonString(r.reasonCount > 0 ? r.reasons : "reason not recorded");
    }
    line.Add(",\"reasons\":[");
    const int shown = r.reasonCount < kMaxReasonEntries ? r.reasonCount : kMaxReasonEntries;
    for (int i = 0; i < shown; ++i) {
        const ReasonEntry& e = r.entries[i];
        line.Add("%s{\"reason\":", i == 0 ? "" : ",");
        line.AddJsonString(ReasonText(e.reason));
        line.Add(",\"text\":");
        line.AddJsonString(r.reasons + e.textStart, e.textLength);
        if (e.detailLength > 0) {
            const char* detail = r.reasons + e.detailStart;
            line.Add(",\"detail\":");
            line.AddJsonString(detail, e.detailLength);
            // The controller's own error number, where it sent one.
            const long error = e.reason == Reason::Refused ? NumberAfter(detail, e.detailLength, "error ") : -1;
            if (error >= 0) line.Add(",\"error\":%ld", error);
            const long command = NumberAfter(detail, e.detailLength, "command ");
            if (command >= 0) line.Add(",\"command\":%ld", command);
        }
        line.Add("}");
    }
    line.Add("]}");
    return line.Finish();
}

void AddReason(CallRecord& r, Reason reason, const char* format, ...) TRAX_TRACE_PRINTF(3, 4);
void AddReason(CallRecord& r, Reason reason, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AddReasonText(r, reason, format, args);
    va_end(args);
}

}  // namespace

const char* ReasonText(Reason reason) {
    switch (reason) {
    case Reason::ArgumentOutOfRange:
        return "argument out of range";
    case Reason::LibraryUnusable:
        return "library unusable: the USB driver did not start";
    case Reason::ChannelNotCreated:
        return "channel could not be created";
    case Reason::ExchangeFailed:
        return "exchange failed";
    case Reason::NoReply:
        return "no reply within the reply limit";
    case Reason::BusyTooLong:
        return "busy past the busy limit";
    case Reason::MalformedReply:
        return "malformed reply";
    case Reason::ReplyTooShort:
        return "reply too short for its fields";
    case Reason::Refused:
        return "refused by the controller";
    case Reason::ModeSwitchFailed:
        return "switch of the operating mode failed";
    }
    return "unknown reason";
}

void CallScope::Begin(const char* function, const char* names, const ArgumentValue* values, int count) {
    CallRecord& r = record;
    if (r.depth++ > 0) {
        // Called from inside another exported call: its reasons belong to
        // the outer call's line.
        active = true;
        return;
    }
    r.function = function;
    r.number = callsBegun.fetch_add(1, std::memory_order_relaxed) + 1;
    r.names = names;
    r.argumentCount = count < kMaxArguments ? count : kMaxArguments;
    for (int i = 0; i < r.argumentCount; ++i) r.arguments[i] = values[i];
    r.result = 0;
    r.reasonCount = 0;
    r.reasonLength = 0;
    r.reasons[0] = '\0';
    lastCommand = 0;
    r.startUs = platform::NowMicroseconds();
    active = true;
}

void CallScope::End() {
    CallRecord& r = record;
    if (--r.depth > 0) return;
    const uint64_t endUs = platform::NowMicroseconds();
    const uint64_t tookUs = endUs >= r.startUs ? endUs - r.startUs : 0;
    char buffer[2048];
    // The tap wants failures only; the log every call. One JSON object
    // serves the tap and a log in JSON alike.
    const bool tap = TapOn() && r.result == 0;
    const bool lines = LinesOn();
    const bool json = JsonLines();
    if (tap || (lines && json)) {
        LineBuilder line(buffer, sizeof buffer);
        const int length = CallJson(line, r, endUs, tookUs);
        if (tap) EmitTap(line.Text(), length);
        if (lines && json) Emit(line.Text(), length);
    }
    if (!lines || json) return;
    LineBuilder line(buffer, sizeof buffer);
    // Stamped with its end, so that it follows its own request and reply
    // lines in time order; the start is said in the line.
    line.AddPrefix(endUs);
    line.Add("%s(", r.function);
    for (int i = 0; i < r.argumentCount; ++i) {
        const char* name = "?";
        int nameLength = 1;
        ArgumentName(r.names, i, &name, &nameLength);
        line.Add("%s%.*s=", i == 0 ? "" : ", ", nameLength, name);
        AddArgumentValue(line, r.arguments[i], false);
    }
    const uint64_t calledUs = SinceStartUs(r.startUs);
    line.Add(") = %d in %llu.%03llu ms, called at %llu.%03llu ms", r.result,
             static_cast<unsigned long long>(tookUs / 1000), static_cast<unsigned long long>(tookUs % 1000),
             static_cast<unsigned long long>(calledUs / 1000), static_cast<unsigned long long>(calledUs % 1000));
    if (r.result == 0) {
        line.Add(": %s", r.reasonCount > 0 ? r.reasons : "reason not recorded");
    } else if (r.reasonCount > 0) {
        line.Add(" after: %s", r.reasons);
    }
    const int length = line.Finish();
    Emit(line.Text(), length);
}

void Note(Reason reason, const char* detailFormat, ...) {
    CallRecord* r = Current();
    if (r == nullptr) return;
    va_list args;
    va_start(args, detailFormat);
    AddReasonText(*r, reason, detailFormat, args);
    va_end(args);
}

void NoteArgument(int value, int low, int high) {
    CallRecord* r = Current();
    if (r == nullptr) return;
    // The checks run in the order of the parameters and stop at the first
    // failure, so the first parameter with this value outside the range is
    // the one that failed.
    for (int i = 0; i < r->argumentCount; ++i) {
        const ArgumentValue& v = r->arguments[i];
        if (v.kind != ArgumentValue::Integer || v.integer != value) continue;
        if (value >= low && value <= high) continue;
        const char* name = "?";
        int nameLength = 1;
        ArgumentName(r->names, i, &name, &nameLength);
        AddReason(*r, Reason::ArgumentOutOfRange, "%.*s=%d, allowed %d..%d", nameLength, name, value, low, high);
        return;
    }
    AddReason(*r, Reason::ArgumentOutOfRange, "%d, allowed %d..%d", value, low, high);
}

void NoteArgumentOrder(int lowIndex, int highIndex) {
    CallRecord* r = Current();
    if (r == nullptr) return;
    const char* low = "?";
    const char* high = "?";
    int lowLength = 1;
    int highLength = 1;
    ArgumentName(r->names, lowIndex, &low, &lowLength);
    ArgumentName(r->names, highIndex, &high, &highLength);
    AddReason(*r, Reason::ArgumentOutOfRange, "%.*s must not be above %.*s", lowLength, low, highLength, high);
}

void NoteMalformedReply(int lengthField, const uint8_t* bytes, int32_t count) {
    CallRecord* r = Current();
    if (r == nullptr) return;
    constexpr int32_t kShown = 16;
    uint8_t shown[kShown];
    const int32_t n = count < kShown ? count : kShown;
    for (int32_t i = 0; i < n; ++i) shown[i] = bytes[i];
    // The engine turns the length field to host order in place; show it as it came.
    if (lengthField >= 0 && n >= 2) {
        shown[0] = static_cast<uint8_t>(lengthField >> 8);
        shown[1] = static_cast<uint8_t>(lengthField & 0xFF);
    }
    char hex[kShown * 3 + 8];
    LineBuilder text(hex, sizeof hex);
    text.AddHex(shown, n);
    if (count > n) text.Add(" ...");
    if (lengthField >= 0) {
        AddReason(*r, Reason::MalformedReply, "length field %d, %d bytes arrived: %s", lengthField, count, text.Text());
    } else {
        AddReason(*r, Reason::MalformedReply, "%d bytes arrived, too few for a reply header: %s", count, text.Text());
    }
}

void NoteResult(int result) {
    if (CallRecord* r = Current()) r->result = result;
}

CurrentCallInfo CurrentCall() {
    const CallRecord* r = Current();
    if (r == nullptr) return CurrentCallInfo{nullptr, 0, nullptr, 0};
    return CurrentCallInfo{r->function, r->argumentCount, r->arguments, r->number};
}

// Evaluated as an argument of Note even with the log off, so it must not
// touch the thread-local state then.
uint8_t LastCommand() { return On() ? lastCommand : 0; }

void RequestSent(const uint8_t* packet, int32_t length) {
    if (Current() != nullptr && length >= 4) lastCommand = packet[3];
    if (BytesOn()) LogRequest(packet, length);
}

}  // namespace trax::trace
