// Commands that read and write settings: get, set, settings, and the
// settings files (settings save, load, diff).
#include <trax.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstdio>

#include "Commands.h"
#include "Identity.h"
#include "JsonWriter.h"
#include "Progress.h"
#include "client/AtomicFile.h"
#include "client/LibraryLoader.h"
#include "client/SettingsFile.h"

namespace traxctl {

using namespace trax::client;

namespace {

const Setting& LookUpSetting(const std::string& name) {
    const Setting* s = FindSetting(name);
    if (s == nullptr) throw UsageError{"unknown setting '" + name + "' (traxctl settings --help lists them)"};
    return *s;
}

std::string Row(const SettingRef& ref, const std::string& value) {
    char line[256];
    std::snprintf(line, sizeof line, "%-32s %-4s %s\n", ref.setting->name,
                  ref.setting->scope == Scope::Head ? HeadName(ref.head) : "-", value.c_str());
    return line;
}

std::string FailedText(const Failure& f) { return "FAILED (" + f.Text() + ")"; }

// {"setting":"offset","head":"A","values":{"offset":0}}; head null for a
// controller setting; a failed read has "values":null and "error".
void WriteSetting(JsonWriter& json, const SettingValue& v) {
    const Setting& s = *v.ref.setting;
    json.BeginObject().Key("setting").String(s.name).Key("head");
    if (s.scope == Scope::Head)
        json.String(HeadName(v.ref.head));
    else
        json.Null();
    json.Key("values");
    if (v.ok) {
        json.BeginObject();
        for (int i = 0; i < s.arity; ++i) json.Key(s.fields[i].name).Number(v.values[static_cast<size_t>(i)]);
        json.EndObject();
    } else {
        json.Null();
        json.Key("error").BeginObject().Key("function").String(v.failure.function).Key("reason");
        if (v.failure.reason.empty())
            json.Null();
        else
            json.String(v.failure.reason);
        json.EndObject();
    }
    json.EndObject();
}

// Reads every row, prints every one (failed ones marked with the reason) and
// fails at the end when any read failed: nothing read is thrown away.
int PrintRead(Context& ctx, const std::vector<SettingRef>& refs, bool header) {
    std::vector<SettingValue> read;
    {
        ProgressLine progress(ctx.err, "reading settings");
        read = ReadSettings(
            refs, [&](size_t done, size_t total) { progress.Update(done, total); }, InterruptRequested);
    }
    size_t failed = 0;
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginArray();
        for (const SettingValue& v : read) WriteSetting(json, v);
        json.EndArray();
        ctx.out << "\n";
    } else {
        if (header) {
            char line[128];
            std::snprintf(line, sizeof line, "%-32s %-4s %s\n", "SETTING", "HEAD", "VALUE");
            ctx.out << line;
        }
        for (const SettingValue& v : read)
            ctx.out << Row(v.ref, v.ok ? ValuesText(*v.ref.setting, v.values) : FailedText(v.failure));
    }
    for (const SettingValue& v : read) failed += v.ok ? 0 : 1;
    if (InterruptRequested()) throw Interrupted{};
    if (failed == 0) return 0;
    ctx.out.flush();
    if (failed == 1) {
        for (const SettingValue& v : read) {
            if (!v.ok) throw trax::client::CallError(v.failure);
        }
    }
    ctx.err << "traxctl: " << failed << " of " << read.size() << " settings could not be read (marked FAILED)\n";
    return 1;
}

// The file's settings as the controller holds them now, read (only reads) in
// one pass; a failed read is reported and fails the command.
SettingsDocument ReadLikeFile(Context& ctx, const SettingsDocument& file) {
    std::vector<SettingRef> refs;
    for (const SettingsEntry& e : file.entries) refs.push_back(e.ref);
    std::vector<SettingValue> failures;
    SettingsDocument now;
    {
        ProgressLine progress(ctx.err, "reading settings");
        now = ReadController(
            refs, &failures, [&](size_t done, size_t total) { progress.Update(done, total); }, InterruptRequested);
    }
    if (InterruptRequested()) throw Interrupted{};
    for (const SettingValue& v : failures) ctx.err << "traxctl: " << v.ref.Name() << ": " << v.failure.Text() << "\n";
    if (!failures.empty()) throw trax::client::CallError(failures.front().failure);
    return now;
}

std::string Side(const std::optional<std::vector<int>>& values, const Setting& s) {
    return values ? ValuesText(s, *values) : std::string("(not in file)");
}

void PrintDifferences(Context& ctx, const std::vector<SettingsDifference>& differences, const char* left,
                      const char* right) {
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginArray();
        for (const SettingsDifference& d : differences) {
            json.BeginObject().Key("setting").String(d.ref.setting->name).Key("head");
            if (d.ref.setting->scope == Scope::Head)
                json.String(HeadName(d.ref.head));
            else
                json.Null();
            for (int side = 0; side < 2; ++side) {
                const auto& values = side == 0 ? d.left : d.right;
                json.Key(side == 0 ? left : right);
                if (!values) {
                    json.Null();
                    continue;
                }
                json.BeginObject();
                for (int i = 0; i < d.ref.setting->arity; ++i)
                    json.Key(d.ref.setting->fields[i].name).Number((*values)[static_cast<size_t>(i)]);
                json.EndObject();
            }
            json.EndObject();
        }
        json.EndArray();
        ctx.out << "\n";
        return;
    }
    if (differences.empty()) {
        ctx.out << "no differences\n";
        return;
    }
    for (const SettingsDifference& d : differences) {
        ctx.out << Row(d.ref, left + std::string(" ") + Side(d.left, *d.ref.setting) + "  " + right + " " +
                                  Side(d.right, *d.ref.setting));
    }
}

