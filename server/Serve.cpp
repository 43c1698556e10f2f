// The HTTP side: one io thread runs every connection (accept, read, write,
// the live stream's fan-out), so the sessions and the viewer list need no
// lock. Library calls never run here: requests go to the Device's queue and
// their replies come back to the io thread by asio::post.
#include "Serve.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <deque>
#include <list>
#include <memory>
#include <optional>

#include "Api.h"
#include "Device.h"
#include "Security.h"
#include "WebAssets.h"
#include "client/Number.h"

namespace traxserve {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kNoBody = 1024;
constexpr std::size_t kMaxBodyLimit = 1024 * 1024;
constexpr std::size_t kMaxConnections = 256;
// A viewer that falls this many events behind is dropped rather than
// letting its queue grow without bound.
constexpr std::size_t kMaxQueuedEvents = 512;
constexpr auto kIdleTimeout = std::chrono::seconds(60);
constexpr std::size_t kMaxDrain = 1024 * 1024;
// A live viewer's slowest rate: one sample every 100 s.
constexpr double kSlowestRate = 0.01;

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

class Session;

// State shared by every session; touched on the io thread only.
struct Server {
    asio::io_context& io;
    Policy policy;
    ApiContext api;
    std::list<std::weak_ptr<Session>> sessions;
    std::vector<std::shared_ptr<Session>> viewers;
    bool stopping = false;
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Server& server) : stream_(std::move(socket)), server_(server) {}

