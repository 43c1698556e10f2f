// Command-line plumbing shared by the traxctl commands: argument parsing,
// the two kinds of failure (usage errors and library calls that returned 0),
// heads and integers as typed by a person.
#pragma once

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "client/Failure.h"
#include "client/ValueText.h"

namespace traxctl {

// Wrong input: the command prints its usage and exits with status 2. Thrown
// before any library call, so nothing reaches the controller.
struct UsageError {
    std::string message;
};

// A library call returned 0: trax::client::CallError, with the call and the
// library's reason; exit status 1.

// A file could not be opened or written: exit status 1 with the system's
// words for it. Raised before anything is sent. A file that was read but
// refused (a settings file with a typo) is wrong input: status 2.
struct FileError {
    std::string message;
    int status = 1;
};

// Ctrl-C was pressed: the call in flight has ended, nothing more is sent,
// and traxctl exits with status 130.
struct Interrupted {};

// Set by the SIGINT handler, read after every library call and between
// batch lines and watch readings.
bool InterruptRequested();
// The first Ctrl-C asks to stop after the call in flight; a second one ends
// the process at once.
void InstallInterruptHandler();

inline void Check(int result, const char* call) {
    if (InterruptRequested()) throw Interrupted{};
    // The reason is taken at once, before another call adds to the tap.
    trax::client::Check(result, call);
}

// Calls a library function and turns a 0 result into a CallError naming it.
#define TRAXCTL_CALL(fn, ...) ::traxctl::Check(fn(__VA_ARGS__), #fn)

// The controller's unit system as the user stated it; the library does not
// report it.
using trax::client::UnitSystem;

// How the commands that print measured values name their unit. The library
// hands values out in each head's display unit but says neither the unit
// system nor (without a setting-mode round trip) the display unit, so the
// name comes from the user: --unit names it; --read-unit with --units lets
// traxctl read each head's display-unit code, which switches the controller
// to setting mode and back. Without either, the unit is shown as not known.
struct UnitOptions {
    UnitSystem system = UnitSystem::Unknown;
    std::string name;  // --unit, else TRAX_UNIT, "" when neither is given
    bool readCode = false;
};

// The unit named once for every run (TRAX_UNIT=mm|um|inch|mil; --unit
// overrides it); UsageError for another value.
UnitOptions UnitsFromEnvironment();

// One parsed command line: positional words and --options.
struct Args {
    std::vector<std::string> words;
    std::map<std::string, std::string> options;  // flags map to ""
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    const std::string* Option(const std::string& name) const {
        auto it = options.find(name);
        return it == options.end() ? nullptr : &it->second;
    }
};

// What every command gets to run with.
struct Context {
    Args args;
    bool json = false;
    UnitOptions units;
    std::ostream& out;
    std::ostream& err;
};

// Option accepted by a command: name without the dashes, and whether a value follows.
struct OptionSpec {
    const char* name;
    bool takesValue;
};

// Splits argv into words and options. Words that look like negative numbers
// ("-5") are words. Options not in `allowed` are usage errors.
Args ParseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& allowed);

// Whole decimal number within [low, high]; `what` names it in the message.
int ParseInt(const std::string& text, long long low, long long high, const std::string& what);

// "A"/"a" -> 0, "B"/"b" -> 1, and when allowBoth, "both" -> 2; HeadOf gives
// -1 for any other word, ParseHead throws UsageError.
int HeadOf(const std::string& text, bool allowBoth);
int ParseHead(const std::string& text, bool allowBoth);
const char* HeadName(int head);  // "A", "B", "both"

// "on"/"1" -> 1, "off"/"0" -> 0.
int ParseOnOff(const std::string& text);

// Takes the options that every command accepts wherever they stand (before
// or after the command's name) out of argv: --units, --unit, --read-unit.
void TakeUnitOptions(std::vector<std::string>& argv, UnitOptions& units);

// Exactly n..m positional words, else a usage error.
void ExpectWords(const Args& args, size_t least, size_t most);

}  // namespace traxctl