// A file that cannot be read: status 1 (for diff, 2: its 1 means
// differences); a file read but refused is wrong input: status 2.
// A batch's check of its lines cannot read a file that an earlier line is
// still to write (settings save, then load): such a file is checked when its
// line runs.
bool WrittenLater(const std::string& path) {
    struct stat st {};
    return trax::client::CallsHeld() && ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

SettingsDocument LoadFile(const std::string& path, int unreadable = 1) {
    std::string error;
    (void)trax::client::ReadWholeFile(path, &error, 0);
    if (!error.empty()) throw FileError{error, unreadable};
    try {
        return LoadSettingsFile(path);
    } catch (const SettingsFileError& e) {
        throw FileError{e.message, 2};
    }
}

int SettingsSave(Context& ctx) {
    ExpectWords(ctx.args, 2, 2);
    const std::string& path = ctx.args.words[1];
    std::vector<SettingValue> failures;
    SettingsDocument doc;
    {
        ProgressLine progress(ctx.err, "reading settings");
        doc = ReadController(
            FileSettings(), &failures, [&](size_t done, size_t total) { progress.Update(done, total); },
            InterruptRequested);
    }
    if (InterruptRequested()) throw Interrupted{};
    // A file missing a setting would load as if the setting did not matter:
    // nothing is written unless every one was read.
    if (!failures.empty()) {
        for (const SettingValue& v : failures)
            ctx.err << "traxctl: " << v.ref.Name() << ": " << v.failure.Text() << "\n";
        throw FileError{"nothing written to '" + path + "': " + std::to_string(failures.size()) +
                        " setting(s) could not be read"};
    }
    doc.library = LibraryVersion();
    try {
        SaveSettingsFile(path, doc);
    } catch (const SettingsFileError& e) {
        throw FileError{e.message};
    }
    ctx.out << "saved " << doc.entries.size() << " settings of program " << (doc.program ? *doc.program : 0) << " to "
            << path << "\n";
    return 0;
}

// As diff(1): 0 no differences, 1 differences, 2 trouble.
int SettingsDiff(Context& ctx) {
    ExpectWords(ctx.args, 2, 3);
    for (size_t i = 1; i < ctx.args.words.size(); ++i)
        if (WrittenLater(ctx.args.words[i])) return 0;
    const SettingsDocument left = LoadFile(ctx.args.words[1], 2);
    if (ctx.args.words.size() == 3) {
        const SettingsDocument right = LoadFile(ctx.args.words[2], 2);
        const auto differences = DiffSettings(left, right);
        PrintDifferences(ctx, differences, "file1", "file2");
        return differences.empty() ? 0 : 1;
    }
    const SettingsDocument now = ReadLikeFile(ctx, left);
    const auto differences = DiffSettings(left, now);
    PrintDifferences(ctx, differences, "file", "controller");
    if (!ctx.json && left.program && now.program && *left.program != *now.program) {
        ctx.out << "note: the file was saved from program " << *left.program << ", the controller is on program "
                << *now.program << "\n";
    }
    return differences.empty() ? 0 : 1;
}

int SettingsLoad(Context& ctx) {
    ExpectWords(ctx.args, 2, 2);
    if (WrittenLater(ctx.args.words[1])) return 0;
    const SettingsDocument file = LoadFile(ctx.args.words[1]);
    if (ctx.args.Has("dry-run")) {
        const SettingsDocument now = ReadLikeFile(ctx, file);
        const auto changes = DiffSettings(now, file);
        if (ctx.json) {
            PrintDifferences(ctx, changes, "controller", "file");
            return 0;
        }
        if (changes.empty()) ctx.out << "nothing would change\n";
        for (const SettingsDifference& d : changes)
            ctx.out << Row(d.ref, Side(d.left, *d.ref.setting) + " -> " + Side(d.right, *d.ref.setting));
        if (!changes.empty())
            ctx.out << changes.size() << " of " << file.entries.size()
                    << " settings would change (dry run: nothing written)\n";
        return 0;
    }
    LoadReport report;
    {
        ProgressLine progress(ctx.err, "loading settings");
        report = LoadIntoController(
            file, [&](size_t done, size_t total) { progress.Update(done, total); }, InterruptRequested);
    }
    ctx.out << "wrote " << report.written.size() << " of " << file.entries.size() << " settings\n";
    for (const SettingsDifference& d : report.differences) {
        ctx.out << Row(
            d.ref, "differs: file " + Side(d.left, *d.ref.setting) + "  controller " + Side(d.right, *d.ref.setting));
    }
    for (const SettingValue& v : report.readFailures)
        ctx.out << Row(v.ref, "written, " + FailedText(v.failure) + " on read-back");
    ctx.out.flush();
    int status = 0;
    if (!report.enteredSettingMode) {
        ctx.err << "traxctl settings load: " << report.modeFailure.Text()
                << ": the controller did not enter setting mode; nothing was written\n";
        status = 1;
    }
    if (report.writeFailure) {
        std::string written, notWritten;
        for (const SettingRef& r : report.written) written += (written.empty() ? "" : ", ") + r.Name();
        for (size_t i = 1; i < report.notWritten.size(); ++i)
            notWritten += (notWritten.empty() ? "" : ", ") + report.notWritten[i].Name();
        ctx.err << "traxctl settings load: writing " << report.notWritten.front().Name() << " failed ("
                << report.writeFailure->Text() << "); stopped there\n"
                << "  written:     " << (written.empty() ? "(none)" : written) << "\n"
                << "  failed:      " << report.notWritten.front().Name()
                << " (the controller may or may not have taken it)\n"
                << "  not written: " << (notWritten.empty() ? "(none)" : notWritten) << "\n";
        status = 1;
    }
    if (report.stopped) {
        std::string notWritten;
        for (const SettingRef& r : report.notWritten) notWritten += (notWritten.empty() ? "" : ", ") + r.Name();
        ctx.err << "traxctl settings load: stopped by Ctrl-C; not written: " << notWritten << "\n";
        status = 1;
    }
    if (!report.differences.empty() || !report.readFailures.empty()) {
        ctx.err << "traxctl settings load: " << report.differences.size() << " setting(s) read back different, "
                << report.readFailures.size() << " could not be read back\n";
        status = 1;
    }
    if (!report.backInMeasurement) {
        ctx.err << "traxctl settings load: " << report.modeFailure.Text()
                << ": the controller may still be in setting mode (traxctl mode measure)\n";
        status = 1;
    }
    // Stopped by Ctrl-C and safely back in measurement mode: the usual status for Ctrl-C.
    if (report.stopped && report.backInMeasurement) status = 130;
    return status;
}

}  // namespace

