#include "SettingsFile.h"

#include <trax.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "AtomicFile.h"
#include "JsonText.h"
#include "Number.h"
#include "ValueText.h"

namespace trax::client {

namespace {

using Json = nlohmann::ordered_json;

const char* const kHeadNames[2] = {"A", "B"};

[[noreturn]] void Refuse(const std::string& key, const std::string& why) {
    throw SettingsFileError{key.empty() ? why : key + ": " + why};
}

// Walks parsed-good text once more, without building anything, and refuses a
// key given twice in one object, naming it: the parsed object would keep only
// one of them, unseen.
class DuplicateKeys : public nlohmann::json_sax<Json> {
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return Open(); }
    bool start_array(std::size_t) override { return Open(); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        key_ = key;
        if (!frames_.back().keys.insert(key).second) {
            std::string path;
            for (size_t i = 1; i < frames_.size(); ++i) path += frames_[i].name + ".";
            Refuse(path + key, "given twice; each key may appear once");
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool Open() {
        frames_.push_back({{}, key_});
        return true;
    }
    bool Close() {
        frames_.pop_back();
        return true;
    }
    struct Frame {
        std::set<std::string> keys;
        std::string name;
    };
    std::vector<Frame> frames_;
    std::string key_;
};

// A whole number within int, not a bool or a float.
int IntegerAt(const Json& value, const std::string& key) {
    try {
        return static_cast<int>(ReadJsonInteger(value, -2147483647LL - 1, 2147483647LL, key));
    } catch (const InputError& e) {
        throw SettingsFileError{e.message};
    }
}

std::vector<int> ValuesAt(const Setting& s, const Json& value, const std::string& key) {
    std::vector<int> values;
    if (s.arity == 1) {
        values.push_back(IntegerAt(value, key));
    } else {
        if (!value.is_object()) {
            std::string names;
            for (int i = 0; i < s.arity; ++i) names += std::string(i ? ", " : "") + "\"" + s.fields[i].name + "\"";
            Refuse(key, "an object with " + names + " is expected");
        }
        for (auto it = value.begin(); it != value.end(); ++it) {
            bool known = false;
            for (int i = 0; i < s.arity; ++i) known = known || it.key() == s.fields[i].name;
            if (!known) Refuse(key + "." + Shown(it.key(), 40), "no such value of " + std::string(s.name));
        }
        for (int i = 0; i < s.arity; ++i) {
            const std::string fieldKey = key + "." + s.fields[i].name;
            auto it = value.find(s.fields[i].name);
            if (it == value.end()) Refuse(fieldKey, "missing");
            values.push_back(IntegerAt(*it, fieldKey));
        }
    }
    const std::string problem = ValuesProblem(s, values);
    if (!problem.empty()) Refuse(key, s.arity == 1 ? problem.substr(problem.find(": ") + 2) : problem);
    return values;
}

// One section ("heads.A" or "system"): each member a setting of that scope.
void ReadSection(const Json& section, const std::string& key, Scope scope, int head,
                 std::vector<SettingsEntry>& entries) {
    if (!section.is_object()) Refuse(key, "an object is expected");
    for (auto it = section.begin(); it != section.end(); ++it) {
        const std::string settingKey = key + "." + Shown(it.key(), 40);
        const Setting* s = FindSetting(it.key());
        if (s == nullptr) Refuse(settingKey, "no such setting");
        if (s->scope != scope) {
            Refuse(settingKey, scope == Scope::Head ? "belongs to the controller, not to a head (put it in \"system\")"
                                                    : "belongs to a head (put it in \"heads\")");
        }
        if (!s->Readable()) Refuse(settingKey, "can be written but not read back, so it has no place in a file");
        if (std::string(s->name) == "program") {
            Refuse(settingKey, "the program number is where the settings belong, not one of them (see \"program\")");
        }
        entries.push_back({{s, head}, ValuesAt(*s, it.value(), settingKey)});
    }
}

// Table order, head A before B, whatever order the file had.
void SortEntries(std::vector<SettingsEntry>& entries) {
    std::vector<SettingsEntry> sorted;
    for (const Setting& s : SettingTable()) {
        for (int h = 0; h <= 1; ++h) {
            for (const SettingsEntry& e : entries) {
                if (e.ref.setting == &s && e.ref.head == h) sorted.push_back(e);
            }
        }
    }
    entries.swap(sorted);
}

Json ValuesJson(const Setting& s, const std::vector<int>& values) {
    if (s.arity == 1) return values[0];
    Json object = Json::object();
    for (int i = 0; i < s.arity; ++i) object[s.fields[i].name] = values[static_cast<size_t>(i)];
    return object;
}

}  // namespace

std::vector<SettingRef> FileSettings() {
    std::vector<SettingRef> refs;
    for (const SettingRef& ref : ReadableSettings()) {
        if (std::string(ref.setting->name) != "program") refs.push_back(ref);
    }
    return refs;
}

const SettingsEntry* SettingsDocument::Find(const SettingRef& ref) const {
    for (const SettingsEntry& e : entries) {
        if (e.ref == ref) return &e;
    }
    return nullptr;
}

SettingsDocument ParseSettings(const std::string& text) {
    if (text.size() > kMaxSettingsFileBytes) {
        Refuse("", "too large for a settings file (at most " + std::to_string(kMaxSettingsFileBytes) + " bytes)");
    }
    Json root;
    try {
        root = ParseOrderedJson(text);
    } catch (const InputError& e) {
        Refuse("", "not JSON: " + e.message);
    }
    DuplicateKeys duplicates;
    (void)Json::sax_parse(text, &duplicates);
    if (!root.is_object()) Refuse("", "a JSON object is expected");
    auto format = root.find("format");
    if (format == root.end())
        Refuse("format", "missing; a settings file says \"format\": \"" + std::string(kSettingsFormat) + "\"");
    if (!format->is_string() || format->get<std::string>() != kSettingsFormat) {
        Refuse("format", TypeInWords(*format) + " is not \"" + std::string(kSettingsFormat) + "\"");
    }
    auto version = root.find("version");
    if (version == root.end()) Refuse("version", "missing");
    if (!version->is_number_integer() || version->get<long long>() != kSettingsVersion) {
        Refuse("version", TypeInWords(*version) + " is not a version this program reads (" +
                              std::to_string(kSettingsVersion) + ")");
    }
    SettingsDocument doc;
    for (auto it = root.begin(); it != root.end(); ++it) {
        const std::string& key = it.key();
        const Json& value = it.value();
        if (key == "format" || key == "version") continue;
        if (key == "written" || key == "library") {
            if (!value.is_string()) Refuse(key, "a string is expected");
            (key == "written" ? doc.written : doc.library) = value.get<std::string>();
        } else if (key == "program") {
            const Setting* program = FindSetting("program");
            const int n = IntegerAt(value, key);
            if (program && (n < program->fields[0].low || n > program->fields[0].high)) {
                Refuse(key, std::to_string(n) + " is out of range " + std::to_string(program->fields[0].low) + ".." +
                                std::to_string(program->fields[0].high));
            }
            doc.program = n;
        } else if (key == "heads") {
            if (!value.is_object()) Refuse(key, "an object with \"A\" and \"B\" is expected");
            for (auto head = value.begin(); head != value.end(); ++head) {
                int h = head.key() == "A" ? 0 : head.key() == "B" ? 1 : -1;
                if (h < 0) Refuse("heads." + Shown(head.key(), 40), "no such head (A or B)");
                ReadSection(head.value(), "heads." + head.key(), Scope::Head, h, doc.entries);
            }
        } else if (key == "system") {
            ReadSection(value, key, Scope::Controller, 0, doc.entries);
        } else {
            Refuse(Shown(key, 40), "not part of a settings file");
        }
    }
    SortEntries(doc.entries);
    return doc;
}

std::string SettingsJson(const SettingsDocument& doc) {
    Json root = Json::object();
    root["format"] = kSettingsFormat;
    root["version"] = kSettingsVersion;
    if (!doc.written.empty()) root["written"] = doc.written;
    if (!doc.library.empty()) root["library"] = doc.library;
    if (doc.program) root["program"] = *doc.program;
    Json heads = Json::object();
    Json system = Json::object();
    for (const SettingsEntry& e : doc.entries) {
        if (e.ref.setting->scope == Scope::Head) {
            heads[kHeadNames[e.ref.head]][e.ref.setting->name] = ValuesJson(*e.ref.setting, e.values);
        } else {
            system[e.ref.setting->name] = ValuesJson(*e.ref.setting, e.values);
        }
    }
    if (!heads.empty()) root["heads"] = heads;
    if (!system.empty()) root["system"] = system;
    return root.dump(2) + "\n";
}

SettingsDocument LoadSettingsFile(const std::string& path) {
    std::string error;
    // Refused before it is read whole: a huge file costs no memory.
    const std::string text = ReadWholeFile(path, &error, kMaxSettingsFileBytes + 1);
    if (!error.empty()) throw SettingsFileError{error};
    try {
        return ParseSettings(text);
    } catch (const SettingsFileError& e) {
        throw SettingsFileError{path + ": " + e.message};
    }
}

void SaveSettingsFile(const std::string& path, const SettingsDocument& doc) {
    const std::string error = WriteFileAtomically(path, SettingsJson(doc));
    if (!error.empty()) throw SettingsFileError{error};
}

std::string UtcNow() { return IsoTime(WallClockNow(), false); }

std::vector<SettingsDifference> DiffSettings(const SettingsDocument& left, const SettingsDocument& right) {
    std::vector<SettingsDifference> differences;
    for (const Setting& s : SettingTable()) {
        for (int h = 0; h <= (s.scope == Scope::Head ? 1 : 0); ++h) {
            const SettingRef ref{&s, h};
            const SettingsEntry* l = left.Find(ref);
            const SettingsEntry* r = right.Find(ref);
            if (l == nullptr && r == nullptr) continue;
            if (l != nullptr && r != nullptr && l->values == r->values) continue;
            SettingsDifference d{ref, std::nullopt, std::nullopt};
            if (l) d.left = l->values;
            if (r) d.right = r->values;
            differences.push_back(d);
        }
    }
    return differences;
}

std::string ValuesText(const Setting& s, const std::vector<int>& values) {
    if (s.arity == 1) return std::to_string(values[0]);
    std::string text;
    for (int i = 0; i < s.arity; ++i) {
        text += std::string(i ? " " : "") + s.fields[i].name + "=" + std::to_string(values[static_cast<size_t>(i)]);
    }
    return text;
}

SettingsDocument ReadController(const std::vector<SettingRef>& refs, std::vector<SettingValue>* failures,
                                const Progress& progress, const std::function<bool()>& stop) {
    SettingsDocument doc;
    doc.written = UtcNow();
    const size_t total = refs.size() + 1;
    int program = 0;
    if (auto failure = AfterCall("TRAX_GetProgramNo", TRAX_GetProgramNo(&program))) {
        if (failures) {
            SettingValue failed;
            failed.ref = {FindSetting("program"), 0};
            failed.failure = std::move(*failure);
            failures->push_back(failed);
        }
    } else {
        doc.program = program;
    }
    if (progress) progress(1, total);
    const auto read = ReadSettings(
        refs,
        [&](size_t done, size_t) {
            if (progress) progress(done + 1, total);
        },
        stop);
    for (const SettingValue& v : read) {
        if (v.ok) {
            doc.entries.push_back({v.ref, v.values});
        } else if (failures) {
            failures->push_back(v);
        }
    }
    return doc;
}

LoadReport LoadIntoController(const SettingsDocument& doc, const Progress& progress,
                              const std::function<bool()>& stop) {
    LoadReport report;
    // Two exchanges per entry (write, read back) and the two mode switches.
    const size_t total = doc.entries.size() * 2 + 2;
    size_t done = 0;
    auto step = [&] {
        if (progress) progress(++done, total);
    };
    if (auto failure = AfterCall("TRAX_SetMode", TRAX_SetMode(1))) {
        report.modeFailure = std::move(*failure);
        for (const SettingsEntry& e : doc.entries) report.notWritten.push_back(e.ref);
    } else {
        report.enteredSettingMode = true;
        step();
        for (size_t i = 0; i < doc.entries.size(); ++i) {
            const SettingsEntry& e = doc.entries[i];
            if (stop && stop()) {
                report.stopped = true;
                for (size_t j = i; j < doc.entries.size(); ++j) report.notWritten.push_back(doc.entries[j].ref);
                break;
            }
            WriteOutcome outcome = WriteSetting(e.ref, e.values, false);
            step();
            if (!outcome.written) {
                report.writeFailure = outcome.writeFailure;
                for (size_t j = i; j < doc.entries.size(); ++j) report.notWritten.push_back(doc.entries[j].ref);
                break;
            }
            report.written.push_back(e.ref);
        }
    }
    // What did reach the controller is read back even after a failed write,
    // so that the report says what the controller now holds.
    SettingsDocument now;
    for (const SettingRef& ref : report.written) {
        SettingValue v = ReadSetting(ref);
        step();
        if (v.ok)
            now.entries.push_back({ref, v.values});
        else
            report.readFailures.push_back(v);
    }
    SettingsDocument expected;
    for (const SettingsEntry& e : doc.entries) {
        if (now.Find(e.ref)) expected.entries.push_back(e);
    }
    report.differences = DiffSettings(expected, now);
    // Whatever happened above, the controller goes back to measuring.
    if (auto failure = AfterCall("TRAX_SetMode", TRAX_SetMode(0))) {
        if (report.modeFailure.function.empty()) report.modeFailure = std::move(*failure);
    } else {
        report.backInMeasurement = true;
    }
    step();
    return report;
}

}  // namespace trax::client