    void Start() { ReadHeader(); }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    // A live sample for a viewer: every stride_-th one is sent.
    void Push(const std::shared_ptr<const std::string>& event, bool always) {
        if (!always && (count_++ % stride_) != 0) return;
        if (queue_.size() >= kMaxQueuedEvents) {
            Close();
            return;
        }
        queue_.push_back(event);
        if (queue_.size() == 1) WriteNextEvent();
    }

private:
    void ReadHeader() {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        // The parser would judge Content-Length against this while reading
        // the header, before the route (and so its limit) is known; the
        // route's limit is set once the header is in.
        parser_->body_limit(kMaxBodyLimit);
        stream_.expires_after(kIdleTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
    }

    void OnHeader(beast::error_code ec) {
        if (ec == http::error::header_limit) return Send(ErrorReply(431, "request headers larger than 8 KiB"), true);
        if (ec == http::error::body_limit) return Send(ErrorReply(413, "request body too large"), true);
        if (ec) return Close();
        const std::string target(parser_->get().target());
        if (auto refusal = CheckTarget(target)) return Send(ErrorReply(refusal->status, refusal->error), true);
        const Route* route = FindRoute(std::string(parser_->get().method_string()), PathOf(target));
        const std::size_t limit = route != nullptr && route->bodyLimit > 0 ? route->bodyLimit : kNoBody;
        parser_->body_limit(limit);
        const auto length = parser_->content_length();
        if (length && *length > limit) return Send(ErrorReply(413, "request body too large"), true);
        if (parser_->is_done()) return OnBody({});
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code e, std::size_t) { self->OnBody(e); });
    }

    void OnBody(beast::error_code ec) {
        if (ec == http::error::body_limit) return Send(ErrorReply(413, "request body too large"), true);
        if (ec) return Close();
        const auto& req = parser_->get();
        keepAlive_ = req.keep_alive();
        RequestFacts facts;
        facts.method = std::string(req.method_string());
        facts.target = std::string(req.target());
        facts.host = std::string(req[http::field::host]);
        if (req.find(http::field::origin) != req.end()) facts.origin = std::string(req[http::field::origin]);
        facts.contentType = std::string(req[http::field::content_type]);
        facts.authorization = std::string(req[http::field::authorization]);
        facts.cookie = std::string(req[http::field::cookie]);
        const std::string path = PathOf(facts.target);

        if (path == "/api/live") {
            if (auto refusal = CheckRequest(server_.policy, facts, false))
                return Send(ErrorReply(refusal->status, refusal->error), true);
            if (facts.method != "GET") return Send(ErrorReply(405, "the live stream is read with GET"), true);
            return StartStream(facts.target);
        }
        const std::string methods = MethodsOf(path);
        if (!methods.empty()) {
            const Route* route = FindRoute(facts.method, path);
            if (route == nullptr) {
                if (auto refusal = CheckRequest(server_.policy, facts, false))
                    return Send(ErrorReply(refusal->status, refusal->error), !keepAlive_);
                return Send(ErrorReply(405, path + " takes " + methods), !keepAlive_);
            }
            if (auto refusal = CheckRequest(server_.policy, facts, route->changes))
                return Send(ErrorReply(refusal->status, refusal->error), !keepAlive_);
            Request request{facts.method, facts.target, path, req.body()};
            auto self = shared_from_this();
            Server& server = server_;
            server_.api.device->Submit([self, route, request, &server] {
                Reply reply = Handle(*route, server.api, request);
                asio::post(server.io, [self, reply = std::move(reply)]() mutable { self->Send(std::move(reply)); });
            });
            return;
        }
        if (const Asset* asset = FindAsset(path)) {
            if (auto refusal = CheckRequest(server_.policy, facts, false))
                return Send(ErrorReply(refusal->status, refusal->error), !keepAlive_);
            if (facts.method != "GET") return Send(ErrorReply(405, path + " takes GET"), !keepAlive_);
            Reply reply;
            reply.contentType = asset->contentType;
            reply.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
            // Opened with ?token=: the page's own requests carry it from now on.
            if (!server_.policy.token.empty() && QueryValue(facts.target, "token"))
                reply.headers["Set-Cookie"] =
                    "trax_token=" + server_.policy.token + "; Path=/; HttpOnly; SameSite=Strict";
            return Send(std::move(reply));
        }
        if (auto refusal = CheckRequest(server_.policy, facts, false))
            return Send(ErrorReply(refusal->status, refusal->error), !keepAlive_);
        Send(ErrorReply(404, "nothing at " + path.substr(0, 200)), !keepAlive_);
    }

    void Send(Reply reply, bool close = false) {
        if (server_.stopping) return Close();
        auto response = std::make_shared<http::response<http::string_body>>();
        response->version(11);
        response->result(static_cast<unsigned>(reply.status));
        response->reason(StatusText(reply.status));
        response->set(http::field::server, "traxctl");
        response->set(http::field::content_type, reply.contentType);
        response->set(http::field::cache_control, "no-store");
        response->set("X-Content-Type-Options", "nosniff");
        response->set("X-Frame-Options", "DENY");
        response->set("Referrer-Policy", "no-referrer");
        response->set("Content-Security-Policy",
                      "default-src 'self'; img-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
                      "frame-ancestors 'none'");
        for (const auto& h : reply.headers) response->set(h.first, h.second);
        response->body() = std::move(reply.body);
        response->keep_alive(keepAlive_ && !close);
        response->prepare_payload();
        stream_.expires_after(kIdleTimeout);
        http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
            if (ec || !response->keep_alive()) return self->Close();
            self->ReadHeader();
        });
    }

    void StartStream(const std::string& target) {
        const double serverRate = server_.api.device->RateHz();
        if (auto r = QueryValue(target, "rate")) {
            // The slowest rate keeps the stride (server rate / rate) far inside unsigned.
            double wanted = 0;
            try {
                wanted = trax::client::ReadDecimal(*r, kSlowestRate, serverRate, "rate");
            } catch (const trax::client::InputError& e) {
                return Send(ErrorReply(400, e.message + " (samples per second)"), true);
            }
            stride_ = static_cast<unsigned>(std::max(1.0, serverRate / wanted + 0.5));
        }
        stream_.expires_never();
        streaming_ = true;
        server_.viewers.push_back(shared_from_this());
        server_.api.device->AddViewer();
        Push(std::make_shared<const std::string>(
                 "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                 "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\nretry: 2000\n\n"),
             true);
        // The viewer sends nothing more; a read that ends tells it has gone.
        stream_.socket().async_read_some(
            asio::buffer(sink_), [self = shared_from_this()](beast::error_code, std::size_t) { self->EndStream(); });
    }

    void WriteNextEvent() {
        asio::async_write(stream_.socket(), asio::buffer(*queue_.front()),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec) return self->EndStream();
                              self->queue_.pop_front();
                              if (!self->queue_.empty()) self->WriteNextEvent();
                          });
    }

    void EndStream() {
        if (!streaming_) return;
        streaming_ = false;
        Close();
        auto& v = server_.viewers;
        v.erase(std::remove(v.begin(), v.end(), shared_from_this()), v.end());
        server_.api.device->RemoveViewer();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Server& server_;
    bool keepAlive_ = false;
    bool streaming_ = false;
    unsigned stride_ = 1;
    unsigned long count_ = 0;
    std::deque<std::shared_ptr<const std::string>> queue_;
    char sink_[4096];
};