int RunGet(Context& ctx) {
    ExpectWords(ctx.args, 1, 2);
    const Setting& s = LookUpSetting(ctx.args.words[0]);
    if (!s.Readable()) throw UsageError{std::string(s.name) + " can be written but not read"};
    std::vector<SettingRef> refs;
    if (s.scope == Scope::Controller) {
        if (ctx.args.words.size() == 2)
            throw UsageError{std::string(s.name) + " belongs to the controller and takes no head"};
        refs.push_back({&s, 0});
    } else if (ctx.args.words.size() == 2) {
        refs.push_back({&s, ParseHead(ctx.args.words[1], false)});
    } else {
        refs = {{&s, 0}, {&s, 1}};
    }
    return PrintRead(ctx, refs, false);
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
    } else if (ctx.args.words.size() >= 2 && HeadOf(ctx.args.words[1], true) >= 0) {
        throw UsageError{std::string(s.name) + " belongs to the controller and takes no head"};
    }
    std::vector<std::string> words(ctx.args.words.begin() + static_cast<long>(firstValue), ctx.args.words.end());
    std::vector<int> values = ParseSettingValues(s, words);
    const SettingRef ref{&s, head};
    WriteOutcome outcome = trax::client::WriteSetting(ref, values);
    if (InterruptRequested()) throw Interrupted{};
    if (!outcome.written) throw trax::client::CallError(outcome.writeFailure);
    if (!s.Readable()) {
        ctx.out << s.name << " written: " << ValuesText(s, values) << " (write-only: it cannot be read back)\n";
        return 0;
    }
    if (!outcome.readBack.ok) {
        // The write's result decides: the value is on the controller.
        if (ctx.json) {
            // The values as written, and the read-back's failure beside them.
            SettingValue written = outcome.readBack;
            written.ok = true;
            written.values = values;
            JsonWriter json(ctx.out);
            json.BeginArray();
            WriteSetting(json, written);
            json.EndArray();
            ctx.out << "\n";
        } else {
            ctx.out << Row(ref, ValuesText(s, values) + " (written; not read back)");
        }
        ctx.out.flush();
        ctx.err << "traxctl set: warning: " << ref.Name() << " was written, but reading it back failed ("
                << outcome.readBack.failure.Text() << ")\n";
        return 0;
    }
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginArray();
        WriteSetting(json, outcome.readBack);
        json.EndArray();
        ctx.out << "\n";
    } else {
        ctx.out << Row(ref, ValuesText(s, outcome.readBack.values));
    }
    return 0;
}

