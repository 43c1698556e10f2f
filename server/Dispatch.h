// One request from its parsed header and body to what the server does with
// it: a reply at once (a refusal, a page asset), an API route to run on the
// device thread, or a live stream. No sockets here, so the fuzzer drives the
// same code the server runs.
#pragma once

#include <boost/beast/http.hpp>

#include <optional>
#include <string>

#include "Api.h"
#include "Security.h"

namespace traxserve {

constexpr std::size_t kHeaderLimit = 8 * 1024;
// The parser judges Content-Length against this while reading the header,
// before the route (and so its own limit) is known.
constexpr std::size_t kMaxBodyLimit = 1024 * 1024;

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

struct Decision {
    enum class Kind { Reply, Api, Stream };
    Kind kind = Kind::Reply;
    Reply reply;                   // Kind::Reply
    bool close = false;            // close the connection after the reply
    const Route* route = nullptr;  // Kind::Api
    Request request;               // Kind::Api
    std::string target;            // Kind::Stream: path and query
};

// A parser set up with the server's limits.
void LimitParser(HttpParser& parser);
// The reply to a read that failed with `ec` (a header or body over its
// limit, a malformed message); nullopt when the connection just ended.
std::optional<Reply> ReadRefusal(const boost::system::error_code& ec);
// Once the header is in: the target's checks and the route's body limit,
// set on the parser. A reply when the request is refused already.
std::optional<Reply> CheckHeader(HttpParser& parser);
// Once the whole request is in.
Decision Decide(const Policy& policy, const HttpRequest& request);
// The headers every reply carries, and the status line's words.
const char* StatusText(int status);

}  // namespace traxserve
