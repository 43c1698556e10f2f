#include "client/Failure.h"

#include <trax.h>

#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <utility>

#include "client/System.h"

namespace trax::client {

namespace {

// Lines held for threads that never ask (a thread whose failures nobody
// reads) are dropped oldest first beyond this many.
constexpr size_t kMaxHeldLines = 512;

// The tap's file and how far this process has read it. Taken by the threads
// that make library calls; the lock keeps their reads of the file and the
// reader's held lines whole.
struct Tap {
    std::mutex lock;
    system::TapFile file;
    bool owned = false;  // made by this process
    uint64_t readTo = 0;
    ReasonReader reader{system::ProcessId()};
    std::string loadProblem;
    bool driverMissing = false;
};

Tap& TheTap() {
    static Tap tap;
    return tap;
}

// Feeds the reader what the library has added since the last look.
void ReadNewLines(Tap& tap) {
    if (tap.file.path.empty() || !system::OpenTapFile(tap.file)) return;
    std::string bytes;
    if (!system::ReadTapFile(tap.file, tap.readTo, bytes)) return;
    tap.readTo += bytes.size();
    tap.reader.Feed(bytes);
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

template <typename T>
T Get(const nlohmann::json& object, const char* key, T otherwise) {
    const auto at = object.find(key);
    if (at == object.end()) return otherwise;
    if constexpr (std::is_same_v<T, bool>) {
        return at->is_boolean() ? at->template get<bool>() : otherwise;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return at->is_string() ? at->template get<std::string>() : otherwise;
    } else {
        return at->is_number_integer() ? at->template get<T>() : otherwise;
    }
}

}  // namespace

std::string Failure::Text() const {
    std::string text = function + " failed";
    if (!reason.empty()) text += ": " + reason;
    return text;
}

CallError::CallError(Failure failure) : std::runtime_error(failure.Text()), failure_(std::move(failure)) {}

void ReasonReader::Feed(const std::string& bytes) {
    partial_ += bytes;
    size_t start = 0;
    for (size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start)) {
        Add(partial_.substr(start, end - start));
        start = end + 1;
    }
    partial_.erase(0, start);
}

void ReasonReader::Add(const std::string& text) {
    const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
    if (!line.is_object()) return;
    // Lines of other processes sharing a user's tap are not ours; a line
    // without the field comes from a library older than the field.
    if (Get<long long>(line, "process", process_) != static_cast<long long>(process_)) return;
    if (line.contains("trax")) {
        StartupReport report;
        report.known = true;
        report.version = Get<std::string>(line, "trax", "");
        const auto startup = line.find("startup");
        if (startup != line.end() && startup->is_object()) {
            report.typeParam = Get<long>(*startup, "InitQelUsbTypeParam", 0);
            report.usbType = Get<long>(*startup, "SetUsbType", 0);
            report.initUsb = Get<long>(*startup, "InitUsb", 0);
            report.initPid = Get<long>(*startup, "InitPid", 0);
        }
        report.usable = Get<bool>(line, "usable", false);
        report.standIn = Get<bool>(line, "stand_in", false);
        report.driver = Get<std::string>(line, "driver", "");
        report.driverCalls = Get<std::string>(line, "driver_calls", "");
        startup_ = report;
        return;
    }
    const std::string function = Get<std::string>(line, "call", "");
    if (function.empty()) return;
    Line held{static_cast<uint32_t>(Get<long long>(line, "thread", 0)), function, Get<std::string>(line, "reason", ""),
              std::nullopt};
    // The controller's own number: the first reason that carries one.
    const auto reasons = line.find("reasons");
    if (reasons != line.end() && reasons->is_array()) {
        for (const nlohmann::json& each : *reasons) {
            if (!each.is_object()) continue;
            const auto error = each.find("error");
            if (error != each.end() && error->is_number_integer()) {
                held.errorNumber = error->get<int>();
                break;
            }
        }
    }
    held_.push_back(std::move(held));
    if (held_.size() > kMaxHeldLines) held_.pop_front();
}

Failure ReasonReader::Take(const char* function, uint32_t thread) {
    Failure failure{function, "", std::nullopt, ""};
    // A call ends before its thread asks; earlier lines of the same thread
    // belong to failures nobody asked about, so the last one is this call's.
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->thread != thread) {
            ++it;
            continue;
        }
        if (it->function == function) {
            failure.reason = it->reason;
            failure.errorNumber = it->errorNumber;
        }
        it = held_.erase(it);
    }
    return failure;
}