int RunSettings(Context& ctx) {
    if (!ctx.args.words.empty()) {
        const std::string& action = ctx.args.words[0];
        if (action != "save" && action != "load" && action != "diff") {
            // settings [A|B]
        } else {
            if (ctx.args.Has("dry-run") && action != "load") throw UsageError{"--dry-run goes with settings load"};
            if (action == "save") return SettingsSave(ctx);
            if (action == "load") return SettingsLoad(ctx);
            return SettingsDiff(ctx);
        }
    }
    if (ctx.args.Has("dry-run")) throw UsageError{"--dry-run goes with settings load"};
    ExpectWords(ctx.args, 0, 1);
    int first = 0, last = 1;
    if (ctx.args.words.size() == 1) first = last = ParseHead(ctx.args.words[0], false);
    return PrintRead(ctx, ReadableSettings(first, last), true);
}

std::vector<int> ParseSettingValues(const Setting& s, const std::vector<std::string>& words) {
    if (words.size() != static_cast<size_t>(s.arity)) {
        std::string names;
        for (int i = 0; i < s.arity; ++i) names += std::string(i ? " " : "") + s.fields[i].name;
        throw UsageError{std::string(s.name) + " takes " + std::to_string(s.arity) + " value" +
                         (s.arity > 1 ? "s" : "") + " (" + names + "), got " + std::to_string(words.size())};
    }
    std::vector<int> values;
    for (int i = 0; i < s.arity; ++i) {
        const Field& f = s.fields[i];
        std::string what = s.arity == 1 ? std::string(s.name) : std::string(s.name) + " " + f.name;
        values.push_back(ParseInt(words[static_cast<size_t>(i)], f.low, f.high, what));
    }
    const std::string problem = ValuesProblem(s, values);
    if (!problem.empty()) throw UsageError{std::string(s.name) + ": " + problem};
    return values;
}

}  // namespace traxctl
