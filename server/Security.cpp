#include "Security.h"

#include <cctype>
#include <random>

#include "client/Number.h"

namespace traxserve {

namespace {

constexpr size_t kMaxTarget = 2048;

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Compares without stopping at the first difference, so that the time taken
// does not tell how much of a guessed token was right.
bool SameSecret(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
    return diff == 0 && !b.empty();
}

bool IsIpv4(const std::string& name) {
    int parts = 0, digits = 0;
    for (char c : name) {
        if (c == '.') {
            if (digits == 0) return false;
            ++parts;
            digits = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c)) && digits < 3) {
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

// An IP literal cannot be rebound to another address by a name server, so
// every literal is as good as the server's own name.
bool NamesThisServer(const Policy& policy, const std::string& name) {
    if (EqualNoCase(name, "localhost") || IsIpv4(name)) return true;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        for (size_t i = 1; i + 1 < name.size(); ++i) {
            const char c = name[i];
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
        }
        return true;
    }
    for (const std::string& n : policy.names) {
        if (EqualNoCase(name, n)) return true;
    }
    return false;
}

// "name:port" with the port this server listens on (or none for port 80).
bool HostIsThisServer(const Policy& policy, const std::string& host) {
    if (host.empty()) return false;
    std::string name = host;
    std::string port;
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
    }
    const std::string ours = std::to_string(policy.port);
    if (port.empty() ? policy.port != 80 : port != ours) return false;
    return NamesThisServer(policy, name);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() + 0 && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string TokenOf(const RequestFacts& request) {
    const std::string bearer = "Bearer ";
    if (request.authorization.compare(0, bearer.size(), bearer) == 0)
        return request.authorization.substr(bearer.size());
    if (auto q = QueryValue(request.target, "token")) return *q;
    // The page's own requests carry the token as the cookie set when it was
    // first opened with ?token=.
    const std::string key = "trax_token=";
    size_t at = request.cookie.find(key);
    while (at != std::string::npos && at != 0 && request.cookie[at - 1] != ' ' && request.cookie[at - 1] != ';')
        at = request.cookie.find(key, at + 1);
    if (at == std::string::npos) return "";
    const size_t end = request.cookie.find(';', at);
    return request.cookie.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

}  // namespace

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

std::optional<std::string> QueryValue(const std::string& target, const std::string& name) {
    const size_t q = target.find('?');
    if (q == std::string::npos) return std::nullopt;
    const std::string query = target.substr(q + 1);
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (Decode(pair.substr(0, eq)) == name) return eq == std::string::npos ? "" : Decode(pair.substr(eq + 1));
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<Refusal> CheckTarget(const std::string& target) {
    if (target.empty() || target[0] != '/') return Refusal{400, "the request target must be an absolute path"};
    if (target.size() > kMaxTarget) return Refusal{414, "the request target is longer than 2048 characters"};
    for (char c : target) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x21 || u > 0x7e || c == '\\') return Refusal{400, "the request target holds a character not allowed"};
    }
    const std::string path = PathOf(target);
    if (path.find("/./") != std::string::npos || path.find("/../") != std::string::npos ||
        path.find("//") != std::string::npos || (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) ||
        (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0) || path.find('%') != std::string::npos)
        return Refusal{400, "the request path holds dot segments, empty segments or escapes"};
    return std::nullopt;
}

std::optional<Refusal> CheckRequest(const Policy& policy, const RequestFacts& request, Guard guard) {
    // Two Host or Origin headers: which one a proxy or a check reads is
    // anybody's guess, so neither is trusted.
    if (request.hosts > 1) return Refusal{400, "the request has more than one Host header"};
    if (request.origins > 1) return Refusal{400, "the request has more than one Origin header"};
    if (!HostIsThisServer(policy, request.host))
        return Refusal{421, "Host '" + trax::client::Shown(request.host, 100) + "' does not name this server"};
    const std::string ownOrigin = "http://" + request.host;
    const bool sameOrigin = request.origin && EqualNoCase(*request.origin, ownOrigin);
    if (request.origin && !sameOrigin)
        return Refusal{403,
                       "cross-site request from origin '" + trax::client::Shown(*request.origin, 100) + "' refused"};
    if (!policy.token.empty() && !SameSecret(TokenOf(request), policy.token))
        return Refusal{401, "this server needs its token (Authorization: Bearer TOKEN, or ?token=TOKEN)"};
    if (guard == Guard::Read) return std::nullopt;
    // The browser's own word on where the request comes from outweighs the rest.
    if (request.fetchSite && *request.fetchSite != "same-origin" && *request.fetchSite != "none")
        return Refusal{403, "request from another site (Sec-Fetch-Site: " +
                                trax::client::Shown(*request.fetchSite, 20) + ") refused"};
    if (guard == Guard::LeavesMeasurement) {
        if (policy.readOnly)
            return Refusal{403,
                           "the server is read-only (--read-only): reading settings would switch the "
                           "controller to setting mode and interrupt measurement"};
        const bool proven =
            sameOrigin || (request.fetchSite && *request.fetchSite == "same-origin") || request.pageMark;
        if (!proven)
            return Refusal{403,
                           "reading settings interrupts measurement, so it needs the proof a change needs: "
                           "an Origin header naming this server"};
        return std::nullopt;
    }
    if (request.method != "POST") return Refusal{405, "changes need POST"};
    if (policy.readOnly) return Refusal{403, "the server is read-only (--read-only): no changes"};
    if (!request.origin) return Refusal{403, "changes need an Origin header naming this server"};
    const std::string type = request.contentType.substr(0, request.contentType.find(';'));
    if (!EqualNoCase(type, "application/json"))
        return Refusal{415, "changes need a JSON body (Content-Type: application/json)"};
    return std::nullopt;
}

std::string MakeToken() {
    std::random_device random;
    static const char kDigits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) token += kDigits[random() & 15];
    return token;
}

}  // namespace traxserve
