// traxctl doctor: the checks of trax::client::RunDoctor, one line each.
#include "client/Doctor.h"
#include "Commands.h"
#include "Hints.h"
#include "client/ValueOutput.h"

namespace traxctl {

int RunDoctor(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    const std::vector<trax::client::DoctorCheck> checks = trax::client::RunDoctor(
        ctx.controller, [&](const trax::client::Failure& f) { return HintFor(f, ctx.controller); });
    bool allPassed = true;
    for (const auto& check : checks) allPassed = allPassed && check.ok;
    if (ctx.json) {
        trax::client::Json list = trax::client::Json::array();
        for (const auto& check : checks) {
            trax::client::Json entry = {{"check", check.name}, {"ok", check.ok}, {"detail", check.detail}};
            if (!check.ok) entry["hint"] = check.hint;
            list.push_back(entry);
        }
        ctx.out << trax::client::JsonText({{"ok", allPassed}, {"checks", list}}) << "\n";
    } else {
        for (const auto& check : checks) {
            ctx.out << (check.ok ? "ok    " : "FAIL  ") << check.name << ": " << check.detail << "\n";
            if (!check.ok && !check.hint.empty()) ctx.out << "      what to do: " << check.hint << "\n";
        }
    }
    return allPassed ? 0 : 1;
}

}  // namespace traxctl
