// The controller's typed calls and their one hook, against the simulated
// controller: every call reaches the observers once, with its name, its
// arguments and, when it failed, the library's reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "client/Controller.h"
#include "client/Diagnosis.h"
#include "client/LibraryLoader.h"
#include "client/SettingTable.h"

namespace {

using trax::client::CallError;
using trax::client::CallKind;
using trax::client::CallRecord;
using trax::client::Controller;

struct Seen {
    std::string function;
    std::string arguments;
    int result;
    bool failed;
    std::string reason;
    CallKind kind;
    bool overlapped;
};

// A controller whose every call is written down.
struct Watched {
    Controller controller;
    std::vector<Seen> calls;
    Watched() {
        controller.Observe([this](CallRecord& r) {
            calls.push_back(
                {r.function, r.arguments, r.result, !r.ok(), r.failure ? r.failure->reason : "", r.kind, r.overlapped});
        });
    }
    std::vector<std::string> Functions() const {
        std::vector<std::string> names;
        for (const Seen& s : calls) names.push_back(s.function);
        return names;
    }
};

const trax::client::Setting& Named(const char* name) {
    const trax::client::Setting* s = trax::client::FindSetting(name);
    EXPECT_NE(s, nullptr) << name;
    return *s;
}

TEST(Controller, EveryTypedCallPassesTheHookOnceWithItsArguments) {
    struct Row {
        const char* what;
        std::function<void(Controller&)> call;
        const char* function;
        const char* arguments;
    };
    const std::vector<Row> rows = {
        {"values", [](Controller& c) { c.ReadValues(); }, "TRAX_GetCalcData", ""},
        {"figure B", [](Controller& c) { c.ReadFigure(1); }, "TRAX_GetFigureData", "1"},
        {"clear figure", [](Controller& c) { c.ClearFigure(); }, "TRAX_ClearFigureData", ""},
        {"light", [](Controller& c) { c.ReadLight(0, 2); }, "TRAX_GetLight", "0, 2"},
        {"storage status", [](Controller& c) { c.ReadStorageStatus(1); }, "TRAX_DataStorageGetStatus", "1"},
        {"storage read", [](Controller& c) { c.ReadStorage(0, 10); }, "TRAX_DataStorageGetData", "0, 10"},
        {"storage start", [](Controller& c) { c.StartStorage(); }, "TRAX_DataStorageStart", ""},
        {"zero", [](Controller& c) { c.SetZero(2, false); }, "TRAX_SetZero", "2, 0"},
        {"timing", [](Controller& c) { c.SetTiming(0, true); }, "TRAX_SetTiming", "0, 1"},
        {"reset", [](Controller& c) { c.Reset(1); }, "TRAX_SetReset", "1"},
        {"panel", [](Controller& c) { c.SelectPanel(2); }, "TRAX_SetPanel", "2"},
        {"read panel", [](Controller& c) { c.ReadPanel(); }, "TRAX_GetPanel", ""},
        {"lock", [](Controller& c) { c.LockPanel(true); }, "TRAX_SetPanelLock", "1"},
        {"program", [](Controller& c) { c.SelectProgram(3); }, "TRAX_SetProgramNo", "3"},
        {"read program", [](Controller& c) { c.ReadProgram(); }, "TRAX_GetProgramNo", ""},
        {"mode", [](Controller& c) { c.SetMode(Controller::Mode::Measure); }, "TRAX_SetMode", "0"},
        {"sampling cycle", [](Controller& c) { c.ReadSamplingCycle(); }, "TRAX_GetSamplingCycle", ""},
    };
    for (const Row& row : rows) {
        Watched w;
        row.call(w.controller);
        ASSERT_EQ(w.calls.size(), 1u) << row.what;
        EXPECT_EQ(w.calls[0].function, row.function) << row.what;
        EXPECT_EQ(w.calls[0].arguments, row.arguments) << row.what;
        EXPECT_EQ(w.calls[0].result, 1) << row.what;
        EXPECT_FALSE(w.calls[0].failed) << row.what;
        EXPECT_FALSE(w.calls[0].overlapped) << row.what;
    }
}

TEST(Controller, AFailedCallReachesTheObserversWithItsReasonAndTheCallerWithTheirHint) {
    Watched w;
    w.controller.Observe([](CallRecord& r) {
        if (r.failure) r.failure->hint = "name head A or B";
    });
    try {
        // Out of range: refused by the library before anything is sent.
        w.controller.ReadFigure(5);
        FAIL() << "no CallError";
    } catch (const CallError& e) {
        EXPECT_EQ(e.failure().function, "TRAX_GetFigureData");
        EXPECT_FALSE(e.failure().reason.empty());
        EXPECT_EQ(e.failure().hint, "name head A or B");
    }
    ASSERT_EQ(w.calls.size(), 1u);
    EXPECT_TRUE(w.calls[0].failed);
    EXPECT_EQ(w.calls[0].result, 0);
    EXPECT_EQ(w.calls[0].arguments, "5");
    EXPECT_FALSE(w.calls[0].reason.empty());
}

TEST(Controller, AnObserverThatThrowsEndsTheOperationAfterTheCallInFlight) {
    Watched w;
    struct Stop {};
    w.controller.Observe([](CallRecord&) { throw Stop{}; });
    EXPECT_THROW(w.controller.SetUpStorage({std::nullopt, 100, std::nullopt}), Stop);
    EXPECT_EQ(w.Functions(), std::vector<std::string>{"TRAX_GetDataStorage"});
}

TEST(Controller, StorageSetUpWritesOnlyWhenAValueIsGivenAndKeepsTheOthers) {
    Watched w;
    const Controller::StorageConfig before = w.controller.SetUpStorage({});
    EXPECT_EQ(w.Functions(), (std::vector<std::string>{"TRAX_GetDataStorage", "TRAX_DataStorageInit"}));

    w.calls.clear();
    const int count = before.count == 100 ? 200 : 100;
    const Controller::StorageConfig after = w.controller.SetUpStorage({std::nullopt, count, std::nullopt});
    EXPECT_EQ(w.Functions(),
              (std::vector<std::string>{"TRAX_GetDataStorage", "TRAX_SetDataStorage", "TRAX_DataStorageInit"}));
    EXPECT_EQ(after.count, count);
    EXPECT_EQ(after.target, before.target);
    EXPECT_EQ(after.cycle, before.cycle);
    EXPECT_EQ(w.calls[1].arguments,
              std::to_string(before.target) + ", " + std::to_string(count) + ", " + std::to_string(before.cycle));
}

TEST(Controller, AStorageReadHoldsWhatWasStoredAndNeverMoreThanAskedFor) {
    Controller c;
    c.SetUpStorage({0, 50, 0});
    c.StartStorage();
    // The simulated controller stores a value per poll of its clock; wait on
    // the count it reports, not on time.
    Controller::StorageStatus status;
    for (int i = 0; i < 100000 && status.count < 20; ++i) status = c.ReadStorageStatus(0);
    c.StopStorage();
    ASSERT_GE(status.count, 20);
    const int stored = c.ReadStorageStatus(0).count;
    EXPECT_EQ(c.ReadStorage(0, 5).size(), 5u);
    EXPECT_EQ(c.ReadStorage(0).size(), static_cast<size_t>(stored));
    // A maximum beyond what one head holds asks for the most there is.
    EXPECT_EQ(c.ReadStorage(0, trax::client::kMaxStored + 1).size(), static_cast<size_t>(stored));
}

TEST(Controller, ASettingWriteAndItsReadBackAreTwoCallsOfTheHook) {
    Watched w;
    const trax::client::SettingRef ref{&Named("able-min-max"), 1};
    const trax::client::WriteOutcome out = w.controller.WriteSetting(ref, {10, 90});
    ASSERT_TRUE(out.written);
    ASSERT_TRUE(out.readBack.ok);
    EXPECT_EQ(out.readBack.values, (std::vector<int>{10, 90}));
    ASSERT_EQ(w.calls.size(), 2u);
    EXPECT_EQ(w.calls[0].function, "TRAX_SetAbleMinMax");
    EXPECT_EQ(w.calls[0].arguments, "1, 10, 90");
    EXPECT_EQ(w.calls[1].function, "TRAX_GetAbleMinMax");
    EXPECT_EQ(w.calls[1].arguments, "1");
    w.controller.SetMode(Controller::Mode::Measure);
}

TEST(Controller, AFailedSettingReadIsKeptInItsRowAndTheSweepGoesOn) {
    Watched w;
    const trax::client::Setting& offset = Named("offset");
    // Head 7 is refused by the library; the row after it is still read.
    const std::vector<trax::client::SettingValue> read =
        w.controller.ReadSettings({{&offset, 7}, {&offset, 0}, {&Named("sampling-cycle"), 0}});
    ASSERT_EQ(read.size(), 3u);
    EXPECT_FALSE(read[0].ok);
    EXPECT_EQ(read[0].failure.function, "TRAX_GetOffset");
    EXPECT_TRUE(read[1].ok);
    EXPECT_TRUE(read[2].ok);
    ASSERT_EQ(w.calls.size(), 3u);
    EXPECT_TRUE(w.calls[0].failed);
    EXPECT_EQ(w.calls[2].arguments, "") << "a controller setting has no head";
    w.controller.SetMode(Controller::Mode::Measure);
}

TEST(Controller, ARoutineCallIsMarkedSoThatALogMayLeaveItsSuccessesOut) {
    Watched w;
    Controller::BothHeads values;
    EXPECT_FALSE(w.controller.TryReadValues(values, CallKind::Routine).has_value());
    w.controller.ReadValues();
    ASSERT_EQ(w.calls.size(), 2u);
    EXPECT_EQ(w.calls[0].kind, CallKind::Routine);
    EXPECT_EQ(w.calls[1].kind, CallKind::Asked);
}

TEST(Diagnosis, EachKindOfReasonAndSettingModeAskedWithoutSwitching) {
    using trax::client::Trouble;
    struct Row {
        const char* function;
        const char* reason;
        std::optional<int> error;
        Trouble expected;
    };
    const Row rows[] = {
        {"TRAX_GetCalcData", "the library did not load: libtrax.so.2: cannot open", std::nullopt,
         Trouble::LibraryMissing},
        {"TRAX_GetCalcData", "the library did not load: libQelUsbDrv.so: cannot open", std::nullopt,
         Trouble::DriverMissing},
        {"TRAX_GetCalcData", "library unusable: the driver's start-up failed", std::nullopt, Trouble::DriverMissing},
        {"TRAX_GetFigureData", "no reply within the reply limit (10000 ms after a busy reply, command 46)",
         std::nullopt, Trouble::Busy},
        {"TRAX_GetCalcData", "no reply within the reply limit", std::nullopt, Trouble::NoLink},
        {"TRAX_GetCalcData", "exchange failed", std::nullopt, Trouble::NoLink},
        {"TRAX_DataStorageGetStatus", "refused by the controller (error 5)", 5, Trouble::SettingMode},
        {"TRAX_GetCalcData", "an argument out of range", std::nullopt, Trouble::Unknown},
    };
    for (const Row& row : rows) {
        Watched w;
        const trax::client::Failure f{row.function, row.reason, row.error, ""};
        EXPECT_EQ(trax::client::Diagnose(f, w.controller), row.expected) << row.reason;
        EXPECT_TRUE(w.calls.empty()) << row.reason << ": no question needed";
    }
    // A refusal with another error number: the storage status tells the mode,
    // through the hook, and the controller stays as it was.
    Watched w;
    const trax::client::Failure refused{"TRAX_SetZero", "refused by the controller (error 12)", 12, ""};
    EXPECT_EQ(trax::client::Diagnose(refused, w.controller), Trouble::Unknown);
    w.controller.SetMode(Controller::Mode::Setting);
    EXPECT_EQ(trax::client::Diagnose(refused, w.controller), Trouble::SettingMode);
    w.controller.SetMode(Controller::Mode::Measure);
    EXPECT_EQ(w.Functions(), (std::vector<std::string>{"TRAX_DataStorageGetStatus", "TRAX_SetMode",
                                                       "TRAX_DataStorageGetStatus", "TRAX_SetMode"}));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The library of this build, loaded at run time as traxctl loads it.
#if !defined(_WIN32)
    setenv("TRAX_LIBRARY", TRAX_TEST_LIBRARY, 0);
#endif
    if (!trax::client::LoadTraxLibrary().loaded) {
        std::fprintf(stderr, "the library did not load: %s\n", trax::client::LoadTraxLibrary().problem.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
