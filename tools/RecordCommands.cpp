#include "RecordCommands.h"

#include <trax.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "Identity.h"
#include "client/AtomicFile.h"
#include "client/Controller.h"
#include "client/Doctor.h"
#include "client/LibraryLoader.h"
#include "client/SettingsFile.h"

#ifndef TRAXCTL_VERSION
#define TRAXCTL_VERSION "unknown"
#endif

namespace traxctl {

namespace {

using nlohmann::json;

// The recording support makes of its own calls, and whether support made
// the file (and so removes it).
std::string supportRecording;
bool supportRecordingOwned = false;

bool SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    // Both the system's copy and the C run-time's: the library reads the first.
    SetEnvironmentVariableA(name, value.c_str());
    return _putenv_s(name, value.c_str()) == 0;
#else
    return setenv(name, value.c_str(), 1) == 0;
#endif
}

unsigned long ProcessId() {
#if defined(_WIN32)
    return static_cast<unsigned long>(GetCurrentProcessId());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

#if defined(_WIN32)
void* DriverExport(const char* name) {
    HMODULE driver = GetModuleHandleA("QelUsbDrv.dll");
    return driver == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(driver, name));
}
#else
void* DriverExport(const char* name) { return dlsym(RTLD_DEFAULT, name); }
#endif

// The stand-in's account of the replay; null without a replay.
const char* ReplayStatusText() {
    using Status = const char* (*)();
    auto status = reinterpret_cast<Status>(DriverExport("QelUsbStandInReplayStatus"));
    return status != nullptr ? status() : nullptr;
}

// A recording's line as JSON: objects and arrays two deep at most, as the
// library writes them; anything deeper is refused while parsing.
json ParseLine(const std::string& line) {
    return json::parse(line, [](int depth, json::parse_event_t, json&) {
        if (depth > 3) throw std::invalid_argument("nested deeper than a recording's lines");
        return true;
    });
}

struct RecordedCall {
    uint64_t line = 0;
    std::string function;
    std::vector<long long> arguments;
    std::vector<bool> pointers;
    std::string argumentsText;
};

// The calls of a recording, in the order of their first exchange.
std::vector<RecordedCall> ReadCalls(const std::string& path) {
    std::string error;
    const std::string text = trax::client::ReadWholeFile(path, &error);
    if (!error.empty()) throw FileError{error};
    std::vector<RecordedCall> calls;
    std::set<std::pair<uint64_t, uint64_t>> seen;  // thread, call number
    std::istringstream lines(text);
    std::string line;
    uint64_t number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (number == 1 || line.empty()) continue;
        json exchange;
        try {
            exchange = ParseLine(line);
        } catch (const std::exception&) {
            // The stand-in has read the file already and says what is wrong
            // with it; a last line cut short by a crash is left out.
            continue;
        }
        if (!exchange.is_object() || !exchange.contains("call") || !exchange["call"].is_string()) continue;
        const json& n = exchange.value("call_n", json());
        const json& thread = exchange.value("thread", json());
        if (!n.is_number_unsigned() || !thread.is_number_unsigned()) continue;
        if (!seen.insert({thread.get<uint64_t>(), n.get<uint64_t>()}).second) continue;
        RecordedCall call;
        call.line = number;
        call.function = exchange["call"].get<std::string>();
        if (exchange.contains("args") && exchange["args"].is_array()) {
            for (const json& a : exchange["args"]) {
                if (!call.argumentsText.empty()) call.argumentsText += ", ";
                if (a.is_number_integer()) {
                    call.arguments.push_back(a.get<long long>());
                    call.pointers.push_back(false);
                    call.argumentsText += std::to_string(a.get<long long>());
                } else {
                    call.arguments.push_back(a.is_null() ? 0 : 1);
                    call.pointers.push_back(true);
                    call.argumentsText += a.is_null() ? "NULL" : "*";
                }
            }
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

using Caller = int (*)(const long long* a, void* const* p);
struct CallRow {
    const char* name;
    int parameters;
    Caller call;
};

const CallRow* FindCall(const std::string& name) {
    static const CallRow kRows[] = {
#include "CallTable.inc"
    };
    for (const CallRow& row : kRows) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

// Room for any output of any call: 65536 stored values of 8 bytes at most.
constexpr size_t kScratchBytes = 1u << 20;

// The last lines of a trace log, at most `count`, from its last 256 KiB.
std::vector<std::string> LastLines(const std::string& path, size_t count, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read '" + path + "': " + std::strerror(errno);
        return {};
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    const std::streamoff from = size > (256 << 10) ? size - (256 << 10) : 0;
    file.seekg(from);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        // A line cut by the start of the window is left out.
        if (first && from > 0) {
            first = false;
            continue;
        }
        first = false;
        lines.push_back(line);
    }
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
    return lines;
}

json FailureJson(const trax::client::Failure& failure) {
    json out = {{"function", failure.function}, {"reason", failure.reason}};
    if (failure.errorNumber) out["error"] = *failure.errorNumber;
    return out;
}

}  // namespace

int TakeRecordOptions(std::vector<std::string>& args) {
    std::string record;
    std::string replay;
    for (size_t i = 0; i < args.size();) {
        const std::string& a = args[i];
        std::string* target = a == "--record" ? &record : a == "--replay" ? &replay : nullptr;
        if (target == nullptr) {
            ++i;
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            std::cerr << "traxctl: " << a << " needs a file name\n";
            return 2;
        }
        *target = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    }
    // The command, to know whether it needs a variable of its own.
    size_t at = 0;
    while (at < args.size() && args[at].rfind("-", 0) == 0)
        at += (args[at] == "--unit" || args[at] == "--units") ? 2u : 1u;
    const std::string command = at < args.size() ? args[at] : "";
    const std::string file = at + 1 < args.size() ? args[at + 1] : "";
    if (command == "replay-check" && !file.empty() && file.rfind("-", 0) != 0) {
        if (!replay.empty() && replay != file) {
            std::cerr << "traxctl: replay-check replays its own FILE; --replay names another\n";
            return 2;
        }
        replay = file;
    }
    if (command == "support" && !file.empty() && file.rfind("-", 0) != 0) {
        // The support file holds a short recording of the calls it makes.
        supportRecordingOwned = record.empty();
        if (record.empty()) record = file + ".recording-" + std::to_string(ProcessId());
        supportRecording = record;
    }
    if (!record.empty() && !SetVariable("TRAX_RECORD", record)) {
        std::cerr << "traxctl: --record: cannot set TRAX_RECORD\n";
        return 1;
    }
    if (!replay.empty() && !SetVariable("TRAX_SIM_REPLAY", replay)) {
        std::cerr << "traxctl: --replay: cannot set TRAX_SIM_REPLAY\n";
        return 1;
    }
    return 0;
}

int RunReplayCheck(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    const std::string& path = ctx.args.words[0];
    const char* before = ReplayStatusText();
    if (before == nullptr) {
        // Never make a recording's calls against a real controller.
        throw FileError{
            "replay-check needs the stand-in driver, which answers from the recording; the library "
            "loaded another driver (traxctl --version names it), so nothing was sent"};
    }
    const json start = json::parse(before);
    if (!start["problem"].is_null()) {
        throw FileError{"the stand-in driver refuses the recording: " + start["problem"].get<std::string>()};
    }
    const std::vector<RecordedCall> calls = ReadCalls(path);
    std::vector<std::vector<uint8_t>> scratch(8);
    trax::client::Controller controller;
    json results = json::array();
    size_t failed = 0;
    for (const RecordedCall& call : calls) {
        const CallRow* row = FindCall(call.function);
        if (row == nullptr || row->parameters != static_cast<int>(call.arguments.size()) || row->parameters > 8) {
            throw FileError{"line " + std::to_string(call.line) + ": the recording names " + call.function + " with " +
                            std::to_string(call.arguments.size()) + " arguments, which is no call of this library"};
        }
        void* pointers[8] = {};
        for (size_t i = 0; i < call.arguments.size(); ++i) {
            if (!call.pointers[i] || call.arguments[i] == 0) continue;
            scratch[i].assign(kScratchBytes, 0);
            pointers[i] = scratch[i].data();
        }
        const std::optional<trax::client::Failure> failure = controller.TryCall(
            row->name, call.argumentsText, [&] { return row->call(call.arguments.data(), pointers); });
        json entry = {
            {"line", call.line}, {"call", call.function}, {"args", call.argumentsText}, {"result", failure ? 0 : 1}};
        if (failure) {
            ++failed;
            entry["reason"] = failure->reason;
            if (!ctx.json) {
                ctx.out << "line " << call.line << ": " << call.function << "(" << call.argumentsText
                        << ") = 0: " << (failure->reason.empty() ? "reason not known" : failure->reason) << "\n";
            }
        }
        results.push_back(entry);
    }
    const char* after = ReplayStatusText();
    const json status = json::parse(after != nullptr ? after : "{}");
    const bool complete = status.value("complete", false);
    if (ctx.json) {
        ctx.out << json{{"file", path}, {"complete", complete}, {"calls", results}, {"replay", status}}.dump(
                       -1, ' ', false, json::error_handler_t::replace)
                << "\n";
        return complete ? 0 : 1;
    }
    const auto played = status.value("played", 0ull);
    const auto exchanges = status.value("exchanges", 0ull);
    if (complete) {
        ctx.out << path << " replays to the end: " << exchanges << " exchanges in " << calls.size() << " calls ("
                << failed << " of them returned 0)\n";
        return 0;
    }
    ctx.out << path << " does not replay to the end: " << played << " of " << exchanges << " exchanges played";
    if (status.contains("divergence") && status["divergence"].is_string()) {
        ctx.out << "; it " << status["divergence"].get<std::string>();
    }
    if (status.value("exhausted", false)) ctx.out << "; the calls asked for more exchanges than it holds";
    ctx.out << "\n";
    return 1;
}

int RunSupport(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    const std::string& path = ctx.args.words[0];
    const std::string problem = trax::client::CheckWritable(path);
    if (!problem.empty()) throw FileError{problem};
    json doc;
    doc["format"] = "trax-support";
    doc["version"] = 1;
    doc["made"] = trax::client::UtcNow();

    // First the short recording's calls, so that nothing else comes before them.
    trax::client::Controller controller;
    json calls = json::array();
    trax::client::Controller::BothHeads values;
    std::optional<trax::client::Failure> valuesFailure = controller.TryReadValues(values);
    calls.push_back(valuesFailure
                        ? json{{"call", "TRAX_GetCalcData"}, {"result", 0}, {"failure", FailureJson(*valuesFailure)}}
                        : json{{"call", "TRAX_GetCalcData"},
                               {"result", 1},
                               {"A", {{"status", values.a.status}, {"value", values.a.value}}},
                               {"B", {{"status", values.b.status}, {"value", values.b.value}}}});
    int storing = 0;
    int count = 0;
    std::optional<trax::client::Failure> statusFailure = controller.TryCall(
        "TRAX_DataStorageGetStatus", "0", [&] { return TRAX_DataStorageGetStatus(0, &storing, &count); });
    calls.push_back(
        statusFailure
            ? json{{"call", "TRAX_DataStorageGetStatus"}, {"result", 0}, {"failure", FailureJson(*statusFailure)}}
            : json{
                  {"call", "TRAX_DataStorageGetStatus"}, {"result", 1}, {"storing", storing != 0}, {"count_A", count}});
    doc["calls"] = calls;

    // Versions: traxctl's, the library's and the driver's, and the system.
    const trax::client::LibraryLoad& load = trax::client::LoadTraxLibrary();
    using Describe = const char* (*)();
    auto describe = reinterpret_cast<Describe>(DriverExport("QelUsbStandInDescription"));
    doc["versions"] = {{"traxctl", TRAXCTL_VERSION},
                       {"library", LibraryVersion()},
                       {"library_file", load.path},
                       {"library_loaded", load.loaded},
                       {"driver", describe != nullptr ? describe() : "the controller's USB driver (not the stand-in)"},
                       {"driver_file", trax::client::DriverPath()}};
    if (!load.loaded) doc["versions"]["library_problem"] = load.problem;

    // The recording of those two calls: its first line (library, system,
    // driver) and their exchanges, as lines that replay as they are.
    json recording = json::array();
    if (!supportRecording.empty()) {
        std::string error;
        const std::string text = trax::client::ReadWholeFile(supportRecording, &error);
        std::istringstream lines(text);
        std::string line;
        std::set<uint64_t> kept;
        for (uint64_t number = 1; std::getline(lines, line); ++number) {
            json parsed;
            try {
                parsed = ParseLine(line);
            } catch (const std::exception&) {
                continue;
            }
            if (number == 1) {
                recording.push_back(line);
                if (parsed.is_object()) {
                    doc["versions"]["system"] = parsed.value("system", "") + " " + parsed.value("architecture", "");
                }
                continue;
            }
            const std::string call = parsed.is_object() ? parsed.value("call", std::string()) : "";
            const uint64_t n = parsed.is_object() ? parsed.value("call_n", 0ull) : 0;
            if (call != "TRAX_GetCalcData" && call != "TRAX_DataStorageGetStatus") continue;
            // The first call of each.
            if (kept.size() == 2 && kept.count(n) == 0) continue;
            kept.insert(n);
            recording.push_back(line);
        }
        if (supportRecordingOwned) std::remove(supportRecording.c_str());
    }
    doc["recording"] = recording;

    const std::vector<trax::client::DoctorCheck> checks = trax::client::RunDoctor();
    json doctor = json::array();
    size_t doctorFailed = 0;
    for (const auto& check : checks) {
        json c = {{"check", check.name}, {"ok", check.ok}, {"detail", check.detail}};
        if (!check.ok) {
            c["hint"] = check.hint;
            ++doctorFailed;
        }
        doctor.push_back(c);
    }
    doc["doctor"] = doctor;

    std::vector<trax::client::SettingValue> failures;
    trax::client::SettingsDocument settings = trax::client::ReadController(trax::client::FileSettings(), &failures);
    settings.library = LibraryVersion();
    try {
        doc["settings"] = json::parse(trax::client::SettingsJson(settings));
    } catch (const std::exception&) {
        doc["settings"] = nullptr;
    }
    json settingFailures = json::array();
    for (const auto& f : failures)
        settingFailures.push_back({{"setting", f.ref.Name()}, {"failure", f.failure.Text()}});
    doc["settings_failed"] = settingFailures;

    // The trace log's last lines, when one is named.
    std::string log = ctx.args.Option("log") != nullptr ? *ctx.args.Option("log") : "";
    if (log.empty()) {
        const char* named = std::getenv("TRAX_LOG_FILE");
        if (named != nullptr && std::strcmp(named, "stderr") != 0) log = named;
    }
    size_t traceLines = 0;
    if (!log.empty()) {
        std::string error;
        const std::vector<std::string> lines = LastLines(log, 200, &error);
        traceLines = lines.size();
        doc["trace"] = {{"file", log}, {"lines", lines}};
        if (!error.empty()) doc["trace"]["problem"] = error;
    }

    const std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    const std::string writeProblem = trax::client::WriteFileAtomically(path, text);
    if (!writeProblem.empty()) throw FileError{writeProblem};

    ctx.out << "wrote " << path << " (" << text.size() << " bytes), holding:\n";
    ctx.out << "  versions: traxctl " << TRAXCTL_VERSION << ", library "
            << (LibraryVersion().empty() ? "not known" : LibraryVersion()) << ", driver "
            << doc["versions"]["driver"].get<std::string>();
    if (doc["versions"].contains("system")) ctx.out << ", system " << doc["versions"]["system"].get<std::string>();
    ctx.out << "\n";
    ctx.out << "  doctor: " << checks.size() << " checks, " << doctorFailed << " failed\n";
    ctx.out << "  settings: " << settings.entries.size() << " settings of program "
            << (settings.program ? *settings.program : 0) << ", " << failures.size() << " could not be read\n";
    ctx.out << "  recording: " << (recording.empty() ? 0 : recording.size() - 1)
            << " exchanges of a values read and a storage status\n";
    ctx.out << "  calls: values read " << (valuesFailure ? "failed" : "ok") << ", storage status "
            << (statusFailure ? "failed" : "ok") << "\n";
    if (!log.empty()) {
        ctx.out << "  trace log: the last " << traceLines << " lines of " << log << "\n";
    } else {
        ctx.out << "  trace log: none named (--log FILE or TRAX_LOG_FILE adds its last lines)\n";
    }
    ctx.out << "Nothing else: no other files, no names of the host or its users.\n";
    return 0;
}

}  // namespace traxctl
