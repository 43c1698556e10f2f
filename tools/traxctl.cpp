// traxctl: the controller from the command line, through the public C
// interface of libtrax alone.
//
// Exit status: 0 success, 1 a library call returned 0 or a file could not be
// read or written, 2 wrong input (the usage is shown and nothing was sent),
// 130 stopped by Ctrl-C after the call in flight.
#include <trax.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Commands.h"
#include "Identity.h"
#include "RecordCommands.h"
#include "client/LibraryLoader.h"
#include "client/SettingTable.h"
#include "client/System.h"
#ifdef TRAXCTL_HAS_SERVE
#include "ServeCommand.h"
#endif
#ifdef TRAXCTL_HAS_PUBLISH
#include "PublishCommand.h"
#endif

namespace traxctl {

namespace {

struct Command {
    const char* name;
    const char* usage;  // after "traxctl "
    const char* summary;
    std::vector<OptionSpec> options;
    bool reads;  // accepts --json
    int (*run)(Context&);
};

int RunBatch(Context& ctx);

const std::vector<Command>& Commands() {
    static const std::vector<Command> kCommands = {
        {"values", "values [--json]", "measured values of both heads, in their display unit", {}, true, RunValues},
        {"watch",
         "watch [--count N] [--interval MS] [--iso] [--csv FILE] [--keep-going] [--json]",
         "live values of both heads with the seconds since the start (--iso: and the UTC time), refreshed in "
         "place until Ctrl-C (or N readings; MS between them, default 200); --csv writes every reading to FILE as "
         "it comes; --keep-going shows a failed reading and goes on, with a summary at the end",
         {{"count", true}, {"interval", true}, {"iso", false}, {"csv", true}, {"keep-going", false}},
         true,
         RunWatch},
        {"figure", "figure A|B [--json]", "figure data of one head", {}, true, RunFigure},
        {"clear-figure", "clear-figure", "clears the figure data of both heads", {}, false, RunClearFigure},
        {"light",
         "light A|B [--selector 0..3] [--csv FILE] [--svg FILE] [--json]",
         "light-intensity profile of one head: plot in the terminal, CSV (pixel,intensity), SVG picture",
         {{"selector", true}, {"csv", true}, {"svg", true}},
         true,
         RunLight},
        {"storage",
         "storage setup [--target 0..3] [--count 1..65536] [--cycle 0..9]\n"
         "       traxctl storage start|stop\n"
         "       traxctl storage status [A|B] [--json]\n"
         "       traxctl storage read A|B [--max N] [--csv FILE] [--json]",
         "data storage: setup writes the given storage settings and empties the storage; read fetches one "
         "head's stored values (CSV: comment lines with head, unit, count, start, stop and sampling cycle, then "
         "index,status,value,unit)",
         {{"target", true}, {"count", true}, {"cycle", true}, {"max", true}, {"csv", true}},
         true,
         RunStorage},
        {"get",
         "get SETTING [A|B] [--json]",
         "reads a setting (a head setting of both heads when no head is given)",
         {},
         true,
         RunGet},
        {"set",
         "set SETTING [A|B] VALUE... [--json]",
         "writes a setting (head settings need a head), then reads it back",
         {},
         true,
         RunSet},
        {"settings",
         "settings [A|B] [--json]\n"
         "       traxctl settings save FILE\n"
         "       traxctl settings load FILE [--dry-run]\n"
         "       traxctl settings diff FILE [FILE2] [--json]",
         "every readable setting in one table (failed reads marked, exit status 1); save writes them all to a "
         "settings file (JSON), load writes a file's settings and reads them back (--dry-run: shows what would "
         "change, writes nothing), diff compares a file with the controller or with another file",
         {{"dry-run", false}},
         true,
         RunSettings},
        {"zero", "zero A|B|both [on|off]", "zero set (on, the default) or cleared (off)", {}, false, RunZero},
        {"timing", "timing A|B|both on|off", "timing input on or off", {}, false, RunTiming},
        {"reset", "reset A|B|both", "resets a head", {}, false, RunReset},
        {"panel", "panel [A|B|both] [--json]", "reads the panel selection, or selects the panel", {}, true, RunPanel},
        {"lock", "lock on|off", "locks or unlocks the controller's panel", {}, false, RunLock},
        {"program", "program [0..7] [--json]", "reads the program number, or selects one", {}, true, RunProgram},
        {"able", "able start A|B | able stop | able cancel", "the Able adjustment", {}, false, RunAble},
        {"mode", "mode measure|setting", "switches the controller's operating mode", {}, false, RunMode},
        {"doctor",
         "doctor [--json]",
         "checks library, driver, driver start-up, controller, mode, display units and storage, one line each; "
         "exit status 0 when all pass, 1 otherwise",
         {},
         true,
         RunDoctor},
#ifdef TRAXCTL_HAS_SERVE
        {"serve",
         "serve [--port 8642] [--bind 127.0.0.1] [--token T] [--read-only] [--rate HZ] [--max-viewers 250] "
         "[--idle-timeout 30] [--unit mm|um|inch|mil] [--record FILE]",
         "the controller in a web browser: serves the page and its JSON API until Ctrl-C (a token is needed, "
         "and made when not given, to listen beyond loopback; HZ: live values per second, 1..100, default 20; "
         "--record: every exchange with the controller to FILE, and the page says so)",
         {{"port", true},
          {"bind", true},
          {"token", true},
          {"read-only", false},
          {"rate", true},
          {"max-viewers", true},
          {"idle-timeout", true}},
         false,
         traxserve::RunServe},
#endif
        {"replay-check",
         "replay-check FILE [--json]",
         "makes the calls a recording (--record) names against the stand-in driver replaying it, and says "
         "whether it replays to its end (exit status 0) or where it diverges (1)",
         {},
         true,
         RunReplayCheck},
        {"support",
         "support FILE [--log TRACEFILE]",
         "writes one JSON file for a support request: doctor's checks, versions, the settings, a short "
         "recording of a values read and a storage status, and the trace log's last lines; says what it holds",
         {{"log", true}},
         false,
         RunSupport},
#ifdef TRAXCTL_HAS_PUBLISH
        {"publish",
         "publish --broker mqtt[s]://HOST[:PORT] [--topic PREFIX] [--rate HZ] [--qos 0|1] [--client-id ID] "
         "[--username U --password-file F] [--cafile F] [--cert F --key F] [--spool DIR] [--spool-max SIZE] "
         "[--storage] [--allow-commands [--insecure-commands]] [--metrics-port P] [--connect-timeout S] "
         "[--no-settings]",
         "publishes values, status, settings, storage runs and events to an MQTT broker until Ctrl-C, keeping "
         "what the broker cannot take while it is away (the password from --password-file or TRAX_MQTT_PASSWORD)",
         {{"broker", true},
          {"topic", true},
          {"rate", true},
          {"qos", true},
          {"client-id", true},
          {"username", true},
          {"password", true},
          {"password-file", true},
          {"cafile", true},
          {"cert", true},
          {"key", true},
          {"spool", true},
          {"spool-max", true},
          {"storage", false},
          {"allow-commands", false},
          {"insecure-commands", false},
          {"metrics-port", true},
          {"connect-timeout", true},
          {"no-settings", false}},
         false,
         RunPublish},
#endif
        {"batch",
         "batch [FILE] [--echo]",
         "runs commands from FILE (or standard input), one per line, in one process; stops at the first failure",
         {{"echo", false}},
         false,
         RunBatch},
    };
    return kCommands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands()) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

void PrintOverview(std::ostream& os) {
    os << "usage: traxctl [OPTIONS] COMMAND [ARGS] [--json] [--help]\n\ncommands:\n";
    for (const Command& c : Commands()) os << "  traxctl " << c.usage << "\n";
    os << "\noptions (before or after the command):\n"
          "  --unit mm|um|inch|mil   names the unit of the measured values; traxctl cannot know it by itself\n"
          "  --read-unit             reads each head's display unit from the controller instead; this\n"
          "                          switches the controller to setting mode and back, which interrupts\n"
          "                          its measurement for everything connected to it (needs --units)\n"
          "  --units metric|inch     the controller's unit system, for --read-unit\n"
          "  --trace, --trace=bytes  the library's trace log on standard error: one line per call with\n"
          "                          the reason of every 0 (bytes: requests and replies in hex too)\n"
          "  --record FILE           records every exchange with the controller to FILE (JSON Lines)\n"
          "  --replay FILE           the stand-in driver answers from the recording FILE\n"
          "  --version               versions of traxctl and the library, and which USB driver is in use;\n"
          "                          exit status 1 when the library did not load or its driver did not start\n"
          "\nHeads are A and B. Without --unit or --read-unit the values are shown without a unit.\n"
          "values, watch, figure, light and storage status|read never switch the controller's mode;\n"
          "get, set, settings, lock, program, able, mode and storage setup do.\n"
          "Exit status: 0 success; 1 a library call failed or a file could not be read or written;\n"
          "2 wrong input (nothing sent); 130 stopped by Ctrl-C after the call in flight.\n"
          "traxctl COMMAND --help explains one command.\n";
}

void PrintSettingList(std::ostream& os) {
    using trax::client::Scope;
    using trax::client::Setting;
    using trax::client::SettingTable;
    os << "\nsettings (values in order, with their ranges):\n";
    for (const Setting& s : SettingTable()) {
        std::string line = std::string("  ") + s.name + (s.scope == Scope::Head ? " A|B" : "");
        for (int i = 0; i < s.arity; ++i) {
            line += std::string(" ") + s.fields[i].name + "=" + std::to_string(s.fields[i].low) + ".." +
                    std::to_string(s.fields[i].high);
        }
        if (line.size() < 60) line += std::string(60 - line.size(), ' ');
        os << line << "  " << s.about << "\n";
    }
}

void PrintCommandHelp(std::ostream& os, const Command& c) {
    os << "usage: traxctl " << c.usage << "\n\n" << c.summary << ".\n";
    std::string name = c.name;
    if (name == "get" || name == "set" || name == "settings") PrintSettingList(os);
}

// Words as a shell would split them, so that a file name with a space can be
// quoted: "..." (with \" and \\ inside) or '...'. Throws UsageError for an
// unterminated quote.
std::vector<std::string> Split(const std::string& line, int number) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '"' || c == '\'') {
            inWord = true;
            size_t end = i + 1;
            for (; end < line.size() && line[end] != c; ++end) {
                if (c == '"' && line[end] == '\\' && end + 1 < line.size() &&
                    (line[end + 1] == '"' || line[end + 1] == '\\'))
                    ++end;
                word += line[end];
            }
            if (end >= line.size()) throw UsageError{"line " + std::to_string(number) + ": unterminated quote"};
            i = end;
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// batchLine: the number of the batch line this is (0: the command line),
// which starts with the batch's own unit options.
int Dispatch(std::vector<std::string> argv, std::ostream& out, std::ostream& err, int batchLine, UnitOptions units);

int RunBatch(Context& ctx) {
    ExpectWords(ctx.args, 0, 1);
    std::ifstream file;
    std::istream* in = &std::cin;
    if (ctx.args.words.size() == 1 && ctx.args.words[0] != "-") {
        errno = 0;
        file.open(ctx.args.words[0]);
        if (!file) {
            const int error = errno;
            throw FileError{"cannot read '" + ctx.args.words[0] +
                            "': " + (error != 0 ? std::strerror(error) : "cannot be opened")};
        }
        in = &file;
    }
    // A file (named, or standard input redirected from one) is checked whole
    // before anything is sent; lines that come down a pipe or from a
    // terminal run as they arrive, each checked as it comes.
    const bool whole = file.is_open() || trax::client::system::StandardInputIsFile();
    struct Step {
        int number;
        std::string line;
        std::vector<std::string> words;
    };
    auto run = [&](const Step& step) {
        if (ctx.args.Has("echo")) {
            ctx.out << "$ traxctl " << step.line.substr(step.line.find_first_not_of(" \t")) << "\n";
        }
        return Dispatch(step.words, ctx.out, ctx.err, step.number, ctx.units);
    };
    std::vector<Step> steps;
    std::string line;
    int number = 0;
    while (std::getline(*in, line)) {
        ++number;
        if (InterruptRequested()) throw Interrupted{};
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        std::vector<std::string> words = Split(line, number);
        if (words.empty()) continue;
        if (words[0] == "traxctl") words.erase(words.begin());
        Step step{number, line, std::move(words)};
        if (!whole) {
            const int status = run(step);
            if (status != 0) return status;
            continue;
        }
        steps.push_back(std::move(step));
    }
    // Ctrl-C while waiting for the next line ends the read, not only a call.
    if (InterruptRequested()) throw Interrupted{};
    // Each line runs up to its first library call, which is held, with its
    // output dropped: a line that fails there (wrong words, a file it cannot
    // read) ends the batch with nothing sent.
    for (const Step& step : steps) {
        std::ostringstream dropped;
        std::ostringstream said;
        int status = 0;
        trax::client::HoldCalls(true);
        try {
            status = Dispatch(step.words, dropped, said, step.number, ctx.units);
        } catch (const trax::client::CallHeld&) {
            status = 0;
        }
        trax::client::HoldCalls(false);
        if (status != 0) {
            ctx.err << said.str();
            return status;
        }
    }
    for (const Step& step : steps) {
        if (InterruptRequested()) throw Interrupted{};
        const int status = run(step);
        if (status != 0) return status;
    }
    return 0;
}

// What a failure message starts with: "traxctl values: " or, in a batch,
// "traxctl batch: line 3: values: ".
std::string Where(int batchLine, const std::string& name) {
    std::string where = "traxctl ";
    if (batchLine > 0) where += "batch: line " + std::to_string(batchLine) + ": ";
    return where + (name.empty() ? "" : name + ": ");
}

// Wrong input: the message, then the usage; in a batch only the message,
// which names the line.
int Wrong(std::ostream& out, std::ostream& err, int batchLine, const std::string& name, const std::string& message,
          const char* usage) {
    out.flush();
    if (batchLine > 0) {
        err << Where(batchLine, name) << message << "\n";
    } else if (usage != nullptr) {
        err << Where(0, name) << message << "\nusage: traxctl " << usage << "\n";
    } else {
        err << "traxctl: " << message << "\n";
        PrintOverview(err);
    }
    return 2;
}

int Dispatch(std::vector<std::string> argv, std::ostream& out, std::ostream& err, int batchLine, UnitOptions units) {
    try {
        TakeUnitOptions(argv, units);
        if (units.readCode && units.system == UnitSystem::Unknown) {
            throw UsageError{"--read-unit needs --units metric|inch: the library does not report the unit system"};
        }
    } catch (const UsageError& e) {
        return Wrong(out, err, batchLine, "", e.message, nullptr);
    }
    size_t i = 0;
    // Options before the command name.
    for (; i < argv.size() && argv[i].rfind("-", 0) == 0; ++i) {
        if (argv[i] == "--help" || argv[i] == "-h") {
            PrintOverview(out);
            return 0;
        }
        return Wrong(out, err, batchLine, "", "unknown option '" + argv[i] + "'", nullptr);
    }
    if (i == argv.size()) return Wrong(out, err, batchLine, "", "missing command", nullptr);
    std::string name = argv[i++];
    if (name == "help") {
        const Command* c = i < argv.size() ? FindCommand(argv[i]) : nullptr;
        if (c)
            PrintCommandHelp(out, *c);
        else
            PrintOverview(out);
        return 0;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr || (batchLine > 0 && (name == "batch" || name == "serve" || name == "publish"))) {
        return Wrong(out, err, batchLine, "", "unknown command '" + name + "'", nullptr);
    }

    std::vector<OptionSpec> allowed = command->options;
    allowed.push_back({"help", false});
    allowed.push_back({"h", false});
    if (command->reads) allowed.push_back({"json", false});
    Context ctx{Args{}, false, units, out, err};
    try {
        ctx.args = ParseArgs(std::vector<std::string>(argv.begin() + static_cast<long>(i), argv.end()), allowed);
        if (ctx.args.Has("help") || ctx.args.Has("h")) {
            PrintCommandHelp(out, *command);
            return 0;
        }
        ctx.json = ctx.args.Has("json");
        ctx.args.options.erase("json");
        return command->run(ctx);
    } catch (const UsageError& e) {
        return Wrong(out, err, batchLine, name, e.message, command->usage);
    } catch (const trax::client::CallError& e) {
        out.flush();
        trax::client::Failure failure = e.failure();
        trax::client::AddHint(failure);
        err << Where(batchLine, name) << failure.function << " failed: "
            << (failure.reason.empty() ? "reason not known (--trace shows the library's log)" : failure.reason) << "\n";
        if (!failure.hint.empty()) err << Where(batchLine, name) << "hint: " << failure.hint << "\n";
        return 1;
    } catch (const FileError& e) {
        out.flush();
        err << Where(batchLine, name) << e.message << "\n";
        return e.status;
    } catch (const Interrupted&) {
        out.flush();
        err << Where(batchLine, name) << "stopped by Ctrl-C\n";
        return 130;
    }
}

}  // namespace

}  // namespace traxctl

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // --trace turns the library's log on, which the library reads from the
    // environment when it loads; traxctl loads it below, after setting it.
    const int traced = traxctl::TakeTraceOption(args);
    if (traced != 0) return traced;
    // --record and --replay likewise, before the library loads.
    const int recorded = traxctl::TakeRecordOptions(args);
    if (recorded != 0) return recorded;
    // After the trace's variables are set: the library reads them when it loads.
    trax::client::LoadTraxLibrary();
    for (const std::string& a : args) {
        if (a == "--version") return traxctl::PrintVersion(std::cout, std::cerr);
        if (a.rfind("-", 0) != 0) break;
    }
    traxctl::InstallInterruptHandler();
    traxctl::UnitOptions units;
    try {
        units = traxctl::UnitsFromEnvironment();
    } catch (const traxctl::UsageError& e) {
        std::cerr << "traxctl: " << e.message << "\n";
        return 2;
    }
    int status = traxctl::Dispatch(args, std::cout, std::cerr, 0, units);
    std::cout.flush();
    return status;
}
