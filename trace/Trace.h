// The opt-in trace log: why a call returned 0, and what went over the wire.
//
// Off unless the environment asks for it when the library loads:
//   TRAX_LOG=calls   one line per exported call: time since load, thread,
//                    function and arguments, result, duration and, for a 0,
//                    the reasons in the order they happened;
//   TRAX_LOG=bytes   as calls, plus every request and reply in hex;
//   TRAX_LOG_FILE    append the lines to this file instead of the system's
//                    debug output (standard error, or OutputDebugStringA);
//                    the value "stderr" means standard error on every system;
//   TRAX_LOG_FORMAT  "json": each line is one JSON object instead of text;
//   TRAX_LOG_TAP     a file that gets one JSON object for the start-up and one
//                    per call that returned 0, whatever TRAX_LOG says: how a
//                    tool learns the reason of a failure without taking over
//                    the user's own log.
//   TRAX_LOG_TAP_PROCESS  when set, the tap is opened only by the library of
//                    the process with this id: a child that inherits both
//                    variables leaves its parent's tap alone.
//
// The tap's lines are a contract (traxctl, the server, Python and .NET read
// them; tests/data/reason-tap.jsonl holds examples that all of them parse):
// - UTF-8, one JSON object per line, each ending in '\n'. A line is written
//   whole under one lock, so lines of threads never mix; a reader takes only
//   lines that end in '\n' and leaves a part line for its next look.
// - At load, the start-up object: "trax" (version), "log", "platform",
//   "architecture", "process" (id), "startup" {"InitQelUsbTypeParam",
//   "SetUsbType", "InitUsb", "InitPid"}, "usable", "stand_in", "driver",
//   "driver_calls".
// - Then one object per exported call that returned 0, when it ends: "t_ms",
//   "thread" (the system's id of the calling thread: gettid on Linux,
//   GetCurrentThreadId on Windows), "process", "call" ("TRAX_SetMode"),
//   "args" {name: value}, "result" (0), "called_ms", "took_ms", "reason" (all
//   reasons as one text) and "reasons" [{"reason", "text", and where known
//   "detail", "error" (the controller's error number), "command"}].
// - A reader takes the lines of its own process and thread only, and of
//   those the last one naming the call it asks about; other threads' lines
//   stay for them. Keys a reader does not know are ignored; keys may be added.
//
// A call's line is written when the call ends, after its request and reply
// lines, and is stamped like every line with the time it is written; it
// carries the time the call began and its duration. So the stamps of one
// thread's lines never go backwards.
//
// Cost when off: each exported call makes one relaxed load of the level; the
// byte hooks of a transaction make one more each. Nothing is formatted,
// allocated or locked. When on, lines are formatted on the stack and written
// under one lock, so lines of threads that log at once never mix; a write
// error is dropped and never fails or delays the call beyond the write.
//
// Who touches what: the level and the output are set at load (ProcessAttach)
// before any call, or by tests between calls. A call's record is per thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <tuple>

namespace trax::driver {
struct StartupResults;
}

