// Commands that write and read settings, and the control actions.
#include <trax.h>

#include <cstdio>

#include "Commands.h"
#include "JsonWriter.h"
#include "Settings.h"

namespace traxctl {

namespace {

const Setting& LookUpSetting(const std::string& name) {
    const Setting* s = FindSetting(name);
    if (s == nullptr) throw UsageError{"unknown setting '" + name + "' (traxctl settings --help lists them)"};
    return *s;
}

// Reads one setting of one head (head ignored for controller settings).
std::vector<int> ReadSetting(const Setting& s, int head) {
    std::vector<int> values(4, 0);
    Check(s.get(head, values.data()), s.getterName);
    values.resize(static_cast<size_t>(s.arity));
    return values;
}

std::string ValuesText(const Setting& s, const std::vector<int>& values) {
    if (s.arity == 1) return std::to_string(values[0]);
    std::string text;
    for (int i = 0; i < s.arity; ++i)
        text += std::string(i ? " " : "") + s.fields[i].name + "=" + std::to_string(values[static_cast<size_t>(i)]);
    return text;
}

std::string Line(const Setting& s, int head, const std::vector<int>& values) {
    char line[256];
    std::snprintf(line, sizeof line, "%-32s %-4s %s\n", s.name, s.scope == Scope::Head ? HeadName(head) : "-",
                  ValuesText(s, values).c_str());
    return line;
}

// {"setting":"offset","head":"A","values":{"offset":0}}; head null for a controller setting.
void WriteSetting(JsonWriter& json, const Setting& s, int head, const std::vector<int>& values) {
    json.BeginObject().Key("setting").String(s.name).Key("head");
    if (s.scope == Scope::Head)
        json.String(HeadName(head));
    else
        json.Null();
    json.Key("values").BeginObject();
    for (int i = 0; i < s.arity; ++i) json.Key(s.fields[i].name).Number(values[static_cast<size_t>(i)]);
    json.EndObject().EndObject();
}

struct Entry {
    const Setting* setting;
    int head;
};

int Print(Context& ctx, const std::vector<Entry>& entries, bool alwaysArray) {
    // Read everything first so that a failing call leaves no half-printed table.
    std::vector<std::vector<int>> read;
    for (const Entry& e : entries) read.push_back(ReadSetting(*e.setting, e.head));
    if (ctx.json) {
        bool array = alwaysArray || entries.size() != 1;
        JsonWriter json(ctx.out);
        if (array) json.BeginArray();
        for (size_t i = 0; i < entries.size(); ++i) WriteSetting(json, *entries[i].setting, entries[i].head, read[i]);
        if (array) json.EndArray();
        ctx.out << "\n";
        return 0;
    }
    for (size_t i = 0; i < entries.size(); ++i) ctx.out << Line(*entries[i].setting, entries[i].head, read[i]);
    return 0;
}

}  // namespace

int RunGet(Context& ctx) {
    ExpectWords(ctx.args, 1, 2);
    const Setting& s = LookUpSetting(ctx.args.words[0]);
    if (s.get == nullptr) throw UsageError{std::string(s.name) + " can be written but not read"};
    std::vector<Entry> entries;
    if (s.scope == Scope::Controller) {
        if (ctx.args.words.size() == 2)
            throw UsageError{std::string(s.name) + " belongs to the controller and takes no head"};
        entries.push_back({&s, 0});
    } else if (ctx.args.words.size() == 2) {
        entries.push_back({&s, ParseHead(ctx.args.words[1], false)});
    } else {
        entries = {{&s, 0}, {&s, 1}};
    }
    return Print(ctx, entries, false);
}

int RunSet(Context& ctx) {
    if (ctx.args.words.empty()) throw UsageError{"missing setting"};
    const Setting& s = LookUpSetting(ctx.args.words[0]);
    int head = 0;
    size_t firstValue = 1;
    if (s.scope == Scope::Head) {
        if (ctx.args.words.size() < 2) throw UsageError{std::string(s.name) + " needs a head (A or B)"};
        head = ParseHead(ctx.args.words[1], false);
        firstValue = 2;
    }
    std::vector<std::string> words(ctx.args.words.begin() + static_cast<long>(firstValue), ctx.args.words.end());
    std::vector<int> values = ParseSettingValues(s, words);
    Check(s.set(head, values.data()), s.setterName);
    if (s.get == nullptr) {
        ctx.out << Line(s, head, values);
        return 0;
    }
    // Show what the controller holds now, read back through the getter.
    return Print(ctx, {{&s, head}}, false);
}

int RunSettings(Context& ctx) {
    ExpectWords(ctx.args, 0, 1);
    int first = 0, last = 1;
    if (ctx.args.words.size() == 1) first = last = ParseHead(ctx.args.words[0], false);
    std::vector<Entry> entries;
    for (const Setting& s : SettingTable()) {
        if (s.get == nullptr) continue;
        if (s.scope == Scope::Controller) {
            entries.push_back({&s, 0});
        } else {
            for (int h = first; h <= last; ++h) entries.push_back({&s, h});
        }
    }
    if (!ctx.json) {
        char header[128];
        std::snprintf(header, sizeof header, "%-32s %-4s %s\n", "SETTING", "HEAD", "VALUE");
        ctx.out << header;
    }
    return Print(ctx, entries, true);
}

int RunZero(Context& ctx) {
    ExpectWords(ctx.args, 1, 2);
    int head = ParseHead(ctx.args.words[0], true);
    int onOff = ctx.args.words.size() == 2 ? ParseOnOff(ctx.args.words[1]) : 1;
    TRAXCTL_CALL(TRAX_SetZero, head, onOff);
    ctx.out << "zero " << (onOff ? "set" : "cleared") << " on head " << HeadName(head) << "\n";
    return 0;
}

int RunTiming(Context& ctx) {
    ExpectWords(ctx.args, 2, 2);
    int head = ParseHead(ctx.args.words[0], true);
    int onOff = ParseOnOff(ctx.args.words[1]);
    TRAXCTL_CALL(TRAX_SetTiming, head, onOff);
    ctx.out << "timing " << (onOff ? "on" : "off") << " on head " << HeadName(head) << "\n";
    return 0;
}

int RunReset(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    int head = ParseHead(ctx.args.words[0], true);
    TRAXCTL_CALL(TRAX_SetReset, head);
    ctx.out << "head " << HeadName(head) << " reset\n";
    return 0;
}

int RunPanel(Context& ctx) {
    ExpectWords(ctx.args, 0, 1);
    if (ctx.args.words.size() == 1) {
        if (ctx.json) throw UsageError{"--json goes with reading the panel, not with selecting it"};
        int panel = ParseHead(ctx.args.words[0], true);
        TRAXCTL_CALL(TRAX_SetPanel, panel);
        ctx.out << "panel " << HeadName(panel) << "\n";
        return 0;
    }
    int panel = -1;
    TRAXCTL_CALL(TRAX_GetPanel, &panel);
    const char* name = panel >= 0 && panel <= 2 ? HeadName(panel) : "?";
    if (ctx.json) {
        JsonWriter(ctx.out).BeginObject().Key("panel").String(name).EndObject();
        ctx.out << "\n";
    } else {
        ctx.out << "panel " << name << "\n";
    }
    return 0;
}

int RunLock(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    int locked = ParseOnOff(ctx.args.words[0]);
    TRAXCTL_CALL(TRAX_SetPanelLock, locked);
    ctx.out << "panel " << (locked ? "locked" : "unlocked") << "\n";
    return 0;
}

int RunProgram(Context& ctx) {
    ExpectWords(ctx.args, 0, 1);
    if (ctx.args.words.size() == 1) {
        if (ctx.json) throw UsageError{"--json goes with reading the program number, not with selecting it"};
        int number = ParseInt(ctx.args.words[0], 0, 7, "program number");
        TRAXCTL_CALL(TRAX_SetProgramNo, number);
        ctx.out << "program " << number << "\n";
        return 0;
    }
    int number = 0;
    TRAXCTL_CALL(TRAX_GetProgramNo, &number);
    if (ctx.json) {
        JsonWriter(ctx.out).BeginObject().Key("program").Number(number).EndObject();
        ctx.out << "\n";
    } else {
        ctx.out << "program " << number << "\n";
    }
    return 0;
}

int RunAble(Context& ctx) {
    if (ctx.args.words.empty()) throw UsageError{"missing Able action (start, stop or cancel)"};
    const std::string& action = ctx.args.words[0];
    if (action == "start") {
        ExpectWords(ctx.args, 2, 2);
        int head = ParseHead(ctx.args.words[1], false);
        TRAXCTL_CALL(TRAX_AbleStart, head);
        ctx.out << "Able adjustment started on head " << HeadName(head) << "\n";
    } else if (action == "stop") {
        ExpectWords(ctx.args, 1, 1);
        TRAXCTL_CALL(TRAX_AbleStop);
        ctx.out << "Able adjustment stopped\n";
    } else if (action == "cancel") {
        ExpectWords(ctx.args, 1, 1);
        TRAXCTL_CALL(TRAX_AbleCancel);
        ctx.out << "Able adjustment cancelled\n";
    } else {
        throw UsageError{"unknown Able action '" + action + "' (use start, stop or cancel)"};
    }
    return 0;
}

int RunMode(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    const std::string& word = ctx.args.words[0];
    int mode = word == "measure" ? 0 : word == "setting" ? 1 : -1;
    if (mode < 0) throw UsageError{"unknown mode '" + word + "' (use measure or setting)"};
    TRAXCTL_CALL(TRAX_SetMode, mode);
    ctx.out << "controller in " << word << " mode\n";
    return 0;
}

}  // namespace traxctl