void Accept(tcp::acceptor& acceptor, Server& server) {
    acceptor.async_accept([&acceptor, &server](beast::error_code ec, tcp::socket socket) {
        if (server.stopping || ec == asio::error::operation_aborted) return;
        server.sessions.remove_if([](const std::weak_ptr<Session>& s) { return s.expired(); });
        // A failed accept (out of descriptors, a connection reset before it
        // was taken) must not end the listening: go on with the next one.
        if (!ec && server.sessions.size() < kMaxConnections) {
            auto session = std::make_shared<Session>(std::move(socket), server);
            server.sessions.push_back(session);
            session->Start();
        }
        Accept(acceptor, server);
    });
}

// Sent to every viewer, on the io thread.
void FanOut(Server& server, const Sample& sample) {
    std::string text;
    if (sample.ok) {
        text = "event: values\ndata: " + sample.json + "\n\n";
    } else {
        text = "event: failure\ndata: " + FailureReply(sample.failure).body + "\n\n";
    }
    auto event = std::make_shared<const std::string>(std::move(text));
    // Push may close and remove a viewer; walk a copy.
    const auto viewers = server.viewers;
    for (const auto& v : viewers) v->Push(event, !sample.ok);
}

}  // namespace

std::optional<bool> IsLoopbackAddress(const std::string& bind) {
    beast::error_code ec;
    const auto address = asio::ip::make_address(bind, ec);
    if (ec) return std::nullopt;
    return address.is_loopback();
}

int Serve(const ServeOptions& options, std::ostream& out, std::ostream& err) {
    asio::io_context io(1);
    beast::error_code ec;
    const auto address = asio::ip::make_address(options.bind, ec);
    if (ec) {
        err << "traxctl serve: '" << options.bind << "' is not an IP address\n";
        return 2;
    }
    tcp::acceptor acceptor(io);
    const tcp::endpoint endpoint(address, options.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        err << "traxctl serve: cannot listen on " << options.bind << ":" << options.port << ": " << ec.message()
            << "\n";
        return 1;
    }
    const unsigned short port = acceptor.local_endpoint().port();

    Server server{io, {}, {}, {}, {}, false};
    server.policy.port = port;
    server.policy.token = options.token;
    server.policy.readOnly = options.readOnly;
    if (!address.is_loopback()) server.policy.names.push_back(asio::ip::host_name(ec));
    server.api.unit = options.unit;
    server.api.readOnly = options.readOnly;
    server.api.version = options.version;

    Device device(
        options.rateHz, [unit = options.unit](Device& d) { return PollValues(d, unit); },
        [&server](const Sample& sample) { asio::post(server.io, [&server, sample] { FanOut(server, sample); }); });
    server.api.device = &device;

    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](beast::error_code, int) {
        server.stopping = true;
        beast::error_code ignored;
        acceptor.close(ignored);
        for (auto& weak : server.sessions) {
            if (auto s = weak.lock()) s->Close();
        }
        server.viewers.clear();
        device.Stop();
        io.stop();
    });

    std::string host = address.is_unspecified() ? asio::ip::host_name(ec) : options.bind;
    if (address.is_v6()) host = "[" + host + "]";
    out << "traxctl serve: open http://" << host << ":" << port << "/"
        << (options.token.empty() ? "" : "?token=" + options.token) << (options.readOnly ? " (read-only)" : "")
        << "  (Ctrl-C stops)\n";
    out.flush();

    Accept(acceptor, server);
    io.run();
    device.Stop();
    out << "traxctl serve: stopped\n";
    return 130;
}

}  // namespace traxserve
