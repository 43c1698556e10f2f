#include "publish/Commands.h"

#include "client/Number.h"
#include "client/SettingTable.h"
#include "client/SettingsFile.h"
#include "publish/Messages.h"

namespace trax::publish {

using nlohmann::json;
namespace tc = trax::client;

namespace {

// Wrong input, thrown before the first library call, as the API words it.
struct BadInput {
    int status;
    std::string error;
};

struct TooDeep {};

const char* const kNames[] = {"settings", "settings-file", "settings-read", "zero",
                              "timing",   "reset",         "storage-start", "storage-stop"};

bool Has(const json& body, const char* key) { return body.contains(key) && !body[key].is_null(); }

void OnlyKeys(const json& body, std::initializer_list<const char*> allowed) {
    for (auto it = body.begin(); it != body.end(); ++it) {
        bool known = false;
        for (const char* a : allowed) known = known || it.key() == a;
        if (!known) throw BadInput{400, "unknown member '" + it.key().substr(0, 60) + "'"};
    }
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

int HeadFrom(const std::string& text, const char* what, bool allowBoth) {
    if (text == "A" || text == "a") return 0;
    if (text == "B" || text == "b") return 1;
    if (allowBoth && text == "both") return 2;
    throw BadInput{
        400, std::string(what) + ": '" + text.substr(0, 40) + "' is not " + (allowBoth ? "A, B or both" : "A or B")};
}

const char* HeadName(int head) { return head == 0 ? "A" : head == 1 ? "B" : "both"; }

json NamedValues(const tc::Setting& s, const std::vector<int>& values) {
    json out = json::object();
    for (int i = 0; i < s.arity && i < static_cast<int>(values.size()); ++i)
        out[s.fields[i].name] = values[static_cast<std::size_t>(i)];
    return out;
}

json RefJson(const tc::SettingRef& ref) {
    return {{"setting", ref.setting->name},
            {"head", ref.setting->scope == tc::Scope::Head ? json(HeadName(ref.head)) : json(nullptr)}};
}

CommandOutcome Failed(const tc::Failure& failure, json body = json::object()) {
    CommandOutcome out;
    out.status = 502;
    if (!body.contains("error")) body["error"] = failure.function + " failed";
    const json reason = FailureJson(failure);
    for (auto it = reason.begin(); it != reason.end(); ++it) body[it.key()] = it.value();
    out.body = body;
    return out;
}

CommandOutcome Done(json body) {
    CommandOutcome out;
    out.body = std::move(body);
    return out;
}

// Checked as POST /api/settings checks it.
CommandOutcome WriteSetting(const json& body, ControllerPort& controller) {
    OnlyKeys(body, {"setting", "head", "values"});
    const std::string name = StringMember(body, "setting");
    const tc::Setting* found = tc::FindSetting(name);
    if (found == nullptr) throw BadInput{400, "unknown setting '" + name.substr(0, 60) + "'"};
    const tc::Setting& s = *found;
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
            if (!known) throw BadInput{400, std::string(s.name) + " has no value '" + it.key().substr(0, 60) + "'"};
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
    if (words.size() != static_cast<std::size_t>(s.arity))
        throw BadInput{400, std::string(s.name) + " takes " + std::to_string(s.arity) + " value" +
                                (s.arity > 1 ? "s" : "") + ", got " + std::to_string(words.size())};
    std::vector<int> values;
    for (int i = 0; i < s.arity; ++i) {
        // The one number reader; the table's own range is checked below,
        // with the order of pairs.
        const std::string what = s.arity == 1 ? std::string(s.name) : std::string(s.name) + "." + s.fields[i].name;
        try {
            values.push_back(static_cast<int>(
                tc::ReadJsonInteger(words[static_cast<std::size_t>(i)], -2147483647LL - 1, 2147483647LL, what)));
        } catch (const tc::InputError& e) {
            throw BadInput{400, e.message};
        }
    }
    const std::string problem = tc::ValuesProblem(s, values);
    if (!problem.empty()) throw BadInput{400, std::string(s.name) + ": " + problem};
    std::optional<std::vector<int>> back;
    if (CallResult f = controller.WriteSetting(tc::SettingRef{&s, head}, values, &back)) return Failed(*f);
    json out = {{"setting", s.name},
                {"head", s.scope == tc::Scope::Head ? json(HeadName(head)) : json(nullptr)},
                {"values", NamedValues(s, back ? *back : values)},
                {"readBack", back.has_value()}};
    CommandOutcome done = Done(out);
    done.changedSettings = true;
    return done;
}

// Checked as POST /api/settings-file checks it (written, not a dry run).
CommandOutcome LoadFile(const std::string& payload, ControllerPort& controller) {
    tc::SettingsDocument doc;
    try {
        doc = tc::ParseSettings(payload);
    } catch (const tc::SettingsFileError& e) {
        throw BadInput{400, "settings file: " + e.message};
    }
    const tc::LoadReport report = controller.LoadSettings(doc);
    json written = json::array(), notWritten = json::array(), differences = json::array();
    for (const auto& r : report.written) written.push_back(RefJson(r));
    for (const auto& r : report.notWritten) notWritten.push_back(RefJson(r));
    for (const auto& d : report.differences) {
        json entry = RefJson(d.ref);
        entry["file"] = d.left ? NamedValues(*d.ref.setting, *d.left) : json(nullptr);
        entry["readBack"] = d.right ? NamedValues(*d.ref.setting, *d.right) : json(nullptr);
        differences.push_back(entry);
    }
    json body = {{"dryRun", false},
                 {"written", written},
                 {"notWritten", notWritten},
                 {"differences", differences},
                 {"backInMeasurement", report.backInMeasurement}};
    CommandOutcome out;
    if (report.Ok()) {
        out = Done(body);
    } else if (report.writeFailure) {
        body["error"] = "writing " + std::to_string(report.notWritten.size()) + " settings failed";
        out = Failed(*report.writeFailure, body);
    } else if (!report.readFailures.empty()) {
        body["error"] = "reading back failed";
        out = Failed(report.readFailures[0].failure, body);
    } else if (!report.backInMeasurement) {
        body["error"] = "the controller did not go back to measurement mode";
        out = Failed(report.modeFailure, body);
    } else {
        body["error"] = "values read back differ from the file";
        out.status = 409;
        out.body = body;
    }
    out.changedSettings = !report.written.empty();
    return out;
}

CommandOutcome Control(const std::string& name, const json& body, ControllerPort& controller) {
    if (name == "zero" || name == "timing") {
        OnlyKeys(body, {"head", "on"});
        const int head = HeadFrom(StringMember(body, "head"), "head", true);
        const int on = OnMember(body, "on") ? 1 : 0;
        if (CallResult f = name == "zero" ? controller.Zero(head, on) : controller.Timing(head, on)) return Failed(*f);
    } else if (name == "reset") {
        OnlyKeys(body, {"head"});
        const int head = HeadFrom(StringMember(body, "head"), "head", true);
        if (CallResult f = controller.Reset(head)) return Failed(*f);
    } else if (name == "storage-start" || name == "storage-stop") {
        OnlyKeys(body, {});
        const bool start = name == "storage-start";
        if (CallResult f = start ? controller.StorageStart() : controller.StorageStop()) return Failed(*f);
        CommandOutcome out = Done({{"storing", start}});
        out.storageStarted = start;
        out.storageStopped = !start;
        return out;
    } else if (name == "settings-read") {
        OnlyKeys(body, {});
        CommandOutcome out = Done({{"done", name}, {"interruptsMeasurement", true}});
        out.readSettings = true;
        return out;
    }
    return Done({{"done", name}});
}

}  // namespace

std::string CommandOutcome::Text() const {
    json out = body.is_object() ? body : json::object();
    out["status"] = status;
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

CommandOutcome Refused(int status, const std::string& error) {
    CommandOutcome out;
    out.status = status;
    out.body = {{"error", error}};
    return out;
}

std::string CommandName(const std::string& prefix, const std::string& topic) {
    const std::string base = prefix + "/cmd/";
    if (topic.size() <= base.size() || topic.compare(0, base.size(), base) != 0) return "";
    const std::string name = topic.substr(base.size());
    for (const char* known : kNames)
        if (name == known) return name;
    return "";
}

bool UsableResponseTopic(const std::string& topic) {
    if (topic.empty() || topic.size() > kMaxResponseTopic) return false;
    if (topic.find_first_of("#+") != std::string::npos || topic.find('\0') != std::string::npos) return false;
    for (char c : topic)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    // UTF-8: the JSON library's writer refuses anything else.
    try {
        (void)json(topic).dump();
    } catch (const json::exception&) {
        return false;
    }
    return true;
}

bool ParseBounded(const std::string& text, std::size_t limit, json& out, CommandOutcome& refusal) {
    if (text.size() > limit) {
        refusal = Refused(413, "request body too large");
        return false;
    }
    try {
        out = json::parse(text, [](int depth, json::parse_event_t, json&) {
            if (depth > kMaxDepth) throw TooDeep{};
            return true;
        });
    } catch (const TooDeep&) {
        refusal = Refused(400, "the body nests deeper than " + std::to_string(kMaxDepth) + " levels");
        return false;
    } catch (const json::exception&) {
        refusal = Refused(400, "the body is not valid JSON");
        return false;
    }
    if (!out.is_object()) {
        refusal = Refused(400, "the body must be a JSON object");
        return false;
    }
    return true;
}

CommandOutcome RunCommand(const std::string& name, const std::string& payload, ControllerPort& controller) {
    try {
        json body;
        CommandOutcome refusal;
        // An empty message is an empty request.
        const std::string& text = payload.empty() ? std::string("{}") : payload;
        if (!ParseBounded(text, name == "settings-file" ? kSettingsFileLimit : kCommandLimit, body, refusal))
            return refusal;
        if (name == "settings") return WriteSetting(body, controller);
        if (name == "settings-file") return LoadFile(text, controller);
        for (const char* known : kNames)
            if (name == known) return Control(name, body, controller);
        return Refused(404, "unknown command '" + name.substr(0, 40) +
                                "' (settings, settings-file, settings-read, zero, timing, reset, storage-start, "
                                "storage-stop)");
    } catch (const BadInput& e) {
        return Refused(e.status, e.error);
    } catch (const std::exception& e) {
        return Refused(500, std::string("internal error: ") + e.what());
    }
}

}  // namespace trax::publish
