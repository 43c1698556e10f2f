// Commands that read what the controller measures: values, watch, figure
// data, the light-intensity profile and the data storage.
#include <trax.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Profile.h"
#include "Progress.h"
#include "Units.h"
#include "client/AtomicFile.h"
#include "client/LibraryLoader.h"
#include "client/SettingsAccess.h"

namespace traxctl {

namespace {

// A file that cannot be written is not wrong input: it is reported with the
// system's reason (exit status 1). Checked before anything is sent, so that a
// bad path costs no traffic.
void CheckOutput(const std::string* path) {
    if (path == nullptr) return;
    const std::string problem = trax::client::CheckWritable(*path);
    if (!problem.empty()) throw FileError{problem};
}

// Whole or not at all: a full disk leaves the previous file, not half of one.
void WriteOutput(const std::string& path, const std::string& text) {
    const std::string problem = trax::client::WriteFileAtomically(path, text);
    if (!problem.empty()) throw FileError{problem};
}

// A file written line by line as the readings come (watch --csv): what was
// read before a failure stays in it. The system's reason for a failure.
class LineFile {
public:
    explicit LineFile(const std::string* path) : path_(path ? *path : "") {
        if (path == nullptr) return;
        // A batch's check of its lines opens nothing: an existing file stays.
        if (trax::client::CallsHeld()) {
            CheckOutput(path);
            return;
        }
        errno = 0;
        file_ = std::fopen(path->c_str(), "wb");
        if (file_ == nullptr) Fail(errno);
    }
    ~LineFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    explicit operator bool() const { return file_ != nullptr; }

    void Write(const std::string& line) {
        if (file_ == nullptr) return;
        errno = 0;
        if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) Fail(errno);
    }
    void Close() {
        if (file_ == nullptr) return;
        std::FILE* file = file_;
        file_ = nullptr;
        errno = 0;
        if (std::fclose(file) != 0) Fail(errno);
    }

private:
    [[noreturn]] void Fail(int error) {
        throw FileError{"cannot write '" + path_ + "': " + (error != 0 ? std::strerror(error) : "unknown error")};
    }
    std::string path_;
    std::FILE* file_ = nullptr;
};

// When this process saw the storage start and stop (a batch can run both and
// the read); the controller does not say.
struct Capture {
    std::string start, stop;
};
Capture& StorageCapture() {
    static Capture capture;
    return capture;
}

std::string ValueText(const FloatValue& v, const DisplayUnit& unit) {
    std::string text = FormatValue(v, unit);
    if (v.status == TRAX_VALUE_VALID && !unit.name.empty()) text += " " + unit.name;
    return text;
}

// {"A":{"status":...,"value":...,"unit":...},"B":{...}} and the end of the line.
void WriteBothValues(std::ostream& out, const FloatValue& a, const DisplayUnit& ua, const FloatValue& b,
                     const DisplayUnit& ub) {
    JsonWriter json(out);
    json.BeginObject();
    WriteValue(json.Key("A"), a, ua, true);
    WriteValue(json.Key("B"), b, ub, true);
    json.EndObject();
    out << "\n";
}

}  // namespace

int RunValues(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    DisplayUnit ua = UnitOf(ctx, 0), ub = UnitOf(ctx, 1);
    SayUnitNotKnown(ctx, ua);
    FloatValue a{}, b{};
    TRAXCTL_CALL(TRAX_GetCalcData, &a, &b);
    if (ctx.json) {
        WriteBothValues(ctx.out, a, ua, b, ub);
    } else {
        ctx.out << "A  " << ValueText(a, ua) << "\n";
        ctx.out << "B  " << ValueText(b, ub) << "\n";
    }
    return 0;
}

