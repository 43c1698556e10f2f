// The controller's operations as typed calls over the C interface, and the
// one hook that every library call a face makes passes through.
//
// A face (traxctl, the server, a publisher) holds one Controller and never
// calls a TRAX_* function itself. Each call goes through Controller::TryCall:
// the call is made and timed, a result other than 1 becomes a Failure with
// the library's reason, and then every attached observer sees the call. What
// a face adds to its calls (traxctl's Ctrl-C check, the server's /api/log,
// counts for metrics, the face's own hint) is an observer, so no call can
// escape it.
//
// Threads: a Controller is used by one thread at a time (traxctl's main
// thread, the server's device thread). Observers are attached before the
// first call and run on the calling thread.
#pragma once

#include <trax.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/Failure.h"
#include "client/SettingsAccess.h"

namespace trax::client {

// The most values one head's storage holds, and so the most one read asks for.
constexpr int kMaxStored = 65536;
// The points of a light-intensity profile.
constexpr int kProfileLength = 1024;

// Whether a call was asked for (a command, a request) or is routine (the
// live poll, many times a second): a log may leave routine successes out.
enum class CallKind { Asked, Routine };

// One library call as the hook reports it to the observers.
struct CallRecord {
    const char* function = "";  // "TRAX_GetLight"
    std::string arguments;      // the inputs as text, "0, 1"; "" for none
    int result = 0;             // what the function returned; 1 is success
    std::chrono::steady_clock::duration duration{};
    CallKind kind = CallKind::Asked;
    // Another call through this controller was in flight when this one
    // started: a face that promises one caller at a time broke its promise.
    bool overlapped = false;
    // Set when result is not 1: the call with the library's reason, taken
    // before any observer ran. Observers may add to it (the hint); what they
    // leave is what the caller gets.
    Failure* failure = nullptr;

    bool ok() const { return failure == nullptr; }
};

// Sees each call after it returned. May throw to end the operation the call
// belonged to (traxctl's Ctrl-C); the observers after it then do not run.
using CallObserver = std::function<void(CallRecord&)>;

class Controller {
public:
    Controller() = default;
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Observers run in the order attached.
    void Observe(CallObserver observer);

    // The hook. Makes `call`, a call of `function` with `arguments` (text
    // for the observers), and tells the observers. Returns the failure when
    // the call returned other than 1.
    std::optional<Failure> TryCall(const char* function, std::string arguments, const std::function<int()>& call,
                                   CallKind kind = CallKind::Asked);
    // As TryCall, throwing CallError for a failure.
    void Call(const char* function, std::string arguments, const std::function<int()>& call,
              CallKind kind = CallKind::Asked);

    // --- measured values ------------------------------------------------
    struct BothHeads {
        FloatValue a{};
        FloatValue b{};
    };
    BothHeads ReadValues(CallKind kind = CallKind::Asked);
    // Without throwing, for a reader that goes on after a failed reading.
    std::optional<Failure> TryReadValues(BothHeads& values, CallKind kind = CallKind::Asked);
    FigureData ReadFigure(int head);
    void ClearFigure();
    struct LightProfile {
        LightData light{};
        int extra = 0;
        std::array<unsigned char, kProfileLength> profile{};
    };
    LightProfile ReadLight(int head, int selector);

    // Each head's display-unit code (a setting: switches to setting mode and back).
    int ReadDisplayUnitCode(int head);
    // The sampling-cycle code (a setting too).
    int ReadSamplingCycle();

    // --- data storage ---------------------------------------------------
    // The storage row's values; a value not given keeps what the controller
    // holds. Given values must lie within StorageSetting()'s ranges.
    struct StorageSetup {
        std::optional<int> target, count, cycle;
    };
    struct StorageConfig {
        int target = 0, count = 0, cycle = 0;
    };
    // Reads the set-up, writes it when any value is given, and empties the
    // storage; returns the set-up now in force.
    StorageConfig SetUpStorage(const StorageSetup& setup);
    void StartStorage();
    void StopStorage();
    struct StorageStatus {
        bool storing = false;
        int count = 0;
    };
    StorageStatus ReadStorageStatus(int head, CallKind kind = CallKind::Asked);
    // Up to maxCount (1..kMaxStored) stored values of one head, as many as
    // the controller holds; a count outside 0..maxCount from the library
    // reads as none.
    std::vector<FloatValue> ReadStorage(int head, int maxCount = kMaxStored);

    // --- settings -------------------------------------------------------
    // One setting; a failure is kept in the result rather than thrown, so
    // that a sweep goes on after a failed row.
    SettingValue ReadSetting(const SettingRef& ref);
    // Reads each in turn and goes on after a failed one. Stops early only
    // when `stop` says so (Ctrl-C).
    std::vector<SettingValue> ReadSettings(const std::vector<SettingRef>& refs, const Progress& progress = {},
                                           const std::function<bool()>& stop = {});
    // Writes the values (which must pass ValuesProblem) and, when written,
    // readable and readBack is set, reads them back.
    WriteOutcome WriteSetting(const SettingRef& ref, const std::vector<int>& values, bool readBack = true);

    // --- control --------------------------------------------------------
    // head: 0 A, 1 B, 2 both (where the library takes both).
    void SetZero(int head, bool on);
    void SetTiming(int head, bool on);
    void Reset(int head);
    void SelectPanel(int panel);
    int ReadPanel();
    void LockPanel(bool locked);
    void SelectProgram(int number);
    int ReadProgram();
    std::optional<Failure> TryReadProgram(int& number);
    void AbleStart(int head);
    void AbleStop();
    void AbleCancel();
    enum class Mode { Measure = 0, Setting = 1 };
    void SetMode(Mode mode);
    std::optional<Failure> TrySetMode(Mode mode);

private:
    std::vector<CallObserver> observers_;
    // Calls in flight; more than one is a caller's mistake, reported in the record.
    std::atomic<int> inFlight_{0};
};

// "0, 1": arguments as the hook reports them.
std::string ArgumentsText(std::initializer_list<long long> values);

}  // namespace trax::client
