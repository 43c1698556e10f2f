// The opt-in exchange recording: every request the library sends and how the
// controller answered it, whole, so that the run can be replayed later (the
// stand-in driver answers from such a file: TRAX_SIM_REPLAY).
//
// Off unless the environment asks for it when the library loads:
//   TRAX_RECORD=PATH   write the recording to this file, made anew at each load.
// Read like the trace log's variables (on Windows from the process's own
// environment). Nothing changes when it is unset.
//
// The file is JSON Lines, one object a line. The first line says what made it:
//   {"format":"trax-recording","version":1,"library":"2.2.0","system":"linux",
//    "architecture":"x86_64","process":4711,"usable":true,"stand_in":true,
//    "driver":"stand-in driver ...","driver_file":"/usr/lib/.../libQelUsbDrv.so"}
// then one line per exchange, written when it ends:
//   {"n":3,"t_ms":12.345,"took_ms":0.120,"thread":4711,"call":"TRAX_GetCalcData",
//    "call_n":2,"args":[0,"*"],"end":"answered","request":"00 06 07 14 00 00",
//    "reply":"00 18 00 15 00 ..."}
// n counts the exchanges of the process from 1; t_ms is the time of the send
// since the library loaded and took_ms the time to the exchange's end, in
// milliseconds; thread is the calling thread; call and call_n the outermost
// exported call and its number in the process; args its number arguments
// ("*" for a pointer given, null for a null pointer). request and reply are
// the bytes as they went over the wire, in hexadecimal: the whole reply,
// however long, and every reply record the exchange received one after the
// other. end is one of
//   "answered"        a reply ended the exchange (accepted, refused or not
//                     understood: the bytes tell);
//   "no reply"        the reply wait ran out (reply: what came before, if any);
//   "driver failure"  the driver returned 0;
//   "cut reply"       the driver returned more bytes than its buffer holds;
//   "not sent"        the channel had already ended, nothing reached the driver.
// Nothing else goes into the file: no file names, no values of the host's
// memory (pointers are "*" or null), only the controller's bytes and the calls.
//
// Each line is written and flushed as its exchange ends, so a crash loses at
// most the exchange in progress. A write that fails is reported once (on the
// trace log, or the system's debug output when the log is off) and ends the
// recording; it never fails or delays a call beyond the write.
//
// Cost when off: the transaction engine makes one relaxed load per exchange.
#pragma once

#include <atomic>
#include <cstdint>

namespace trax::record {

constexpr int kFormatVersion = 1;

namespace detail {
extern std::atomic<bool> on;
}

inline bool On() { return detail::on.load(std::memory_order_relaxed); }

enum class Ending { Answered, NoReply, DriverFailure, CutReply, NotSent };
const char* EndingText(Ending ending);

// Load time: opens TRAX_RECORD's file (a file that cannot be opened is
// reported like a failed write), and writes the first line once the driver
// has started.
void StartFromEnvironment();
void WriteFirstLine(bool usable);

// One exchange as the transaction engine saw it. Reply bytes come in up to
// three pieces: records taken earlier in the exchange (kept by the engine
// when a later one overwrote them), the last record taken (still in the
// reply record), and what was left unread when the exchange failed.
struct Exchange {
    const uint8_t* request;
    int32_t requestLength;
    uint64_t startUs;
    Ending ending;
    const uint8_t* lastTake;
    int32_t lastTakeLength;
    // The reply record turns the length field to host order in place; the
    // file shows it as it came.
    bool lastTakeLengthSwapped;
    const uint8_t* leftover;
    int32_t leftoverLength;
};

// Keeps a reply record that a later one of the same exchange will overwrite
// (the engine calls it only with the recording on).
void KeepTake(const uint8_t* bytes, int32_t length, bool lengthSwapped);
// Writes the exchange's line with the pieces kept so far, and forgets them.
void Write(const Exchange& exchange);

// Tests: record to `path` (null: stop), with a first line as at load.
void StartForTesting(const char* path);

}  // namespace trax::record
