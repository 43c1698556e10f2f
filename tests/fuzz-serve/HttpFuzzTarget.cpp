// libFuzzer target over traxctl serve's request handling: the HTTP parser
// with the server's limits, the target, Host, Origin and token checks, and
// every route's handler, with the library faked (FakeLibrary.h).
//
// Input: one byte of set-up (bit 0: library calls succeed; bit 1: the server
// is read-only; bit 2: it needs a token), then the bytes of one request.
//
// Oracle: nothing crashes or trips a sanitizer; a request that is answered
// gets a complete HTTP reply whose body is JSON (for the API and every
// refusal); a 4xx answer (bad input, a refused request) made no library call.
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "Api.h"
#include "Device.h"
#include "Dispatch.h"
#include "FakeLibrary.h"

namespace http = boost::beast::http;
using namespace traxserve;

namespace {

[[noreturn]] void Broken(const char* what, const Reply& reply) {
    std::fprintf(stderr, "oracle: %s (status %d, %zu bytes of %s)\n", what, reply.status, reply.body.size(),
                 reply.contentType.c_str());
    std::abort();
}

// The reply as the server writes it, read back by an independent parser.
void CheckWire(const Reply& reply) {
    http::response<http::string_body> response;
    response.version(11);
    response.result(static_cast<unsigned>(reply.status));
    response.reason(StatusText(reply.status));
    response.set(http::field::content_type, reply.contentType);
    for (const auto& h : reply.headers) response.set(h.first, h.second);
    response.body() = reply.body;
    response.prepare_payload();
    std::ostringstream wire;
    wire << response;
    const std::string text = wire.str();
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    parser.eager(true);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(text), ec);
    if (ec || !parser.is_done() || parser.get().body() != reply.body)
        Broken("the reply does not read back whole", reply);
}

void Check(const Reply& reply, std::uint64_t callsBefore, bool jsonExpected) {
    if (reply.status < 200 || reply.status > 599 || StatusText(reply.status)[0] == '\0')
        Broken("a status the server does not know", reply);
    const bool json = reply.contentType == "application/json";
    if (jsonExpected && !json) Broken("an API reply or refusal that is not JSON", reply);
    // accept() also checks that every string is UTF-8.
    if (json && !nlohmann::json::accept(reply.body)) Broken("a body that is not JSON", reply);
    // 409 is the controller's answer to a load (values read back differ), not a refusal.
    if (reply.status >= 400 && reply.status < 500 && reply.status != 409 && trax::fuzz::FakeCalls() != callsBefore)
        Broken("a refused request reached the library", reply);
    CheckWire(reply);
}

Device& FakeDevice() {
    // Never destroyed: its thread idles (nobody watches) for the whole run.
    static Device* device = new Device(
        20, [](Device&) { return std::string("{}"); }, [](const Sample&) {});
    return *device;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    trax::fuzz::SetFakeResult(data[0] & 1);
    Policy policy;
    policy.port = 8642;
    policy.readOnly = (data[0] & 2) != 0;
    if (data[0] & 4) policy.token = "fuzz-token-1234";
    ApiContext api;
    api.device = &FakeDevice();
    api.readOnly = policy.readOnly;
    api.version = "0";
    const std::uint64_t before = trax::fuzz::FakeCalls();

    HttpParser parser;
    LimitParser(parser);
    boost::beast::error_code ec;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    std::size_t left = size - 1;
    bool headerChecked = false;
    while (!parser.is_done()) {
        if (left == 0) return 0;  // the server would wait for the rest
        const std::size_t used = parser.put(boost::asio::buffer(bytes, left), ec);
        bytes += used;
        left -= used;
        if (ec == http::error::need_more) {
            if (left == 0 || used == 0) return 0;  // the server would wait for more
            ec = {};
            continue;
        }
        if (ec) {
            if (auto reply = ReadRefusal(ec)) Check(*reply, before, true);
            return 0;
        }
        if (parser.is_header_done() && !headerChecked) {
            headerChecked = true;
            if (auto reply = CheckHeader(parser)) {
                Check(*reply, before, true);
                return 0;
            }
        }
    }
    if (!headerChecked) {
        if (auto reply = CheckHeader(parser)) {
            Check(*reply, before, true);
            return 0;
        }
    }
    const Decision d = Decide(policy, parser.get(), 20);
    if (d.kind == Decision::Kind::Reply) {
        const bool api = d.reply.contentType == "application/json" || d.reply.status >= 400;
        Check(d.reply, before, api);
    } else if (d.kind == Decision::Kind::Api) {
        // A route may answer with CSV or metrics text; every refusal and failure is JSON.
        const Reply reply = Handle(*d.route, api, d.request);
        Check(reply, before, reply.status >= 400);
    } else if (d.stride == 0) {
        std::fprintf(stderr, "oracle: a live stream with stride 0\n");
        std::abort();
    }
    return 0;
}