int RunWatch(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    int count = 0;  // 0: until Ctrl-C
    int intervalMs = 200;
    if (auto* v = ctx.args.Option("count")) count = ParseInt(*v, 1, 1000000000, "--count");
    if (auto* v = ctx.args.Option("interval")) intervalMs = ParseInt(*v, 0, 3600000, "--interval");
    const bool keepGoing = ctx.args.Has("keep-going");
    const bool iso = ctx.args.Has("iso");
    CheckOutput(ctx.args.Option("csv"));

    DisplayUnit ua = UnitOf(ctx, 0), ub = UnitOf(ctx, 1);
    SayUnitNotKnown(ctx, ua);
    LineFile csv(ctx.args.Option("csv"));
    csv.Write("time,elapsed_s,a_status,a_value,a_unit,b_status,b_value,b_unit\n");
    // Refresh in place only on a terminal; a pipe or file gets one line per reading.
    bool inPlace = !ctx.json && &ctx.out == &std::cout && IsTerminal(1);
    const auto start = std::chrono::steady_clock::now();
    const auto wallStart = std::chrono::system_clock::now();
    long long calls = 0, failures = 0;
    std::vector<std::pair<std::string, long long>> reasons;  // failure text, how often
    auto summary = [&] {
        if (!keepGoing) return;
        ctx.out.flush();
        std::string text;
        for (const auto& r : reasons) text += "; " + std::to_string(r.second) + "x " + r.first;
        ctx.err << "traxctl watch: " << calls << " readings, " << failures << " failed" << text << "\n";
    };
    try {
        for (int n = 0; count == 0 || n < count; ++n) {
            FloatValue a{}, b{};
            const auto at = std::chrono::steady_clock::now();
            // Wall-clock time as the start's plus the monotonic time since, so
            // that a clock adjustment during the run cannot reorder rows.
            const auto wall = wallStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(at - start);
            char elapsed[32];
            std::snprintf(elapsed, sizeof elapsed, "%.3f", std::chrono::duration<double>(at - start).count());
            const std::string when = trax::client::IsoTime(wall);
            ++calls;
            const bool ok = TRAX_GetCalcData(&a, &b) == 1;
            // The reason is taken at once, before another call adds to the tap.
            trax::client::Failure failed;
            if (!ok) failed = trax::client::FailureOf("TRAX_GetCalcData");
            if (InterruptRequested()) throw Interrupted{};
            std::string failure;
            if (!ok) {
                if (!keepGoing) throw trax::client::CallError(failed);
                ++failures;
                failure = failed.Text();
                bool counted = false;
                for (auto& r : reasons) {
                    if (r.first == failure) ++r.second, counted = true;
                }
                if (!counted) reasons.emplace_back(failure, 1);
            }
            if (ok) {
                csv.Write(when + "," + elapsed + "," + CsvCells(a, ua) + "," + CsvCells(b, ub) + "\n");
            } else {
                csv.Write(when + "," + elapsed + ",failed,,,failed,,\n");
            }
            if (ctx.json) {
                JsonWriter json(ctx.out);
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count();
                json.BeginObject().Key("t").Number(static_cast<float>(ms) / 1000.0f, 3);
                if (iso) json.Key("time").String(when);
                if (ok) {
                    WriteValue(json.Key("A"), a, ua, true);
                    WriteValue(json.Key("B"), b, ub, true);
                } else {
                    json.Key("error").String(failure);
                }
                json.EndObject();
                ctx.out << "\n";
            } else {
                std::string time = iso ? when + "  " + elapsed : std::string(elapsed);
                std::string line;
                if (!ok) {
                    line = time + "  FAILED (" + failure + ")";
                } else if (inPlace) {
                    char cells[128];
                    std::snprintf(cells, sizeof cells, "A  %-16s  B  %-16s", ValueText(a, ua).c_str(),
                                  ValueText(b, ub).c_str());
                    line = time + "  " + cells;
                } else {
                    line = time + "  A  " + ValueText(a, ua) + "    B  " + ValueText(b, ub);
                }
                ctx.out << (inPlace ? "\r" : "") << line << (inPlace ? "\033[K" : "\n");
                // A failure stays visible on the terminal instead of being overwritten.
                if (inPlace && !ok) ctx.out << "\n";
            }
            ctx.out.flush();
            if (count != 0 && n + 1 == count) break;
            // Short slices so that Ctrl-C ends the wait promptly.
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
            while (!InterruptRequested() && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                    std::chrono::milliseconds(50), until - std::chrono::steady_clock::now()));
            }
            if (InterruptRequested()) throw Interrupted{};
        }
        csv.Close();
    } catch (...) {
        if (inPlace) ctx.out << "\n";
        summary();
        throw;
    }
    if (inPlace) ctx.out << "\n";
    summary();
    return failures == 0 ? 0 : 1;
}

