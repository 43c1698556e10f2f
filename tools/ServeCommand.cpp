// The serve command's options, checked before anything listens.
#include "ServeCommand.h"

#include "client/Number.h"
#include "server/Security.h"
#include "server/Serve.h"

namespace traxctl {

int RunServe(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    traxserve::ServeOptions options;
    options.version = TRAXCTL_VERSION;
    if (auto* v = ctx.args.Option("port")) options.port = static_cast<unsigned short>(ParseInt(*v, 0, 65535, "--port"));
    if (auto* v = ctx.args.Option("bind")) options.bind = *v;
    if (auto* v = ctx.args.Option("rate")) options.rateHz = ParseInt(*v, 1, 100, "--rate");
    options.readOnly = ctx.args.Has("read-only");
    if (auto* v = ctx.args.Option("max-viewers"))
        options.maxViewers = static_cast<std::size_t>(ParseInt(*v, 1, 1000, "--max-viewers"));
    if (auto* v = ctx.args.Option("idle-timeout")) {
        try {
            options.idleTimeout = std::chrono::milliseconds(
                static_cast<long long>(trax::client::ReadDecimal(*v, 0.05, 3600, "--idle-timeout") * 1000));
        } catch (const trax::client::InputError& e) {
            throw UsageError{e.message + " (seconds)"};
        }
    }
    if (auto* v = ctx.args.Option("token")) {
        if (v->size() < 8 || v->find_first_of(" ;,\"'\\%&?=") != std::string::npos)
            throw UsageError{"--token needs at least 8 characters, none of them spaces or ;,\"'\\%&?="};
        options.token = *v;
    }
    const std::optional<bool> loopback = traxserve::IsLoopbackAddress(options.bind);
    if (!loopback) throw UsageError{"--bind: '" + options.bind + "' is not an IP address"};
    // Beyond loopback anybody on the network could reach the controller, so
    // a token is needed there; without --token the server makes one.
    if (!*loopback && options.token.empty()) {
        options.token = traxserve::MakeToken();
        ctx.err << "traxctl serve: listening beyond loopback needs a token; made one: " << options.token << "\n";
    }
    if (ctx.units.readCode)
        throw UsageError{
            "serve takes --unit, not --read-unit: reading the unit would switch the controller "
            "to setting mode"};
    options.unit = ctx.units.name;
    return traxserve::Serve(options, ctx.out, ctx.err);
}

}  // namespace traxctl
