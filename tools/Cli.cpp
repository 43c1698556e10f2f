#include "Cli.h"

#include "client/Number.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define TRAXCTL_WRITE _write
#else
#include <signal.h>
#include <unistd.h>
#define TRAXCTL_WRITE write
#endif

namespace traxctl {

namespace {

bool LooksNumeric(const std::string& word) {
    return word.size() >= 2 && word[0] == '-' && word[1] >= '0' && word[1] <= '9';
}

// Written by the SIGINT handler, read by the main thread.
volatile std::sig_atomic_t interrupted = 0;

void SetInterruptAction(void (*action)(int)) {
#ifdef _WIN32
    std::signal(SIGINT, action);
#else
    // No SA_RESTART: a read waiting for input (a batch on a terminal) ends
    // with EINTR at Ctrl-C instead of going on waiting.
    struct sigaction what {};
    what.sa_handler = action;
    sigemptyset(&what.sa_mask);
    what.sa_flags = 0;
    (void)sigaction(SIGINT, &what, nullptr);
#endif
}

extern "C" void OnInterrupt(int) {
    if (interrupted) {
        SetInterruptAction(SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    interrupted = 1;
    static const char kNote[] = "\ntraxctl: stopping after the call in flight (Ctrl-C again to quit at once)\n";
    (void)!TRAXCTL_WRITE(2, kNote, sizeof kNote - 1);
}

// "--name VALUE" or "--name=VALUE" at argv[i]: the value, and how many words it took.
bool TakeValue(const std::vector<std::string>& argv, size_t i, const std::string& name, std::string* value,
               size_t* words) {
    const std::string& word = argv[i];
    if (word == name) {
        if (i + 1 >= argv.size()) throw UsageError{"option " + name + " needs a value"};
        *value = argv[i + 1];
        *words = 2;
        return true;
    }
    if (word.rfind(name + "=", 0) == 0) {
        *value = word.substr(name.size() + 1);
        *words = 1;
        return true;
    }
    return false;
}

}  // namespace

bool InterruptRequested() { return interrupted != 0; }

void InstallInterruptHandler() {
    interrupted = 0;
    SetInterruptAction(OnInterrupt);
}

UnitOptions UnitsFromEnvironment() {
    UnitOptions units;
    const char* named = std::getenv("TRAX_UNIT");
    if (named == nullptr || named[0] == '\0') return units;
    const std::string value = named;
    if (value != "mm" && value != "um" && value != "inch" && value != "mil") {
        throw UsageError{"TRAX_UNIT takes mm, um, inch or mil, not '" + value + "'"};
    }
    units.name = value;
    return units;
}

void TakeUnitOptions(std::vector<std::string>& argv, UnitOptions& units) {
    for (size_t i = 0; i < argv.size();) {
        std::string value;
        size_t words = 0;
        if (TakeValue(argv, i, "--units", &value, &words)) {
            if (value != "metric" && value != "inch") {
                throw UsageError{"--units takes metric or inch, not '" + value + "'"};
            }
            units.system = value == "inch" ? UnitSystem::Inch : UnitSystem::Metric;
        } else if (TakeValue(argv, i, "--unit", &value, &words)) {
            if (value != "mm" && value != "um" && value != "inch" && value != "mil") {
                throw UsageError{"--unit takes mm, um, inch or mil, not '" + value + "'"};
            }
            units.name = value;
        } else if (argv[i] == "--read-unit") {
            units.readCode = true;
            words = 1;
        } else {
            ++i;
            continue;
        }
        argv.erase(argv.begin() + static_cast<long>(i), argv.begin() + static_cast<long>(i + words));
    }
}

Args ParseArgs(const std::vector<std::string>& argv, const std::vector<OptionSpec>& allowed) {
    Args args;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& word = argv[i];
        if (word.empty() || word[0] != '-' || LooksNumeric(word)) {
            args.words.push_back(word);
            continue;
        }
        std::string name = word.rfind("--", 0) == 0 ? word.substr(2) : word.substr(1);
        std::string inlineValue;
        bool hasInline = false;
        size_t eq = name.find('=');
        if (eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasInline = true;
        }
        const OptionSpec* option = nullptr;
        for (const OptionSpec& o : allowed) {
            if (name == o.name) option = &o;
        }
        if (option == nullptr) throw UsageError{"unknown option '" + word + "'"};
        if (!option->takesValue) {
            if (hasInline) throw UsageError{"option --" + name + " takes no value"};
            args.options[name] = "";
        } else if (hasInline) {
            args.options[name] = inlineValue;
        } else {
            if (i + 1 >= argv.size()) throw UsageError{"option --" + name + " needs a value"};
            args.options[name] = argv[++i];
        }
    }
    return args;
}

int ParseInt(const std::string& text, long long low, long long high, const std::string& what) {
    try {
        return static_cast<int>(trax::client::ReadInteger(text, low, high, what));
    } catch (const trax::client::InputError& e) {
        throw UsageError{e.message};
    }
}

int HeadOf(const std::string& text, bool allowBoth) {
    if (text == "A" || text == "a") return 0;
    if (text == "B" || text == "b") return 1;
    if (allowBoth && (text == "both" || text == "BOTH" || text == "Both")) return 2;
    return -1;
}

int ParseHead(const std::string& text, bool allowBoth) {
    const int head = HeadOf(text, allowBoth);
    if (head >= 0) return head;
    throw UsageError{"unknown head '" + text + "' (use A" + std::string(allowBoth ? ", B or both)" : " or B)")};
}

const char* HeadName(int head) { return head == 0 ? "A" : head == 1 ? "B" : "both"; }

int ParseOnOff(const std::string& text) {
    if (text == "on" || text == "1") return 1;
    if (text == "off" || text == "0") return 0;
    throw UsageError{"expected on or off, not '" + text + "'"};
}

void ExpectWords(const Args& args, size_t least, size_t most) {
    if (args.words.size() < least) throw UsageError{"missing argument"};
    if (args.words.size() > most) throw UsageError{"unexpected argument '" + args.words[most] + "'"};
}

}  // namespace traxctl
