#include "Api.h"

#include <trax.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>

#include "Cli.h"
#include "Identity.h"
#include "Metrics.h"
#include "Security.h"
#include "Units.h"
#include "client/JsonText.h"
#include "client/Number.h"
#include "client/SettingTable.h"
#include "client/SettingsAccess.h"
#include "client/SettingsFile.h"
#include "client/ValueText.h"

namespace traxserve {

using nlohmann::json;
namespace tc = trax::client;

namespace {

constexpr std::size_t kSmallBody = 16 * 1024;
// A file of every setting of both heads is about 3 KiB; this leaves room for
// comments and indentation, not for anything else.
constexpr std::size_t kSettingsFileBody = 256 * 1024;
constexpr int kProfileLength = 1024;
constexpr int kStorageMax = 65536;

// A float as the shortest text that reads back as the same float, then as a
// JSON number: nlohmann writes a double with the fewest digits that read it
// back, so "1.235" stays "1.235" instead of growing float noise.
json FloatJson(float value) { return std::strtod(tc::ValueText(value, -1).c_str(), nullptr); }

json ValueJson(const FloatValue& v) {
    json out = {{"status", tc::StatusName(v.status)}, {"value", nullptr}};
    if (v.status == TRAX_VALUE_VALID) out["value"] = FloatJson(v.value);
    return out;
}

json UnitJson(const std::string& unit) { return unit.empty() ? json(nullptr) : json(unit); }

// Every text that reaches a reply is made safe where it is echoed (Shown);
// replacing what is still not UTF-8 keeps dump() from ever throwing.
Reply JsonReply(const json& body, int status = 200) {
    Reply reply;
    reply.status = status;
    reply.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
    return reply;
}

// The members that say why a call failed, as every failure reply has them.
void AddFailure(json& body, const CallFailure& failure) {
    body["function"] = failure.function;
    body["reason"] = failure.reason;
    if (failure.errorNumber) body["errorNumber"] = *failure.errorNumber;
    if (!failure.hint.empty()) body["hint"] = failure.hint;
}

// --- input --------------------------------------------------------------

std::string Required(const Request& request, const char* name) {
    auto value = QueryValue(request.target, name);
    if (!value) throw BadInput{400, std::string("missing query parameter '") + name + "'"};
    return *value;
}

// 0 or 1 (2 with allowBoth); the message names the parameter.
int HeadFrom(const std::string& text, const char* what, bool allowBoth) {
    if (text == "A" || text == "a") return 0;
    if (text == "B" || text == "b") return 1;
    if (allowBoth && text == "both") return 2;
    throw BadInput{
        400, std::string(what) + ": '" + tc::Shown(text, 40) + "' is not " + (allowBoth ? "A, B or both" : "A or B")};
}

int IntFrom(const std::string& text, long long low, long long high, const std::string& what) {
    try {
        return static_cast<int>(tc::ReadInteger(text, low, high, what));
    } catch (const tc::InputError& e) {
        throw BadInput{400, e.message};
    }
}

json Body(const Request& request) {
    json body;
    try {
        // Depth limited while parsing: nothing deeper is ever built or walked.
        body = tc::ParseJson(request.body);
    } catch (const tc::InputError& e) {
        throw BadInput{400, "the body is not valid JSON: " + e.message};
    }
    if (!body.is_object()) throw BadInput{400, "the body must be a JSON object"};
    return body;
}

// Every member the body may have: anything else is a typo the caller should hear about.
void OnlyKeys(const json& body, std::initializer_list<const char*> allowed) {
    for (auto it = body.begin(); it != body.end(); ++it) {
        bool known = false;
        for (const char* a : allowed) known = known || it.key() == a;
        if (!known) throw BadInput{400, "unknown member '" + tc::Shown(it.key(), 60) + "'"};
    }
}

bool Has(const json& body, const char* key) { return body.contains(key) && !body[key].is_null(); }

// A JSON integer within [low, high], checked before any conversion.
int IntIn(const json& value, long long low, long long high, const std::string& what) {
    try {
        return static_cast<int>(tc::ReadJsonInteger(value, low, high, what));
    } catch (const tc::InputError& e) {
        throw BadInput{400, e.message};
    }
}

int IntMember(const json& body, const char* key, long long low, long long high) {
    if (!Has(body, key)) throw BadInput{400, std::string("missing member '") + key + "'"};
    return IntIn(body[key], low, high, key);
}

std::string StringMember(const json& body, const char* key) {
    if (!Has(body, key)) throw BadInput{400, std::string("missing member '") + key + "'"};
    if (!body[key].is_string()) throw BadInput{400, std::string(key) + ": a string is needed"};
    return body[key].get<std::string>();
}

bool OnMember(const json& body, const char* key) {
    if (!Has(body, key)) throw BadInput{400, std::string("missing member '") + key + "'"};
    if (!body[key].is_boolean()) throw BadInput{400, std::string(key) + ": true or false is needed"};
    return body[key].get<bool>();
}

// --- routes -------------------------------------------------------------

Reply Info(ApiContext& ctx, const Request&) {
    json settings = json::array();
    for (const tc::Setting& s : tc::SettingTable()) {
        json fields = json::array();
        for (int i = 0; i < s.arity; ++i)
            fields.push_back({{"name", s.fields[i].name}, {"low", s.fields[i].low}, {"high", s.fields[i].high}});
        settings.push_back({{"name", s.name},
                            {"scope", s.scope == tc::Scope::Head ? "head" : "controller"},
                            {"fields", fields},
                            {"readable", s.get != nullptr},
                            {"ordered", s.ordered},
                            {"about", s.about}});
    }
    return JsonReply({{"version", ctx.version},
                      {"readOnly", ctx.readOnly},
                      {"rate", ctx.device->RateHz()},
                      {"unit", UnitJson(ctx.unit)},
                      // traxctl serve --record FILE: the library records every exchange.
                      {"recording", std::getenv("TRAX_RECORD") != nullptr && *std::getenv("TRAX_RECORD") != '\0'},
                      {"settings", settings}});
}

// Both heads' values; the live poll leaves its many successes out of the log.
json BothValues(Device& device, const std::string& unit, bool logSuccess) {
    FloatValue a{}, b{};
    device.Call(
        "TRAX_GetCalcData", [&] { return TRAX_GetCalcData(&a, &b); }, logSuccess);
    return {{"A", ValueJson(a)}, {"B", ValueJson(b)}, {"unit", UnitJson(unit)}};
}

Reply Values(ApiContext& ctx, const Request&) { return JsonReply(BothValues(*ctx.device, ctx.unit, true)); }

Reply Figure(ApiContext& ctx, const Request& request) {
    const int head = HeadFrom(Required(request, "head"), "head", false);
    FigureData f{};
    TRAXSERVE_CALL(*ctx.device, TRAX_GetFigureData, head, &f);
    json values = json::array(), integers = json::array();
    for (const FloatValue& v : f.values) values.push_back(ValueJson(v));
    for (int n : f.integers) integers.push_back(n);
    return JsonReply(
        {{"head", traxctl::HeadName(head)}, {"unit", UnitJson(ctx.unit)}, {"values", values}, {"integers", integers}});
}

Reply ClearFigure(ApiContext& ctx, const Request& request) {
    OnlyKeys(Body(request), {});
    TRAXSERVE_CALL(*ctx.device, TRAX_ClearFigureData);
    return JsonReply({{"cleared", true}});
}

Reply Light(ApiContext& ctx, const Request& request) {
    const int head = HeadFrom(Required(request, "head"), "head", false);
    int selector = 0;
    if (auto s = QueryValue(request.target, "selector")) selector = IntFrom(*s, 0, 3, "selector");
    LightData light{};
    int extra = 0;
    unsigned char profile[kProfileLength] = {};
    TRAXSERVE_CALL(*ctx.device, TRAX_GetLight, head, selector, &light, &extra, profile);
    json figures = json::array(), points = json::array();
    for (int v : light.values) figures.push_back(v);
    for (unsigned char p : profile) points.push_back(p);
    return JsonReply({{"head", traxctl::HeadName(head)},
                      {"selector", selector},
                      {"light", figures},
                      {"extra", extra},
                      {"profile", points}});
}

Reply StorageStatus(ApiContext& ctx, const Request&) {
    int storing = 0, counts[2] = {0, 0};
    for (int h = 0; h < 2; ++h) TRAXSERVE_CALL(*ctx.device, TRAX_DataStorageGetStatus, h, &storing, &counts[h]);
    return JsonReply({{"storing", storing != 0}, {"A", counts[0]}, {"B", counts[1]}});
}

Reply StorageSetup(ApiContext& ctx, const Request& request) {
    const json body = Body(request);
    OnlyKeys(body, {"target", "count", "cycle"});
    const tc::Field* fields = tc::StorageSetting().fields;
    bool given[3] = {false, false, false};
    int values[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (Has(body, fields[i].name)) {
            values[i] = IntMember(body, fields[i].name, fields[i].low, fields[i].high);
            given[i] = true;
        }
    }
    // Same as traxctl storage setup: unnamed values keep what the controller holds.
    int current[3] = {0, 0, 0};
    TRAXSERVE_CALL(*ctx.device, TRAX_GetDataStorage, &current[0], &current[1], &current[2]);
    for (int i = 0; i < 3; ++i) {
        if (given[i]) current[i] = values[i];
    }
    if (given[0] || given[1] || given[2])
        TRAXSERVE_CALL(*ctx.device, TRAX_SetDataStorage, current[0], current[1], current[2]);
    TRAXSERVE_CALL(*ctx.device, TRAX_DataStorageInit);
    return JsonReply({{"target", current[0]}, {"count", current[1]}, {"cycle", current[2]}});
}

Reply StorageStart(ApiContext& ctx, const Request& request) {
    OnlyKeys(Body(request), {});
    TRAXSERVE_CALL(*ctx.device, TRAX_DataStorageStart);
    ctx.storageStart = tc::IsoTime(std::chrono::system_clock::now());
    ctx.storageStop.clear();
    return JsonReply({{"storing", true}});
}

Reply StorageStop(ApiContext& ctx, const Request& request) {
    OnlyKeys(Body(request), {});
    TRAXSERVE_CALL(*ctx.device, TRAX_DataStorageStop);
    ctx.storageStop = tc::IsoTime(std::chrono::system_clock::now());
    return JsonReply({{"storing", false}});
}

Reply StorageData(ApiContext& ctx, const Request& request) {
    const int head = HeadFrom(Required(request, "head"), "head", false);
    int maxCount = kStorageMax;
    if (auto m = QueryValue(request.target, "max")) maxCount = IntFrom(*m, 1, kStorageMax, "max");
    std::string format = QueryValue(request.target, "format").value_or("json");
    if (format != "json" && format != "csv")
        throw BadInput{400, "format: '" + tc::Shown(format, 20) + "' is not json or csv"};
    std::vector<FloatValue> values(static_cast<size_t>(maxCount));
    int returned = 0;
    TRAXSERVE_CALL(*ctx.device, TRAX_DataStorageGetData, head, maxCount, values.data(), &returned);
    if (returned < 0 || returned > maxCount) returned = 0;
    const traxctl::DisplayUnit unit{ctx.unit, -1};
    if (format == "csv") {
        // The same file as traxctl storage read --csv (the sampling cycle
        // would cost a switch to setting mode, so it stays unknown, as there).
        const std::string csv =
            traxctl::StorageCsv(head, unit, values.data(), returned, ctx.storageStart, ctx.storageStop, "");
        Reply reply;
        reply.contentType = "text/csv; charset=utf-8";
        reply.body = csv;
        reply.headers["Content-Disposition"] =
            std::string("attachment; filename=\"storage-") + traxctl::HeadName(head) + ".csv\"";
        return reply;
    }
    json list = json::array();
    for (int i = 0; i < returned; ++i) list.push_back(ValueJson(values[static_cast<size_t>(i)]));
    return JsonReply(
        {{"head", traxctl::HeadName(head)}, {"unit", UnitJson(ctx.unit)}, {"count", returned}, {"values", list}});
}

// --- settings -----------------------------------------------------------

// {"min": 10, "max": 90}: a setting's values named as in the setting table.
json NamedValues(const tc::Setting& s, const int* values) {
    json out = json::object();
    for (int i = 0; i < s.arity; ++i) out[s.fields[i].name] = values[i];
    return out;
}

const tc::Setting& SettingNamed(const std::string& name) {
    const tc::Setting* s = tc::FindSetting(name);
    if (s == nullptr) throw BadInput{400, "unknown setting '" + tc::Shown(name, 60) + "'"};
    return *s;
}

json ReadSetting(Device& device, const tc::Setting& s, int head) {
    int values[4] = {0, 0, 0, 0};
    device.Call(s.getterName, [&] { return s.get(head, values); });
    json out = {{"setting", s.name}, {"head", nullptr}, {"values", NamedValues(s, values)}};
    if (s.scope == tc::Scope::Head) out["head"] = traxctl::HeadName(head);
    return out;
}

Reply GetSettings(ApiContext& ctx, const Request& request) {
    auto name = QueryValue(request.target, "setting");
    auto headText = QueryValue(request.target, "head");
    std::vector<std::pair<const tc::Setting*, int>> entries;
    if (name) {
        const tc::Setting& s = SettingNamed(*name);
        if (s.get == nullptr) throw BadInput{400, std::string(s.name) + " can be written but not read"};
        if (s.scope == tc::Scope::Controller) {
            if (headText) throw BadInput{400, std::string(s.name) + " belongs to the controller and takes no head"};
            entries.push_back({&s, 0});
        } else if (headText) {
            entries.push_back({&s, HeadFrom(*headText, "head", false)});
        } else {
            entries = {{&s, 0}, {&s, 1}};
        }
    } else {
        if (headText) throw BadInput{400, "head goes with setting"};
        for (const tc::Setting& s : tc::SettingTable()) {
            if (s.get == nullptr) continue;
            entries.push_back({&s, 0});
            if (s.scope == tc::Scope::Head) entries.push_back({&s, 1});
        }
    }
    json list = json::array();
    for (const auto& e : entries) list.push_back(ReadSetting(*ctx.device, *e.first, e.second));
    return JsonReply({{"settings", list}});
}

Reply SetSetting(ApiContext& ctx, const Request& request) {
    const json body = Body(request);
    OnlyKeys(body, {"setting", "head", "values"});
    const tc::Setting& s = SettingNamed(StringMember(body, "setting"));
    int head = 0;
    if (s.scope == tc::Scope::Head) {
        head = HeadFrom(StringMember(body, "head"), "head", false);
    } else if (Has(body, "head")) {
        throw BadInput{400, std::string(s.name) + " belongs to the controller and takes no head"};
    }
    if (!Has(body, "values")) throw BadInput{400, "missing member 'values'"};
    const json& given = body["values"];
    std::vector<json> words;
    if (given.is_object()) {
        for (auto it = given.begin(); it != given.end(); ++it) {
            bool known = false;
            for (int i = 0; i < s.arity; ++i) known = known || it.key() == s.fields[i].name;
            if (!known) throw BadInput{400, std::string(s.name) + " has no value '" + tc::Shown(it.key(), 60) + "'"};
        }
        for (int i = 0; i < s.arity; ++i) {
            if (!given.contains(s.fields[i].name))
                throw BadInput{400, std::string(s.name) + ": missing value '" + s.fields[i].name + "'"};
            words.push_back(given[s.fields[i].name]);
        }
    } else if (given.is_array()) {
        for (const json& v : given) words.push_back(v);
    } else if (given.is_number_integer() && s.arity == 1) {
        words.push_back(given);
    } else {
        throw BadInput{400, "values: an object of named values, or an array, is needed"};
    }
    if (words.size() != static_cast<size_t>(s.arity))
        throw BadInput{400, std::string(s.name) + " takes " + std::to_string(s.arity) + " value" +
                                (s.arity > 1 ? "s" : "") + ", got " + std::to_string(words.size())};
    std::vector<int> values;
    for (int i = 0; i < s.arity; ++i) {
        // Each value within the table's range; the order of pairs is checked below.
        const std::string what = s.arity == 1 ? std::string(s.name) : std::string(s.name) + "." + s.fields[i].name;
        values.push_back(IntIn(words[static_cast<size_t>(i)], s.fields[i].low, s.fields[i].high, what));
    }
    // The one check of ranges and of the order of Able min/max, shared with
    // traxctl and settings files.
    // A setting of one value names it as the setting: "offset: 1000000 is out
    // of range", not "offset: offset: ...".
    const std::string problem = tc::ValuesProblem(s, values);
    if (!problem.empty()) {
        const bool named = problem.rfind(std::string(s.name) + ":", 0) == 0;
        throw BadInput{400, named ? problem : std::string(s.name) + ": " + problem};
    }
    ctx.device->Call(s.setterName, [&] { return s.set(head, values.data()); });
    if (s.get == nullptr) {
        return JsonReply(
            {{"setting", s.name}, {"head", nullptr}, {"values", NamedValues(s, values.data())}, {"readBack", false}});
    }
    json out = ReadSetting(*ctx.device, s, head);
    out["readBack"] = true;
    return JsonReply(out);
}

// --- settings files ------------------------------------------------------

json RefJson(const tc::SettingRef& ref) {
    return {{"setting", ref.setting->name},
            {"head", ref.setting->scope == tc::Scope::Head ? json(traxctl::HeadName(ref.head)) : json(nullptr)}};
}

json ValuesJson(const tc::Setting& s, const std::optional<std::vector<int>>& values) {
    if (!values) return nullptr;
    return NamedValues(s, values->data());
}

json DifferencesJson(const std::vector<tc::SettingsDifference>& differences, const char* left, const char* right) {
    json list = json::array();
    for (const auto& d : differences) {
        json entry = RefJson(d.ref);
        entry[left] = ValuesJson(*d.ref.setting, d.left);
        entry[right] = ValuesJson(*d.ref.setting, d.right);
        list.push_back(entry);
    }
    return list;
}

// The settings layer calls the library itself, not through Device::Call:
// while one of its calls is in hand, each of its library calls is counted and
// logged as the device's own are.
tc::NoteCalls LogCallsOf(Device& device) {
    return tc::NoteCalls([&device](const char* function, const tc::Failure* failure) {
        device.Note(function, failure == nullptr, failure ? WithReason(*failure).reason : std::string());
    });
}

Reply FailuresReply(const std::vector<tc::SettingValue>& failures, json extra = json::object()) {
    json list = json::array();
    for (const auto& f : failures) {
        json entry = RefJson(f.ref);
        AddFailure(entry, WithReason(f.failure));
        list.push_back(entry);
    }
    extra["error"] =
        std::to_string(failures.size()) + " setting" + (failures.size() == 1 ? "" : "s") + " could not be read";
    extra["function"] = list[0]["function"];
    extra["reason"] = list[0]["reason"];
    extra["failures"] = list;
    return JsonReply(extra, 502);
}

// The controller's settings as a settings file, for download.
Reply GetSettingsFile(ApiContext& ctx, const Request&) {
    std::vector<tc::SettingValue> failures;
    const tc::NoteCalls logged = LogCallsOf(*ctx.device);
    Device& device = *ctx.device;
    tc::SettingsDocument doc =
        tc::ReadController(tc::FileSettings(), &failures, {}, [&device] { return device.StopRequested(); });
    if (device.StopRequested()) throw BadInput{503, "the server is stopping (Ctrl-C): no file"};
    // Half a setup saved as if it were whole would be loaded back as one: no file then.
    if (!failures.empty()) return FailuresReply(failures);
    // The library's own version, as traxctl settings save writes it.
    doc.library = traxctl::LibraryVersion();
    Reply reply;
    reply.body = tc::SettingsJson(doc);
    reply.headers["Content-Disposition"] = "attachment; filename=\"settings.json\"";
    return reply;
}

// A settings file: checked whole, then compared with the controller (dry
// run) or written with every value read back.
Reply PutSettingsFile(ApiContext& ctx, const Request& request) {
    tc::SettingsDocument doc;
    try {
        doc = tc::ParseSettings(request.body);
    } catch (const tc::SettingsFileError& e) {
        throw BadInput{400, "settings file: " + e.message};
    }
    Device& device = *ctx.device;
    const auto stop = [&device] { return device.StopRequested(); };
    const tc::NoteCalls logged = LogCallsOf(device);
    const std::string dry = QueryValue(request.target, "dry_run").value_or("0");
    if (dry != "0" && dry != "1") throw BadInput{400, "dry_run: '" + tc::Shown(dry, 10) + "' is not 0 or 1"};
    if (dry == "1") {
        std::vector<tc::SettingRef> refs;
        for (const auto& e : doc.entries) refs.push_back(e.ref);
        std::vector<tc::SettingValue> failures;
        tc::SettingsDocument current = tc::ReadController(refs, &failures, {}, stop);
        if (device.StopRequested()) throw BadInput{503, "the server is stopping (Ctrl-C): nothing compared"};
        if (!failures.empty()) return FailuresReply(failures, {{"dryRun", true}});
        current.program.reset();
        doc.program.reset();
        return JsonReply({{"dryRun", true},
                          {"settings", doc.entries.size()},
                          {"differences", DifferencesJson(tc::DiffSettings(current, doc), "controller", "file")}});
    }
    // Ctrl-C stops the load at the next setting; what was written is still
    // read back and the controller goes back to measuring.
    const tc::LoadReport report = tc::LoadIntoController(doc, {}, stop);
    json written = json::array(), notWritten = json::array();
    for (const auto& r : report.written) written.push_back(RefJson(r));
    for (const auto& r : report.notWritten) notWritten.push_back(RefJson(r));
    json body = {{"dryRun", false},
                 {"written", written},
                 {"notWritten", notWritten},
                 {"differences", DifferencesJson(report.differences, "file", "readBack")},
                 {"backInMeasurement", report.backInMeasurement}};
    // Done only when every setting of the file was written and read back
    // equal, and the controller measures again: as traxctl settings load.
    if (report.Ok() && report.notWritten.empty() && !report.stopped && report.written.size() == doc.entries.size())
        return JsonReply(body);
    CallFailure failure;
    if (!report.enteredSettingMode) {
        failure = WithReason(report.modeFailure);
        body["error"] = "the controller did not enter setting mode: nothing was written";
    } else if (report.writeFailure) {
        failure = WithReason(*report.writeFailure);
        body["error"] = "writing " + std::to_string(report.notWritten.size()) + " settings failed";
    } else if (!report.readFailures.empty()) {
        failure = WithReason(report.readFailures[0].failure);
        body["error"] = "reading back failed";
    } else if (!report.backInMeasurement) {
        failure = WithReason(report.modeFailure);
        body["error"] = "the controller did not go back to measurement mode";
    } else if (report.stopped) {
        body["error"] = "stopped by Ctrl-C after " + std::to_string(report.written.size()) + " of " +
                        std::to_string(doc.entries.size()) + " settings; the controller measures again";
        return JsonReply(body, 503);
    } else {
        body["error"] = "values read back differ from the file";
        return JsonReply(body, 409);
    }
    AddFailure(body, failure);
    return JsonReply(body, 502);
}

// --- control ------------------------------------------------------------

Reply GetControl(ApiContext& ctx, const Request&) {
    int panel = -1, program = 0;
    TRAXSERVE_CALL(*ctx.device, TRAX_GetPanel, &panel);
    TRAXSERVE_CALL(*ctx.device, TRAX_GetProgramNo, &program);
    return JsonReply(
        {{"panel", panel >= 0 && panel <= 2 ? json(traxctl::HeadName(panel)) : json(nullptr)}, {"program", program}});
}

Reply Control(ApiContext& ctx, const Request& request) {
    const json body = Body(request);
    const std::string action = StringMember(body, "action");
    Device& d = *ctx.device;
    if (action == "zero" || action == "timing") {
        OnlyKeys(body, {"action", "head", "on"});
        const int head = HeadFrom(StringMember(body, "head"), "head", true);
        const int on = OnMember(body, "on") ? 1 : 0;
        if (action == "zero")
            TRAXSERVE_CALL(d, TRAX_SetZero, head, on);
        else
            TRAXSERVE_CALL(d, TRAX_SetTiming, head, on);
    } else if (action == "reset") {
        OnlyKeys(body, {"action", "head"});
        const int head = HeadFrom(StringMember(body, "head"), "head", true);
        TRAXSERVE_CALL(d, TRAX_SetReset, head);
    } else if (action == "panel") {
        OnlyKeys(body, {"action", "head"});
        const int panel = HeadFrom(StringMember(body, "head"), "head", true);
        TRAXSERVE_CALL(d, TRAX_SetPanel, panel);
    } else if (action == "lock") {
        OnlyKeys(body, {"action", "on"});
        const int on = OnMember(body, "on") ? 1 : 0;
        TRAXSERVE_CALL(d, TRAX_SetPanelLock, on);
    } else if (action == "program") {
        OnlyKeys(body, {"action", "number"});
        const int number = IntMember(body, "number", 0, 7);
        TRAXSERVE_CALL(d, TRAX_SetProgramNo, number);
    } else if (action == "able-start") {
        OnlyKeys(body, {"action", "head"});
        const int head = HeadFrom(StringMember(body, "head"), "head", false);
        TRAXSERVE_CALL(d, TRAX_AbleStart, head);
    } else if (action == "able-stop") {
        OnlyKeys(body, {"action"});
        TRAXSERVE_CALL(d, TRAX_AbleStop);
    } else if (action == "able-cancel") {
        OnlyKeys(body, {"action"});
        TRAXSERVE_CALL(d, TRAX_AbleCancel);
    } else if (action == "mode") {
        OnlyKeys(body, {"action", "mode"});
        const std::string mode = StringMember(body, "mode");
        if (mode != "measure" && mode != "setting")
            throw BadInput{400, "mode: '" + tc::Shown(mode, 20) + "' is not measure or setting"};
        TRAXSERVE_CALL(d, TRAX_SetMode, mode == "setting" ? 1 : 0);
    } else {
        throw BadInput{400, "unknown action '" + tc::Shown(action, 40) +
                                "' (zero, timing, reset, panel, lock, program, able-start, able-stop, able-cancel, "
                                "mode)"};
    }
    return JsonReply({{"done", action}});
}

Reply Log(ApiContext& ctx, const Request& request) {
    unsigned long long after = 0;
    if (auto a = QueryValue(request.target, "after"))
        after = static_cast<unsigned long long>(IntFrom(*a, 0, 2147483647, "after"));
    json calls = json::array();
    for (const LogEntry& e : ctx.device->RecentCalls(after)) {
        json entry = {{"seq", e.sequence}, {"t", e.seconds}, {"function", e.function}, {"ok", e.ok}};
        if (!e.ok) entry["reason"] = e.reason;
        calls.push_back(entry);
    }
    return JsonReply({{"calls", calls}});
}

// Health of the server itself, for the load check: calls made, overlaps
// (must stay 0), polls, viewers.
Reply Status(ApiContext& ctx, const Request&) {
    const Device& d = *ctx.device;
    return JsonReply({{"uptime", d.Uptime()},
                      {"calls", d.CallCount()},
                      {"overlaps", d.Overlaps()},
                      {"polls", d.Polls()},
                      {"viewers", d.Viewers()},
                      {"rate", d.RateHz()}});
}

}  // namespace

const std::vector<Route>& Routes() {
    static const std::vector<Route> kRoutes = {
        {"GET", "/api/info", false, 0, Info},
        {"GET", "/api/status", false, 0, Status},
        {"GET", "/api/values", false, 0, Values},
        {"GET", "/api/figure", false, 0, Figure},
        {"POST", "/api/figure/clear", true, kSmallBody, ClearFigure},
        {"GET", "/api/light", false, 0, Light},
        {"GET", "/api/storage/status", false, 0, StorageStatus},
        {"POST", "/api/storage/setup", true, kSmallBody, StorageSetup},
        {"POST", "/api/storage/start", true, kSmallBody, StorageStart},
        {"POST", "/api/storage/stop", true, kSmallBody, StorageStop},
        {"GET", "/api/storage/data", false, 0, StorageData},
        {"GET", "/api/settings", false, 0, GetSettings, true},
        {"POST", "/api/settings", true, kSmallBody, SetSetting},
        {"GET", "/api/settings-file", false, 0, GetSettingsFile, true},
        {"POST", "/api/settings-file", true, kSettingsFileBody, PutSettingsFile},
        {"GET", "/api/control", false, 0, GetControl, true},
        {"POST", "/api/control", true, kSmallBody, Control},
        {"GET", "/api/log", false, 0, Log},
        {"GET", "/metrics", false, 0, MetricsRoute},
    };
    return kRoutes;
}

const Route* FindRoute(const std::string& method, const std::string& path) {
    for (const Route& r : Routes()) {
        if (path == r.path && method == r.method) return &r;
    }
    return nullptr;
}

std::string MethodsOf(const std::string& path) {
    std::string methods;
    for (const Route& r : Routes()) {
        if (path == r.path) methods += (methods.empty() ? "" : ", ") + std::string(r.method);
    }
    return methods;
}

Reply ErrorReply(int status, const std::string& error) { return JsonReply({{"error", error}}, status); }

Reply FailureReply(const CallFailure& failure) {
    json body = {{"error", failure.function + " failed"}};
    AddFailure(body, failure);
    return JsonReply(body, 502);
}

Reply Handle(const Route& route, ApiContext& context, const Request& request) {
    // Whatever a handler throws ends this request, never the server.
    try {
        return route.handle(context, request);
    } catch (const BadInput& e) {
        return ErrorReply(e.status, e.error);
    } catch (const tc::InputError& e) {
        return ErrorReply(400, e.message);
    } catch (const CallFailure& f) {
        return FailureReply(f);
    } catch (const std::exception& e) {
        return ErrorReply(500, "internal error: " + tc::Shown(e.what(), 200));
    } catch (...) {
        return ErrorReply(500, "internal error");
    }
}

std::string PollValues(Device& device, const std::string& unit) {
    json values = BothValues(device, unit, false);
    values["t"] = device.Uptime();
    return values.dump();
}

}  // namespace traxserve
