// Settings as the faces name them and as a read or write of one comes back
// (the calls themselves are Controller's): one failure per row rather than
// one for all, and a write told apart from its read-back.
#pragma once

#include <cstddef>
#include <functional>
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

// Called after each exchange with the number done and the number in all.
using Progress = std::function<void(size_t done, size_t total)>;

struct WriteOutcome {
    bool written = false;
    Failure writeFailure;  // when not written
    // The value read back after a successful write; readBack.ok false when the
    // read failed (the write still happened).
    SettingValue readBack;
};

}  // namespace trax::client