int RunFigure(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    int head = ParseHead(ctx.args.words[0], false);
    DisplayUnit unit = UnitOf(ctx, head);
    SayUnitNotKnown(ctx, unit);
    FigureData f{};
    TRAXCTL_CALL(TRAX_GetFigureData, head, &f);
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("head").String(HeadName(head));
        WriteUnit(json.Key("unit"), unit);
        json.Key("values").BeginArray();
        for (int i = 0; i < 7; ++i) WriteValue(json, f.values[i], unit);
        json.EndArray().Key("integers").BeginArray();
        for (int i = 0; i < 4; ++i) json.Number(f.integers[i]);
        json.EndArray().EndObject();
        ctx.out << "\n";
        return 0;
    }
    ctx.out << "figure data of head " << HeadName(head) << "\n";
    for (int i = 0; i < 7; ++i) ctx.out << "  value " << i << "    " << ValueText(f.values[i], unit) << "\n";
    for (int i = 0; i < 4; ++i) ctx.out << "  integer " << i << "  " << f.integers[i] << "\n";
    return 0;
}

int RunClearFigure(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    TRAXCTL_CALL(TRAX_ClearFigureData);
    ctx.out << "figure data cleared\n";
    return 0;
}

int RunLight(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    int head = ParseHead(ctx.args.words[0], false);
    int selector = 0;
    if (auto* v = ctx.args.Option("selector")) selector = ParseInt(*v, 0, 3, "--selector");
    const std::string* csv = ctx.args.Option("csv");
    const std::string* svg = ctx.args.Option("svg");
    CheckOutput(csv);
    CheckOutput(svg);

    LightData light{};
    int extra = 0;
    unsigned char profile[kProfileLength] = {};
    TRAXCTL_CALL(TRAX_GetLight, head, selector, &light, &extra, profile);

    if (csv) WriteOutput(*csv, ProfileCsv(profile));
    if (svg) {
        WriteOutput(*svg, ProfileSvg(profile, "Light intensity, head " + std::string(HeadName(head)) + ", selector " +
                                                  std::to_string(selector)));
    }
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("head").String(HeadName(head)).Key("selector").Number(selector);
        json.Key("light").BeginArray();
        for (int i = 0; i < 4; ++i) json.Number(light.values[i]);
        json.EndArray().Key("extra").Number(extra).Key("profile").BeginArray();
        for (int i = 0; i < kProfileLength; ++i) json.Number(profile[i]);
        json.EndArray().EndObject();
        ctx.out << "\n";
        return 0;
    }
    ctx.out << "light intensity of head " << HeadName(head) << ", selector " << selector << "\n";
    ctx.out << "light figures  " << light.values[0] << " " << light.values[1] << " " << light.values[2] << " "
            << light.values[3] << "   extra " << extra << "\n";
    ctx.out << TerminalPlot(profile, 64, 10);
    if (csv) ctx.out << "wrote " << *csv << "\n";
    if (svg) ctx.out << "wrote " << *svg << "\n";
    return 0;
}

namespace {

int StorageSetup(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    // Check every given value before the first call.
    const int* given[3] = {nullptr, nullptr, nullptr};
    int parsed[3] = {0, 0, 0};
    const trax::client::Field* fields = trax::client::StorageSetting().fields;
    for (int i = 0; i < 3; ++i) {
        if (auto* v = ctx.args.Option(fields[i].name)) {
            parsed[i] = ParseInt(*v, fields[i].low, fields[i].high, std::string("--") + fields[i].name);
            given[i] = &parsed[i];
        }
    }
    int current[3] = {0, 0, 0};
    TRAXCTL_CALL(TRAX_GetDataStorage, &current[0], &current[1], &current[2]);
    for (int i = 0; i < 3; ++i) {
        if (given[i]) current[i] = *given[i];
    }
    if (given[0] || given[1] || given[2]) TRAXCTL_CALL(TRAX_SetDataStorage, current[0], current[1], current[2]);
    TRAXCTL_CALL(TRAX_DataStorageInit);
    ctx.out << "storage ready: target " << current[0] << ", count " << current[1] << ", cycle " << current[2] << "\n";
    return 0;
}

int StorageStatus(Context& ctx) {
    ExpectWords(ctx.args, 1, 2);
    int first = 0, last = 1;
    if (ctx.args.words.size() == 2) first = last = ParseHead(ctx.args.words[1], false);
    int storing = 0;
    int counts[2] = {0, 0};
    for (int h = first; h <= last; ++h) TRAXCTL_CALL(TRAX_DataStorageGetStatus, h, &storing, &counts[h]);
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("storing").Bool(storing != 0);
        for (int h = first; h <= last; ++h) json.Key(HeadName(h)).Number(counts[h]);
        json.EndObject();
        ctx.out << "\n";
        return 0;
    }
    ctx.out << "storing  " << (storing ? "yes" : "no") << "\n";
    for (int h = first; h <= last; ++h) ctx.out << HeadName(h) << "  " << counts[h] << " values\n";
    return 0;
}