bool PrepareReasonTap() {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    if (!tap.file.path.empty()) return true;
    const std::string given = system::Variable("TRAX_LOG_TAP");
    const std::string owner = system::Variable("TRAX_LOG_TAP_PROCESS");
    const std::string self = std::to_string(system::ProcessId());
    if (!given.empty() && (owner.empty() || owner == self)) {
        // The user's own tap: read from its end on (it may not exist before
        // the library makes it; then it is opened at the first look).
        tap.file.path = given;
        std::string before;
        if (system::OpenTapFile(tap.file) && system::ReadTapFile(tap.file, 0, before)) tap.readTo = before.size();
        return true;
    }
    // None, or a parent's: a tap of this process's own.
    if (!system::CreateTapFile(tap.file)) return false;
    tap.owned = true;
    system::SetVariable("TRAX_LOG_TAP", tap.file.path);
    system::SetVariable("TRAX_LOG_TAP_PROCESS", self);
    std::atexit(CloseReasonTap);
    return true;
}

void CloseReasonTap() {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    if (tap.owned) system::ForgetTapName(tap.file);
    tap.owned = false;
}

void ReasonTapOpened() {
    // The library has opened the file and so has this process: without its
    // name nothing is left behind, however the process ends. (Windows
    // deletes it when the last handle closes.)
    CloseReasonTap();
}

void SetLibraryLoadProblem(const std::string& problem, bool driverMissing) {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    tap.loadProblem = problem;
    tap.driverMissing = driverMissing;
}

StartupReport ReadStartupReport() {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    ReadNewLines(tap);
    return tap.reader.Startup();
}

Failure FailureOf(const char* function) {
    Tap& tap = TheTap();
    std::lock_guard<std::mutex> guard(tap.lock);
    if (!tap.loadProblem.empty()) {
        Failure failure{function, "the library did not load: " + tap.loadProblem, std::nullopt, ""};
        return failure;
    }
    ReadNewLines(tap);
    return tap.reader.Take(function, system::ThreadId());
}

void AddHint(Failure& failure) {
    const std::string& reason = failure.reason;
    if (StartsWith(reason, "the library did not load")) {
        bool driverMissing = false;
        {
            Tap& tap = TheTap();
            std::lock_guard<std::mutex> guard(tap.lock);
            driverMissing = tap.driverMissing;
        }
        if (driverMissing || reason.find("QelUsbDrv") != std::string::npos) {
            failure.hint = system::DriverPlacementHint() + "; 'traxctl doctor' checks each step";
        } else if (reason.find("start-up") != std::string::npos) {
            failure.hint =
                "the driver is there but its start-up failed: connect and power the controller; 'traxctl doctor' "
                "checks each step";
        } else {
            failure.hint = system::LibraryPlacementHint();
        }
        return;
    }
    if (StartsWith(reason, "library unusable")) {
        failure.hint =
            "the USB driver did not start: connect and power the controller, and check that no other program holds "
            "it; 'traxctl doctor' checks each step";
        return;
    }
    if (reason.find("busy") != std::string::npos) {
        failure.hint =
            "the controller stays busy: an Able adjustment or a storage run may be in progress "
            "('traxctl able stop', 'traxctl storage stop')";
        return;
    }
    if (StartsWith(reason, "no reply") || StartsWith(reason, "exchange failed") ||
        StartsWith(reason, "channel could not be created")) {
        failure.hint = "check the USB cable and the controller's power, and that no other program holds the controller";
        return;
    }
    if (!StartsWith(reason, "refused by the controller")) return;
    // Measurement, storage and control commands are refused in setting mode.
    // The storage status is the one question that tells, without switching.
    bool settingMode = failure.errorNumber == 5 && failure.function == "TRAX_DataStorageGetStatus";
    if (!settingMode && failure.errorNumber.has_value()) {
        int state = 0;
        int count = 0;
        if (TRAX_DataStorageGetStatus(0, &state, &count) == 0) {
            const Failure probe = FailureOf("TRAX_DataStorageGetStatus");
            settingMode = probe.errorNumber == 5;
        }
    }
    if (settingMode) {
        failure.hint = "the controller is in setting mode; 'traxctl mode measure' brings it back to measurement";
    }
}

void Check(int result, const char* function) {
    if (result != 1) throw CallError(FailureOf(function));
}

}  // namespace trax::client
