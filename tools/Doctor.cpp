// traxctl doctor: the checks of trax::client::RunDoctor, one line each.
#include "client/Doctor.h"
#include "Commands.h"
#include "JsonWriter.h"

namespace traxctl {

int RunDoctor(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    const std::vector<trax::client::DoctorCheck> checks = trax::client::RunDoctor();
    bool allPassed = true;
    for (const auto& check : checks) allPassed = allPassed && check.ok;
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("ok").Bool(allPassed).Key("checks").BeginArray();
        for (const auto& check : checks) {
            json.BeginObject().Key("check").String(check.name).Key("ok").Bool(check.ok);
            json.Key("detail").String(check.detail);
            if (!check.ok) json.Key("hint").String(check.hint);
            json.EndObject();
        }
        json.EndArray().EndObject();
        ctx.out << "\n";
    } else {
        for (const auto& check : checks) {
            ctx.out << (check.ok ? "ok    " : "FAIL  ") << check.name << ": " << check.detail << "\n";
            if (!check.ok && !check.hint.empty()) ctx.out << "      what to do: " << check.hint << "\n";
        }
    }
    return allPassed ? 0 : 1;
}

}  // namespace traxctl