int StorageRead(Context& ctx) {
    ExpectWords(ctx.args, 2, 2);
    int head = ParseHead(ctx.args.words[1], false);
    int maxCount = 65536;
    if (auto* v = ctx.args.Option("max")) maxCount = ParseInt(*v, 1, 65536, "--max");
    const std::string* csv = ctx.args.Option("csv");
    CheckOutput(csv);

    DisplayUnit unit = UnitOf(ctx, head);
    // The sampling cycle costs a switch to setting mode, which --read-unit has
    // already allowed; otherwise it stays unknown.
    std::string samplingCycle;
    if (csv && ctx.units.readCode) {
        int code = 0;
        TRAXCTL_CALL(TRAX_GetSamplingCycle, &code);
        samplingCycle = std::to_string(code);
    }
    SayUnitNotKnown(ctx, unit);
    std::vector<FloatValue> values(static_cast<size_t>(maxCount));
    int returned = 0;
    TRAXCTL_CALL(TRAX_DataStorageGetData, head, maxCount, values.data(), &returned);

    if (csv) {
        WriteOutput(*csv, StorageCsv(head, unit, values.data(), returned, StorageCapture().start, StorageCapture().stop,
                                     samplingCycle));
    }
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("head").String(HeadName(head));
        WriteUnit(json.Key("unit"), unit);
        json.Key("count").Number(returned).Key("values").BeginArray();
        for (int i = 0; i < returned; ++i) WriteValue(json, values[static_cast<size_t>(i)], unit);
        json.EndArray().EndObject();
        ctx.out << "\n";
        return 0;
    }
    ctx.out << "head " << HeadName(head) << ": " << returned << " values"
            << (unit.name.empty() ? " (unit not known)" : " in " + unit.name) << "\n";
    if (csv) {
        ctx.out << "wrote " << *csv << "\n";
        return 0;
    }
    for (int i = 0; i < returned; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%6d  %s\n", i, FormatValue(values[static_cast<size_t>(i)], unit).c_str());
        ctx.out << line;
    }
    return 0;
}

}  // namespace

int RunStorage(Context& ctx) {
    if (ctx.args.words.empty()) throw UsageError{"missing storage action"};
    const std::string& action = ctx.args.words[0];
    // Options belong to one action each; reject the ones that do not fit.
    auto only = [&](std::initializer_list<const char*> allowed) {
        for (const auto& option : ctx.args.options) {
            bool ok = false;
            for (const char* a : allowed) ok = ok || option.first == a;
            if (!ok) throw UsageError{"storage " + action + " does not take --" + option.first};
        }
    };
    if (action == "setup") {
        only({"target", "count", "cycle"});
        return StorageSetup(ctx);
    }
    if (action == "start" || action == "stop") {
        only({});
        ExpectWords(ctx.args, 1, 1);
        const std::string when = trax::client::IsoTime(trax::client::WallClockNow());
        if (action == "start") {
            TRAXCTL_CALL(TRAX_DataStorageStart);
            StorageCapture() = {when, ""};
        } else {
            TRAXCTL_CALL(TRAX_DataStorageStop);
            StorageCapture().stop = when;
        }
        ctx.out << "storage " << (action == "start" ? "started" : "stopped") << "\n";
        return 0;
    }
    if (action == "status") {
        only({"json"});
        return StorageStatus(ctx);
    }
    if (action == "read") {
        only({"json", "max", "csv"});
        return StorageRead(ctx);
    }
    throw UsageError{"unknown storage action '" + action + "'"};
}

}  // namespace traxctl
