// Why a library call returned 0, as the tools tell it: the call, the
// library's own reason from its trace, the controller's error number when it
// sent one, and what to try next.
//
// The reasons come from the library's reason tap: before the library is
// loaded, PrepareReasonTap() points TRAX_LOG_TAP at a file of this process,
// into which the library appends one JSON object per failed call. A user's
// own TRAX_LOG and TRAX_LOG_FILE are left as they are; the tap is a second,
// separate output.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>

namespace trax::client {

struct Failure {
    std::string function;            // "TRAX_GetCalcData"
    std::string reason;              // the library's reason, "" when not known
    std::optional<int> errorNumber;  // the controller's error number, when it sent one
    std::string hint;                // what to do about it, "" when nothing is known

    // "TRAX_GetCalcData failed: refused by the controller (error 5, command 20)"
    std::string Text() const;
};

// A library call returned 0.
class CallError : public std::runtime_error {
public:
    explicit CallError(Failure failure);
    const Failure& failure() const { return failure_; }

private:
    Failure failure_;
};

// Before the library is loaded (and before any thread is started): sets
// TRAX_LOG_TAP to a fresh file of this process, and TRAX_LOG_TAP_PROCESS to
// this process's id so that a child's library leaves it alone, unless the
// environment names a tap without an owner or owned by this process (a
// user's own tap, read from its end on). A tap that another process owns (a
// parent's) is not taken: this process makes its own. Returns false when no
// file could be made; reasons are then not known, and nothing else changes.
// The file never outlives the process (see system::CreateTapFile).
bool PrepareReasonTap();
// Removes the tap's file's name, if this process made it.
void CloseReasonTap();
// After the library has loaded (and opened the tap): removes the file's name
// where the system allows it while the file is open, so that nothing is left
// behind however the process ends.
void ReasonTapOpened();
// Set by the run-time loader when the library did not load: then every
// call's reason is this, and the hint says whether the library or its driver
// is missing.
void SetLibraryLoadProblem(const std::string& problem, bool driverMissing = false);

// What the library said about its start-up when it loaded (the tap's first
// object); known is false when the tap holds none.
struct StartupReport {
    bool known = false;
    std::string version;  // "2.2.0"
    long typeParam = 0;   // InitQelUsbTypeParam
    long usbType = 0;     // SetUsbType
    long initUsb = 0;
    long initPid = 0;
    bool usable = false;
    bool standIn = false;
    std::string driver;       // the driver's words for itself
    std::string driverCalls;  // "cdecl", "stdcall", "native", "unknown", "not known"
};
StartupReport ReadStartupReport();

// The tap's lines as one process reads them (the contract is in
// trace/Trace.h): fed what the file holds, in order, it keeps each failure
// line of this process until the thread that made the call asks for it, so
// that no thread takes another's reason.
class ReasonReader {
public:
    explicit ReasonReader(uint32_t process) : process_(process) {}
    // Adds bytes that followed the last ones fed; a line not yet ended is
    // kept until its end arrives. Lines that are not JSON objects are passed over.
    void Feed(const std::string& bytes);
    // The failure of `function` that `thread` just saw: the last line of that
    // thread naming it. Every line of that thread is used up by the question;
    // other threads' lines stay.
    Failure Take(const char* function, uint32_t thread);
    // The last start-up object of this process; known is false before one.
    const StartupReport& Startup() const { return startup_; }
    // Lines held for threads that have not asked (bounded).
    size_t Held() const { return held_.size(); }

private:
    struct Line {
        uint32_t thread;
        std::string function;
        std::string reason;
        std::optional<int> errorNumber;
    };
    void Add(const std::string& line);
    uint32_t process_;
    std::string partial_;
    std::deque<Line> held_;
    StartupReport startup_;
};

// After `function` returned 0 on this thread: its failure with the reason
// from the tap (no hint yet).
Failure FailureOf(const char* function);

// Adds the hint that fits the failure. May ask the controller a question
// (whether it is in setting mode) through the library; never changes its mode.
void AddHint(Failure& failure);

// Throws CallError for `function` unless result is 1.
void Check(int result, const char* function);

}  // namespace trax::client
