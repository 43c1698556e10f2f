// The control actions: zero, timing, reset, panel, lock, program, Able, mode.
#include "Commands.h"
#include "client/ValueOutput.h"

namespace traxctl {

namespace {

// "head A", "head B", "both heads": what a command for A|B|both acted on.
std::string Heads(int head) { return head == 2 ? std::string("both heads") : std::string("head ") + HeadName(head); }

}  // namespace

int RunZero(Context& ctx) {
    ExpectWords(ctx.args, 1, 2);
    int head = ParseHead(ctx.args.words[0], true);
    int onOff = ctx.args.words.size() == 2 ? ParseOnOff(ctx.args.words[1]) : 1;
    ctx.controller.SetZero(head, onOff != 0);
    ctx.out << "zero " << (onOff ? "set" : "cleared") << " on " << Heads(head) << "\n";
    return 0;
}

int RunTiming(Context& ctx) {
    ExpectWords(ctx.args, 2, 2);
    int head = ParseHead(ctx.args.words[0], true);
    int onOff = ParseOnOff(ctx.args.words[1]);
    ctx.controller.SetTiming(head, onOff != 0);
    ctx.out << "timing input " << (onOff ? "on" : "off") << " for " << Heads(head) << "\n";
    return 0;
}

int RunReset(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    int head = ParseHead(ctx.args.words[0], true);
    ctx.controller.Reset(head);
    ctx.out << Heads(head) << " reset\n";
    return 0;
}

int RunPanel(Context& ctx) {
    ExpectWords(ctx.args, 0, 1);
    if (ctx.args.words.size() == 1) {
        if (ctx.json) throw UsageError{"--json goes with reading the panel, not with selecting it"};
        int panel = ParseHead(ctx.args.words[0], true);
        ctx.controller.SelectPanel(panel);
        ctx.out << "panel " << HeadName(panel) << "\n";
        return 0;
    }
    const int panel = ctx.controller.ReadPanel();
    const char* name = panel >= 0 && panel <= 2 ? HeadName(panel) : "?";
    if (ctx.json) {
        ctx.out << trax::client::JsonText({{"panel", name}}) << "\n";
    } else {
        ctx.out << "panel " << name << "\n";
    }
    return 0;
}

int RunLock(Context& ctx) {
    ExpectWords(ctx.args, 1, 1);
    int locked = ParseOnOff(ctx.args.words[0]);
    ctx.controller.LockPanel(locked != 0);
    ctx.out << "panel " << (locked ? "locked" : "unlocked") << "\n";
    return 0;
}

int RunProgram(Context& ctx) {
    ExpectWords(ctx.args, 0, 1);
    if (ctx.args.words.size() == 1) {
        if (ctx.json) throw UsageError{"--json goes with reading the program number, not with selecting it"};
        int number = ParseInt(ctx.args.words[0], 0, 7, "program number");
        ctx.controller.SelectProgram(number);
        ctx.out << "program " << number << "\n";
        return 0;
    }
    const int number = ctx.controller.ReadProgram();
    if (ctx.json) {
        ctx.out << trax::client::JsonText({{"program", number}}) << "\n";
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
        ctx.controller.AbleStart(head);
        ctx.out << "Able adjustment started on head " << HeadName(head) << "\n";
    } else if (action == "stop") {
        ExpectWords(ctx.args, 1, 1);
        ctx.controller.AbleStop();
        ctx.out << "Able adjustment stopped\n";
    } else if (action == "cancel") {
        ExpectWords(ctx.args, 1, 1);
        ctx.controller.AbleCancel();
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
    ctx.controller.SetMode(mode == 1 ? trax::client::Controller::Mode::Setting
                                     : trax::client::Controller::Mode::Measure);
    ctx.out << "controller in " << word << " mode\n";
    return 0;
}

}  // namespace traxctl