namespace trax::trace {

enum Level : int { LevelOff = 0, LevelCalls = 1, LevelBytes = 2 };

namespace detail {
extern std::atomic<int> level;
}

// On: calls are being recorded (for the log, the tap or both).
inline bool On() { return detail::level.load(std::memory_order_relaxed) != LevelOff; }
inline bool BytesOn() { return detail::level.load(std::memory_order_relaxed) == LevelBytes; }

// Load time: reads TRAX_LOG and TRAX_LOG_FILE (the log stays off on a bad
// value, which the first line then reports), and writes the first line with
// the version, platform, driver start-up results and which driver is in use.
void StartFromEnvironment();
void WriteFirstLine(const driver::StartupResults& results, bool usable);

// Where the first line reports how the driver's functions are called; null
// until a build knows it (then the field says "not known").
using CallingConventionProbe = const char* (*)();
void SetDriverCallingConventionProbe(CallingConventionProbe probe);

// The output lock, taken and let go around fork() so that the child never
// inherits it held by a thread that does not exist there.
void LockOutputForFork();
void UnlockOutputAfterFork();

// Tests: turn the log on or off with lines going to `sink` (null: the
// system's debug output).
using Sink = void (*)(const char* line, int length);
void StartForTesting(Level level, Sink sink);
void StopForTesting();
// Tests: the log's lines as JSON objects (true) or text.
void SetJsonForTesting(bool json);

// The closed list of reasons for a 0, each with its own detail text.
enum class Reason {
    ArgumentOutOfRange,
    LibraryUnusable,
    ChannelNotCreated,
    ExchangeFailed,
    NoReply,
    BusyTooLong,
    MalformedReply,
    ReplyTooShort,
    Refused,
    ModeSwitchFailed,
};
const char* ReasonText(Reason reason);

#if defined(__GNUC__)
#define TRAX_TRACE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define TRAX_TRACE_PRINTF(f, a)
#endif

// Adds a reason to the current call's line; nothing outside a logged call.
void Note(Reason reason, const char* detailFormat, ...) TRAX_TRACE_PRINTF(2, 3);
// An argument check failed: names the first argument of the call that has
// this value outside [low, high].
void NoteArgument(int value, int low, int high);
// Two arguments (by position in the call) are in the wrong order.
void NoteArgumentOrder(int lowIndex, int highIndex);
// A reply that cannot be a reply: its length field (-1: too short to have
// one) and the bytes that arrived, as they came over the wire (the first 16).
void NoteMalformedReply(int lengthField, const uint8_t* bytes, int32_t count);
// The result of the outermost session of the call (see CallFrame.h): what the
// exported function returns when it got that far, and 0 otherwise.
void NoteResult(int result);
// The command code of the request last sent by this thread (0: none yet).
uint8_t LastCommand();

// Requests and replies, as they pass the transaction engine: the request's
// command is kept for the reasons, and with TRAX_LOG=bytes both get a line.
void RequestSent(const uint8_t* packet, int32_t length);
void LogRequest(const uint8_t* packet, int32_t length);
void LogReply(const uint8_t* bytes, int32_t length);
inline void OnRequest(const uint8_t* packet, int32_t length) {
    if (On()) RequestSent(packet, length);
}
inline void OnReply(const uint8_t* bytes, int32_t length) {
    if (BytesOn()) LogReply(bytes, length);
}

// Keeps the calls recorded as the tap does, whatever TRAX_LOG says: the
// exchange recording names each exchange's call. Called at load only.
void KeepCallsRecorded();

struct ArgumentValue;
// The outermost exported call in progress on this thread: its function (null
// outside a recorded call), arguments and number, counted from 1 per process.
struct CurrentCallInfo {
    const char* function;
    int argumentCount;
    const ArgumentValue* arguments;
    uint64_t number;
};
CurrentCallInfo CurrentCall();

// One argument's value as the line shows it.
struct ArgumentValue {
    enum Kind : uint8_t { Integer, Pointer } kind;
    long long integer;
    const void* pointer;

    static ArgumentValue Of(int value) { return {Integer, value, nullptr}; }
    static ArgumentValue Of(long value) { return {Integer, value, nullptr}; }
    static ArgumentValue Of(unsigned value) { return {Integer, static_cast<long long>(value), nullptr}; }
    template <typename T>
    static ArgumentValue Of(T* pointer) {
        return {Pointer, 0, static_cast<const void*>(pointer)};
    }
};

// Made at the top of every exported function (TRAX_TRACE_CALL): when the log
// is on it starts the call's record, and its end writes the call's line. A
// call made from inside another exported call adds to the outer one's line.
class CallScope {
public:
    template <typename... Args>
    CallScope(const char* function, const char* names, const std::tuple<Args&...>& args) {
        if (!On()) return;
        std::apply(
            [&](const auto&... each) {
                const ArgumentValue values[] = {ArgumentValue::Of(each)..., ArgumentValue::Of(0)};
                Begin(function, names, values, static_cast<int>(sizeof...(Args)));
            },
            args);
    }
    ~CallScope() {
        if (active) End();
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    void Begin(const char* function, const char* names, const ArgumentValue* values, int count);
    void End();
    bool active = false;
};

}  // namespace trax::trace

// First statement of every exported function, with its parameters in order.
#define TRAX_TRACE_CALL(...) \
    ::trax::trace::CallScope traxTraceCall(__func__, #__VA_ARGS__, std::forward_as_tuple(__VA_ARGS__))
