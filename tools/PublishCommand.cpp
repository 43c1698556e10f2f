#include "PublishCommand.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "Cli.h"
#include "Identity.h"
#include "client/AtomicFile.h"
#include "publish/Publisher.h"

namespace traxctl {

namespace {

constexpr const char* kPasswordVariable = "TRAX_MQTT_PASSWORD";

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host = name;
    // A topic level: no separators or wildcards in it.
    for (char& c : host)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x21) c = '_';
    return host;
}

std::string CheckedPrefix(const std::string& prefix) {
    if (prefix.empty() || prefix.size() > 200 || prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find_first_of("+#") != std::string::npos || prefix.find("//") != std::string::npos)
        throw UsageError{"--topic: '" + prefix.substr(0, 60) +
                         "' is not a topic prefix (1..200 characters, no + or #, no empty level)"};
    for (char c : prefix)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            throw UsageError{"--topic: control characters are not allowed"};
    return prefix;
}

std::string PasswordFrom(const Args& args) {
    if (const std::string* file = args.Option("password-file")) {
        std::string error;
        std::string text = trax::client::ReadWholeFile(*file, &error);
        if (!error.empty()) throw FileError{"--password-file: " + error};
        const auto end = text.find_first_of("\r\n");
        if (end != std::string::npos) text.erase(end);
        if (text.empty()) throw UsageError{"--password-file: '" + *file + "' holds no password on its first line"};
        return text;
    }
    const char* fromEnvironment = std::getenv(kPasswordVariable);
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

}  // namespace

int RunPublish(Context& ctx) {
    ExpectWords(ctx.args, 0, 0);
    if (ctx.args.Has("password"))
        throw UsageError{std::string("a password never goes on the command line (others can read it there): use "
                                     "--password-file FILE or the environment variable ") +
                         kPasswordVariable};
    trax::publish::PublishOptions o;
    const std::string* broker = ctx.args.Option("broker");
    if (broker == nullptr) throw UsageError{"--broker mqtt://HOST[:PORT] or mqtts://HOST[:PORT] is needed"};
    try {
        o.link.broker = trax::publish::ParseBroker(*broker);
    } catch (const std::invalid_argument& e) {
        throw UsageError{std::string("--broker: ") + e.what()};
    }
    o.prefix = CheckedPrefix(ctx.args.Option("topic") ? *ctx.args.Option("topic") : "trax/" + HostName());
    if (auto* v = ctx.args.Option("rate")) o.rateHz = ParseInt(*v, 1, 1000, "--rate");
    if (auto* v = ctx.args.Option("qos")) o.qos = ParseInt(*v, 0, 1, "--qos");
    o.link.clientId = ctx.args.Option("client-id") ? *ctx.args.Option("client-id") : "trax-" + HostName();
    if (o.link.clientId.empty() || o.link.clientId.size() > 128) throw UsageError{"--client-id: 1..128 characters"};
    if (auto* v = ctx.args.Option("username")) o.link.username = *v;
    o.link.password = PasswordFrom(ctx.args);
    if (!o.link.password.empty() && o.link.username.empty())
        throw UsageError{"a password without --username: name the user too"};
    for (const char* name : {"cafile", "cert", "key"}) {
        const std::string* v = ctx.args.Option(name);
        if (v == nullptr) continue;
        if (!o.link.broker.tls) throw UsageError{std::string("--") + name + " goes with an mqtts:// broker"};
        if (::access(v->c_str(), R_OK) != 0) throw FileError{std::string("--") + name + ": cannot read '" + *v + "'"};
    }
    if (auto* v = ctx.args.Option("cafile")) o.link.cafile = *v;
    if (auto* v = ctx.args.Option("cert")) o.link.cert = *v;
    if (auto* v = ctx.args.Option("key")) o.link.key = *v;
    if (o.link.cert.empty() != o.link.key.empty()) throw UsageError{"--cert and --key go together"};
    if (auto* v = ctx.args.Option("spool")) o.spoolDir = *v;
    if (auto* v = ctx.args.Option("spool-max")) {
        try {
            o.spoolMax = trax::publish::ParseSize(*v);
        } catch (const std::invalid_argument& e) {
            throw UsageError{std::string("--spool-max: ") + e.what()};
        }
        if (o.spoolMax < 4096) throw UsageError{"--spool-max: at least 4k"};
    }
    o.storage = ctx.args.Has("storage");
    o.allowCommands = ctx.args.Has("allow-commands");
    if (ctx.args.Has("insecure-commands") && !o.allowCommands)
        throw UsageError{"--insecure-commands goes with --allow-commands"};
    // Commands change a production controller: only from a broker whose
    // identity is checked (TLS) and that knows who this is (a login), unless
    // the user says otherwise in so many words.
    if (o.allowCommands && !ctx.args.Has("insecure-commands") &&
        (!o.link.broker.tls || (o.link.username.empty() && o.link.cert.empty())))
        throw UsageError{
            "--allow-commands needs an mqtts:// broker and --username (or a client certificate): anybody on the "
            "network could otherwise change the controller; --insecure-commands allows them all the same"};
    if (auto* v = ctx.args.Option("metrics-port")) o.metricsPort = ParseInt(*v, 0, 65535, "--metrics-port");
    if (auto* v = ctx.args.Option("connect-timeout"))
        o.connectTimeout = std::chrono::seconds(ParseInt(*v, 1, 86400, "--connect-timeout"));
    o.readSettingsAtStart = !ctx.args.Has("no-settings");
    if (ctx.units.readCode)
        throw UsageError{"publish takes --unit, not --read-unit: reading the unit would stop measurement"};
    o.unit = ctx.units.name;
    o.traxctlVersion = TRAXCTL_VERSION;
    o.libraryVersion = LibraryVersion();
    o.driver = trax::client::ReadStartupReport().driver;
    o.interrupted = InterruptRequested;
    return trax::publish::RunPublish(std::move(o), ctx.out, ctx.err);
}

}  // namespace traxctl
