// What the publisher asks of the controller, as one interface: the library
// behind it in a program, a fake in tests and in the fuzzer. Every call the
// publisher makes to the library is one of these; the library version lives
// in LibraryController.cpp alone.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/Failure.h"
#include "client/SettingsFile.h"

namespace trax::publish {

// One head's reading: a TRAX_VALUE_* status and the value in the head's display unit.
struct HeadReading {
    int status = 3;
    float value = 0;
};

// A call that returned 0, with its reason; nullopt when it worked.
using CallResult = std::optional<client::Failure>;

class ControllerPort {
public:
    virtual ~ControllerPort() = default;
    virtual CallResult ReadValues(HeadReading& a, HeadReading& b) = 0;
    virtual CallResult ProgramNumber(int& program) = 0;
    virtual CallResult StorageStatus(bool& storing, int& countA, int& countB) = 0;
    virtual CallResult StorageData(int head, std::vector<HeadReading>& values) = 0;
    virtual CallResult StorageStart() = 0;
    virtual CallResult StorageStop() = 0;
    // zero and timing take on 0/1; reset ignores it. head 0, 1 or 2 (both).
    virtual CallResult Zero(int head, int on) = 0;
    virtual CallResult Timing(int head, int on) = 0;
    virtual CallResult Reset(int head) = 0;
    // Writes a checked setting and reads it back into *readBack when it can.
    virtual CallResult WriteSetting(const client::SettingRef& ref, const std::vector<int>& values,
                                    std::optional<std::vector<int>>* readBack) = 0;
    virtual client::LoadReport LoadSettings(const client::SettingsDocument& doc) = 0;
    // Every setting of a settings file; failures per row.
    virtual client::SettingsDocument ReadSettings(std::vector<client::SettingValue>* failures) = 0;
};

}  // namespace trax::publish
