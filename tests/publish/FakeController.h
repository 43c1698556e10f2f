// A controller for the publisher's tests and fuzzer: answers at once, keeps
// the calls it was asked to make, and fails the ones it is told to.
#pragma once

#include <string>
#include <vector>

#include "publish/ControllerPort.h"

namespace trax::publish {

class FakeController : public ControllerPort {
public:
    std::vector<std::string> calls;  // "Zero 2 1", "WriteSetting offset 0 100"
    bool fail = false;

    CallResult Result(const std::string& call, const char* function) {
        calls.push_back(call);
        if (!fail) return std::nullopt;
        return client::Failure{function, "refused by the controller (error 5, command 20)", 5, ""};
    }
    CallResult ReadValues(HeadReading& a, HeadReading& b) override {
        a = {0, 1.25f};
        b = {0, -2.5f};
        return Result("ReadValues", "TRAX_GetCalcData");
    }
    CallResult ProgramNumber(int& program) override {
        program = 3;
        return Result("ProgramNumber", "TRAX_GetProgramNo");
    }
    CallResult StorageStatus(bool& storing, int& countA, int& countB) override {
        storing = false;
        countA = countB = 0;
        return Result("StorageStatus", "TRAX_DataStorageGetStatus");
    }
    CallResult StorageData(int head, std::vector<HeadReading>& values) override {
        values.assign(3, HeadReading{0, 1.0f});
        return Result("StorageData " + std::to_string(head), "TRAX_DataStorageGetData");
    }
    CallResult StorageStart() override { return Result("StorageStart", "TRAX_DataStorageStart"); }
    CallResult StorageStop() override { return Result("StorageStop", "TRAX_DataStorageStop"); }
    CallResult Zero(int head, int on) override {
        return Result("Zero " + std::to_string(head) + " " + std::to_string(on), "TRAX_SetZero");
    }
    CallResult Timing(int head, int on) override {
        return Result("Timing " + std::to_string(head) + " " + std::to_string(on), "TRAX_SetTiming");
    }
    CallResult Reset(int head) override { return Result("Reset " + std::to_string(head), "TRAX_SetReset"); }
    CallResult WriteSetting(const client::SettingRef& ref, const std::vector<int>& values,
                            std::optional<std::vector<int>>* readBack) override {
        std::string call = std::string("WriteSetting ") + ref.setting->name + " " + std::to_string(ref.head);
        for (int v : values) call += " " + std::to_string(v);
        if (readBack != nullptr && !fail) *readBack = values;
        return Result(call, ref.setting->setterName);
    }
    client::LoadReport LoadSettings(const client::SettingsDocument& doc) override {
        calls.push_back("LoadSettings " + std::to_string(doc.entries.size()));
        client::LoadReport report;
        for (const auto& e : doc.entries) report.written.push_back(e.ref);
        report.enteredSettingMode = report.backInMeasurement = true;
        return report;
    }
    client::SettingsDocument ReadSettings(std::vector<client::SettingValue>*) override {
        calls.push_back("ReadSettings");
        return {};
    }
};

}  // namespace trax::publish
