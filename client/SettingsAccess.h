// Reading and writing settings through the library: every readable setting
// with one failure per row rather than one for all, and a write told apart
// from its read-back.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/Failure.h"
#include "client/SettingTable.h"

namespace trax::client {

// One setting of one head; head is ignored (0) for a controller setting.
struct SettingRef {
    const Setting* setting;
    int head;
    // "offset A", "sampling-cycle".
    std::string Name() const;
    bool operator==(const SettingRef& o) const { return setting == o.setting && head == o.head; }
};

// Every readable setting in table order, head settings for heads first..last
// (each 0 or 1) and the controller's settings once.
std::vector<SettingRef> ReadableSettings(int firstHead = 0, int lastHead = 1);

struct SettingValue {
    SettingRef ref;
    bool ok = false;
    std::vector<int> values;  // arity values when ok
    Failure failure;          // when not ok
};

// Told of each library call the settings code (this file's and settings
// files') makes on the calling thread, as it returns: the server's call log
// hangs on it. `failure` is null when the call returned 1.
using CallNote = std::function<void(const char* function, const Failure* failure)>;

// Installs a note for the calling thread while it lives.
class NoteCalls {
public:
    explicit NoteCalls(CallNote note);
    ~NoteCalls();
    NoteCalls(const NoteCalls&) = delete;
    NoteCalls& operator=(const NoteCalls&) = delete;

private:
    CallNote previous_;
};

// After a library call made by the settings code: the failure (read at once)
// when result is not 1, and the thread's note told either way.
std::optional<Failure> AfterCall(const char* function, int result);

// Called after each exchange with the number done and the number in all.
using Progress = std::function<void(size_t done, size_t total)>;

// Reads one setting.
SettingValue ReadSetting(const SettingRef& ref);
// Reads each in turn and goes on after a failed one, so that nothing read is
// thrown away. Stops early only when `stop` says so (Ctrl-C).
std::vector<SettingValue> ReadSettings(const std::vector<SettingRef>& refs, const Progress& progress = {},
                                       const std::function<bool()>& stop = {});

struct WriteOutcome {
    bool written = false;
    Failure writeFailure;  // when not written
    // The value read back after a successful write; readBack.ok false when the
    // read failed (the write still happened).
    SettingValue readBack;
};

// Writes the values (which must pass ValuesProblem) and, when written and the
// setting is readable and readBack is set, reads them back.
WriteOutcome WriteSetting(const SettingRef& ref, const std::vector<int>& values, bool readBack = true);

}  // namespace trax::client
