// Who may talk to the server, decided before a request reaches a handler.
// A server that can change a production controller's settings must not be
// reachable by others by accident: a foreign Host (DNS rebinding), a foreign
// Origin (another site's page in the same browser), a missing token (another
// machine on the network) and any change under --read-only are refused.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace traxserve {

struct Policy {
    unsigned short port = 0;
    // Host names besides IP literals and "localhost" that name this server
    // (the machine's own name when listening beyond loopback).
    std::vector<std::string> names;
    std::string token;  // empty: none needed
    bool readOnly = false;
};

// What a handler needs to know about a request to judge it.
struct RequestFacts {
    std::string method;
    std::string target;  // path and query as sent
    std::string host;    // Host header, empty when absent
    std::optional<std::string> origin;
    int hosts = 1;    // how many Host headers came: a second one is refused
    int origins = 0;  // how many Origin headers came
    // Sec-Fetch-Site ("same-origin", "cross-site", ...) as a browser sends it.
    std::optional<std::string> fetchSite;
    // The page's own mark (X-Trax-Request): another site's page cannot send
    // it without a preflight this server never grants.
    bool pageMark = false;
    std::string contentType;
    std::string authorization;
    std::string cookie;
};

struct Refusal {
    int status;
    std::string error;  // what was wrong, for the JSON body
};

// Path checks: absolute, printable, no dot segments, no backslashes, bounded.
std::optional<Refusal> CheckTarget(const std::string& target);
// What a request may do to the controller, and so what it must prove.
enum class Guard {
    Read,  // Host, Origin when sent, token
    // A read that switches the controller to setting mode and so interrupts
    // measurement: also proven same-origin (Origin naming this server,
    // Sec-Fetch-Site same-origin or the page's mark) and never when read-only.
    LeavesMeasurement,
    // A change: also POST, a JSON body and the server's own Origin.
    Change,
};

// Host, Origin and token, and what the guard asks for beyond them.
std::optional<Refusal> CheckRequest(const Policy& policy, const RequestFacts& request, Guard guard);
inline std::optional<Refusal> CheckRequest(const Policy& policy, const RequestFacts& request, bool changes) {
    return CheckRequest(policy, request, changes ? Guard::Change : Guard::Read);
}

// The value of one query parameter (percent-decoded), or nullopt.
std::optional<std::string> QueryValue(const std::string& target, const std::string& name);
// The path without the query.
std::string PathOf(const std::string& target);

// A new random token for a server that listens beyond loopback.
std::string MakeToken();

}  // namespace traxserve
