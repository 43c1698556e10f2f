// The serve command's options, checked before anything listens.
#include "ServeCommand.h"

#include <boost/asio/ip/address.hpp>

#include "Cli.h"
#include "Security.h"
#include "Serve.h"
#include "client/Number.h"

namespace traxserve {

int RunServe(traxctl::Context& ctx) {
    traxctl::ExpectWords(ctx.args, 0, 0);
    ServeOptions options;
    options.version = TRAXCTL_VERSION;
    if (auto* v = ctx.args.Option("port"))
        options.port = static_cast<unsigned short>(traxctl::ParseInt(*v, 0, 65535, "--port"));
    if (auto* v = ctx.args.Option("bind")) options.bind = *v;
    if (auto* v = ctx.args.Option("rate")) options.rateHz = traxctl::ParseInt(*v, 1, 100, "--rate");
    options.readOnly = ctx.args.Has("read-only");
    if (auto* v = ctx.args.Option("max-viewers"))
        options.maxViewers = static_cast<std::size_t>(traxctl::ParseInt(*v, 1, 1000, "--max-viewers"));
    if (auto* v = ctx.args.Option("idle-timeout")) {
        try {
            options.idleTimeout = std::chrono::milliseconds(
                static_cast<long long>(trax::client::ReadDecimal(*v, 0.05, 3600, "--idle-timeout") * 1000));
        } catch (const trax::client::InputError& e) {
            throw traxctl::UsageError{e.message + " (seconds)"};
        }
    }
    if (auto* v = ctx.args.Option("token")) {
        if (v->size() < 8 || v->find_first_of(" ;,\"'\\%&?=") != std::string::npos)
            throw traxctl::UsageError{"--token needs at least 8 characters, none of them spaces or ;,\"'\\%&?="};
        options.token = *v;
    }
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(options.bind, ec);
    if (ec) throw traxctl::UsageError{"--bind: '" + options.bind + "' is not an IP address"};
    // Beyond loopback anybody on the network could reach the controller, so
    // a token is needed there; without --token the server makes one.
    if (!address.is_loopback() && options.token.empty()) {
        options.token = MakeToken();
        ctx.err << "traxctl serve: listening beyond loopback needs a token; made one: " << options.token << "\n";
    }
    if (ctx.units.readCode)
        throw traxctl::UsageError{
            "serve takes --unit, not --read-unit: reading the unit would switch the controller "
            "to setting mode"};
    options.unit = ctx.units.name;
    return Serve(options, ctx.out, ctx.err);
}

}  // namespace traxserve
