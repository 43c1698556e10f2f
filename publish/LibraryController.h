// The controller through the client layer's Controller: the one place where
// the publisher reaches the library. Every call passes the Controller's
// hook, where the observer (the metrics) sees it with its duration and, for
// a 0, its Failure with the library's reason.
#pragma once

#include "client/Controller.h"
#include "publish/ControllerPort.h"

namespace trax::publish {

class LibraryController : public ControllerPort {
public:
    explicit LibraryController(client::CallObserver observer);

    CallResult ReadValues(HeadReading& a, HeadReading& b) override;
    CallResult ProgramNumber(int& program) override;
    CallResult StorageStatus(bool& storing, int& countA, int& countB) override;
    CallResult StorageData(int head, std::vector<HeadReading>& values) override;
    CallResult StorageStart() override;
    CallResult StorageStop() override;
    CallResult Zero(int head, int on) override;
    CallResult Timing(int head, int on) override;
    CallResult Reset(int head) override;
    CallResult WriteSetting(const client::SettingRef& ref, const std::vector<int>& values,
                            std::optional<std::vector<int>>* readBack) override;
    client::LoadReport LoadSettings(const client::SettingsDocument& doc) override;
    client::SettingsDocument ReadSettings(std::vector<client::SettingValue>* failures) override;

private:
    client::Controller controller_;
};

}  // namespace trax::publish
