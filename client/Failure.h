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

#include <optional>
#include <stdexcept>
#include <string>

namespace trax::client {

struct Failure {
    std::string function;            // "TRAX_GetCalcData"
    std::string reason;              // the library's reason, "" when not known
    std::optional<int> errorNumber;  // the controller's error number, when it sent one
    std::string hint;                // what to do about it, in the face's words; "" when nothing is known

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
// TRAX_LOG_TAP to a fresh file of this process unless the environment
// already names one. Returns false when no file could be made; reasons are
// then not known, and nothing else changes.
bool PrepareReasonTap();
// Removes the tap's file, if this process made it.
void CloseReasonTap();
// After the library has loaded (and opened the tap): removes the file's name
// where the system allows it while the file is open, so that nothing is left
// behind however the process ends.
void ReasonTapOpened();
// Set by the run-time loader when the library did not load: then every
// call's reason is this.
void SetLibraryLoadProblem(const std::string& problem);

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

// After `function` returned 0 on this thread: its failure with the reason
// from the tap (no hint yet).
Failure FailureOf(const char* function);

}  // namespace trax::client
