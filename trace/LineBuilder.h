// A line of the trace log, formatted into a fixed buffer on the caller's
// stack: what does not fit is cut, nothing is allocated.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "trace/Trace.h"

namespace trax::trace {

class LineBuilder {
public:
    LineBuilder(char* storage, int size) : buffer(storage), capacity(size) { buffer[0] = '\0'; }

    void Add(const char* format, ...) TRAX_TRACE_PRINTF(2, 3);
    void AddV(const char* format, va_list args);
    // Bytes as two-digit uppercase hexadecimal separated by single spaces.
    void AddHex(const uint8_t* bytes, int32_t count);
    // "[   12.345 ms] thread 4711 " with the time since the log started.
    void AddPrefix(uint64_t nowUs);
    // The same for a JSON line: '{"t_ms":12.345,"thread":4711,'.
    void AddJsonPrefix(uint64_t nowUs);
    // A JSON string with its quotes; control characters and quotes escaped.
    void AddJsonString(const char* text, int count = -1);
    // Ends the line with '\n' (replacing the tail when full) and returns its length.
    int Finish();

    const char* Text() const { return buffer; }
    int Length() const { return length; }

private:
    char* buffer;
    int capacity;
    int length = 0;
};

// Writes one finished line to the log's output under the log's lock.
void Emit(const char* line, int length);
// The log writes lines (TRAX_LOG), and in JSON (TRAX_LOG_FORMAT=json).
bool LinesOn();
bool JsonLines();
// The reason tap (TRAX_LOG_TAP) is open; EmitTap writes one finished line to it.
bool TapOn();
void EmitTap(const char* line, int length);
// Microseconds since the log started.
uint64_t SinceStartUs(uint64_t nowUs);

}  // namespace trax::trace
