#include "Dispatch.h"

#include "WebAssets.h"
#include "client/Number.h"

namespace traxserve {

namespace http = boost::beast::http;

namespace {

constexpr std::size_t kNoBody = 1024;

// Every value of a header, counted: a second Host or Origin is refused.
int CountOf(const HttpRequest& request, http::field field) {
    const auto range = request.equal_range(field);
    return static_cast<int>(std::distance(range.first, range.second));
}

RequestFacts FactsOf(const HttpRequest& req) {
    RequestFacts facts;
    facts.method = std::string(req.method_string());
    facts.target = std::string(req.target());
    facts.host = std::string(req[http::field::host]);
    facts.hosts = CountOf(req, http::field::host);
    facts.origins = CountOf(req, http::field::origin);
    if (req.find(http::field::origin) != req.end()) facts.origin = std::string(req[http::field::origin]);
    if (req.find("Sec-Fetch-Site") != req.end()) facts.fetchSite = std::string(req["Sec-Fetch-Site"]);
    facts.pageMark = req.find("X-Trax-Request") != req.end();
    facts.contentType = std::string(req[http::field::content_type]);
    facts.authorization = std::string(req[http::field::authorization]);
    facts.cookie = std::string(req[http::field::cookie]);
    return facts;
}

Decision Answer(Reply reply, bool close) {
    Decision d;
    d.reply = std::move(reply);
    d.close = close;
    return d;
}

Decision Refused(const Refusal& refusal, bool close) {
    return Answer(ErrorReply(refusal.status, refusal.error), close);
}

}  // namespace

const char* StatusText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 421:
        return "Misdirected Request";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "";
    }
}

void LimitParser(HttpParser& parser) {
    parser.header_limit(kHeaderLimit);
    parser.body_limit(kMaxBodyLimit);
}

std::optional<Reply> ReadRefusal(const boost::system::error_code& ec) {
    if (ec == http::error::header_limit) return ErrorReply(431, "request headers larger than 8 KiB");
    if (ec == http::error::body_limit) return ErrorReply(413, "request body too large");
    // The parser's other refusals (a malformed request line, header or
    // chunk) get a reply; a connection that ended or timed out does not.
    const bool parserRefusal = ec.category() == http::make_error_code(http::error::bad_target).category();
    if (parserRefusal && ec != http::error::end_of_stream && ec != http::error::partial_message)
        return ErrorReply(400, "malformed HTTP request");
    return std::nullopt;
}

std::optional<Reply> CheckHeader(HttpParser& parser) {
    const std::string target(parser.get().target());
    if (auto refusal = CheckTarget(target)) return ErrorReply(refusal->status, refusal->error);
    const Route* route = FindRoute(std::string(parser.get().method_string()), PathOf(target));
    const std::size_t limit = route != nullptr && route->bodyLimit > 0 ? route->bodyLimit : kNoBody;
    parser.body_limit(limit);
    const auto length = parser.content_length();
    if (length && *length > limit) return ErrorReply(413, "request body too large");
    return std::nullopt;
}

Decision Decide(const Policy& policy, const HttpRequest& req) {
    const RequestFacts facts = FactsOf(req);
    const bool close = !req.keep_alive();
    const std::string path = PathOf(facts.target);

    if (path == "/api/live") {
        if (auto refusal = CheckRequest(policy, facts, Guard::Read)) return Refused(*refusal, true);
        if (facts.method != "GET") return Answer(ErrorReply(405, "the live stream is read with GET"), true);
        Decision d;
        d.kind = Decision::Kind::Stream;
        d.target = facts.target;
        return d;
    }
    const std::string methods = MethodsOf(path);
    if (!methods.empty()) {
        const Route* route = FindRoute(facts.method, path);
        if (route == nullptr) {
            if (auto refusal = CheckRequest(policy, facts, Guard::Read)) return Refused(*refusal, close);
            return Answer(ErrorReply(405, path + " takes " + methods), close);
        }
        const Guard guard = route->changes             ? Guard::Change
                            : route->leavesMeasurement ? Guard::LeavesMeasurement
                                                       : Guard::Read;
        if (auto refusal = CheckRequest(policy, facts, guard)) return Refused(*refusal, close);
        Decision d;
        d.kind = Decision::Kind::Api;
        d.close = close;
        d.route = route;
        d.request = Request{facts.method, facts.target, path, req.body()};
        return d;
    }
    if (const Asset* asset = FindAsset(path)) {
        if (auto refusal = CheckRequest(policy, facts, Guard::Read)) return Refused(*refusal, close);
        if (facts.method != "GET") return Answer(ErrorReply(405, path + " takes GET"), close);
        Reply reply;
        reply.contentType = asset->contentType;
        reply.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
        // Opened with ?token=: the page's own requests carry it from now on.
        if (!policy.token.empty() && QueryValue(facts.target, "token"))
            reply.headers["Set-Cookie"] = "trax_token=" + policy.token + "; Path=/; HttpOnly; SameSite=Strict";
        return Answer(std::move(reply), close);
    }
    if (auto refusal = CheckRequest(policy, facts, Guard::Read)) return Refused(*refusal, close);
    return Answer(ErrorReply(404, "nothing at " + trax::client::Shown(path, 200)), close);
}

}  // namespace traxserve
