// The HTTP side: one io thread runs every connection (accept, read, write,
// the live stream's fan-out), so the sessions and the viewer list need no
// lock. Library calls never run here: requests go to the Device's queue and
// their replies come back to the io thread by asio::post. What a request
// means is decided in Dispatch.cpp; this file moves bytes and keeps count.
#include "Serve.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <csignal>
#include <deque>
#include <list>
#include <memory>
#include <optional>

#include "Api.h"
#include "Device.h"
#include "Dispatch.h"
#include "Security.h"
#include "client/Number.h"

namespace traxserve {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// Connections that are not live viewers; beyond it the longest idle one
// makes room, so that an API request always gets in.
constexpr std::size_t kMaxRequestConnections = 64;
// A viewer that falls this many events behind is dropped rather than
// letting its queue grow without bound.
constexpr std::size_t kMaxQueuedEvents = 512;

class Session;

// State shared by every session; touched on the io thread only.
struct Server {
    explicit Server(asio::io_context& context) : io(context) {}
    asio::io_context& io;
    Policy policy;
    ApiContext api;
    std::size_t maxViewers = 250;
    std::chrono::milliseconds idleTimeout{30000};
    std::list<std::weak_ptr<Session>> sessions;  // oldest first
    std::vector<std::shared_ptr<Session>> viewers;
    bool stopping = false;  // Ctrl-C: finish the reply in flight, then end
    bool drained = false;   // the device has no job left
    int writing = 0;        // replies being written
    std::function<void()> finish;
};

void MaybeFinish(Server& server) {
    if (server.stopping && server.drained && server.writing == 0 && server.finish) server.finish();
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Server& server) : stream_(std::move(socket)), server_(server) {}

    void Start() { ReadHeader(); }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    // Waiting for a request: nothing is lost when it is closed.
    bool Idle() const { return waiting_ && !streaming_; }
    bool Streaming() const { return streaming_; }
    bool Awaiting() const { return awaiting_; }

    // A live sample for a viewer: every stride_-th one is sent.
    void Push(const std::shared_ptr<const std::string>& event, bool always) {
        if (!always && (count_++ % stride_) != 0) return;
        if (queue_.size() >= kMaxQueuedEvents) {
            EndStream();
            return;
        }
        queue_.push_back(event);
        if (queue_.size() == 1) WriteNextEvent();
    }

    void EndStream() {
        if (!streaming_) return;
        streaming_ = false;
        Close();
        auto& v = server_.viewers;
        v.erase(std::remove(v.begin(), v.end(), shared_from_this()), v.end());
        server_.api.device->RemoveViewer();
    }

private:
    void ReadHeader() {
        parser_.emplace();
        LimitParser(*parser_);
        waiting_ = true;
        // An idle connection (keep-alive, or one that never sends) is closed
        // after the idle time; so is one that sends too slowly.
        stream_.expires_after(server_.idleTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
    }

    void OnHeader(beast::error_code ec) {
        waiting_ = false;
        if (ec) return Refuse(ec);
        if (auto refusal = CheckHeader(*parser_)) return Send(std::move(*refusal), true);
        if (parser_->is_done()) return OnBody({});
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code e, std::size_t) { self->OnBody(e); });
    }

    void Refuse(beast::error_code ec) {
        if (auto reply = ReadRefusal(ec)) return Send(std::move(*reply), true);
        Close();
    }

    void OnBody(beast::error_code ec) {
        if (ec) return Refuse(ec);
        keepAlive_ = parser_->get().keep_alive();
        if (tooMany_) return Send(ErrorReply(503, "too many connections; try again later"), true);
        Decision d = Decide(server_.policy, parser_->get(), server_.api.device->RateHz());
        if (d.kind == Decision::Kind::Stream) return StartStream(d.stride);
        if (d.kind == Decision::Kind::Reply) return Send(std::move(d.reply), d.close);
        if (server_.stopping) return Send(ErrorReply(503, "the server is stopping"), true);
        awaiting_ = true;
        auto self = shared_from_this();
        Server& server = server_;
        const Route* route = d.route;
        const bool close = d.close;
        server_.api.device->Submit([self, route, request = std::move(d.request), close, &server] {
            // Handle catches every exception of the handler: nothing thrown
            // here ends the device thread or the process.
            Reply reply = Handle(*route, server.api, request);
            asio::post(server.io, [self, reply = std::move(reply), close]() mutable {
                self->awaiting_ = false;
                self->Send(std::move(reply), close);
            });
        });
    }

    void Send(Reply reply, bool close = false) {
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
        response->keep_alive(keepAlive_ && !close && !server_.stopping);
        response->prepare_payload();
        stream_.expires_after(server_.idleTimeout);
        ++server_.writing;
        http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code ec, std::size_t) {
            --self->server_.writing;
            if (ec || !response->keep_alive()) {
                self->Close();
                return MaybeFinish(self->server_);
            }
            self->ReadHeader();
        });
    }

    void StartStream(unsigned stride) {
        if (server_.stopping) return Send(ErrorReply(503, "the server is stopping"), true);
        if (server_.viewers.size() >= server_.maxViewers)
            return Send(ErrorReply(503, "too many live viewers (" + std::to_string(server_.maxViewers) +
                                            "); close one or try again later"),
                        true);
        stride_ = stride;
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

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<HttpParser> parser_;
    Server& server_;
    bool keepAlive_ = false;
    bool streaming_ = false;
    bool waiting_ = false;   // reading a header that has not begun to arrive
    bool awaiting_ = false;  // a reply is being made on the device thread

public:
    bool tooMany_ = false;  // accepted beyond every limit: answered 503

private:
    unsigned stride_ = 1;
    unsigned long count_ = 0;
    std::deque<std::shared_ptr<const std::string>> queue_;
    char sink_[4096];
};

// Room for one more connection that is not a viewer: the one idle longest
// is closed when the cap is reached. False when every one is busy.
bool MakeRoom(Server& server) {
    std::size_t others = 0;
    for (const auto& weak : server.sessions) {
        auto s = weak.lock();
        if (s && !s->Streaming()) ++others;
    }
    if (others < kMaxRequestConnections) return true;
    for (const auto& weak : server.sessions) {
        auto s = weak.lock();
        if (s && s->Idle()) {
            s->Close();
            return true;
        }
    }
    return false;
}

void Accept(tcp::acceptor& acceptor, Server& server) {
    acceptor.async_accept([&acceptor, &server](beast::error_code ec, tcp::socket socket) {
        if (server.stopping || ec == asio::error::operation_aborted) return;
        server.sessions.remove_if([](const std::weak_ptr<Session>& s) { return s.expired(); });
        // A failed accept (out of descriptors, a connection reset before it
        // was taken) must not end the listening: go on with the next one.
        if (!ec) {
            auto session = std::make_shared<Session>(std::move(socket), server);
            session->tooMany_ = !MakeRoom(server);
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

    Server server(io);
    server.policy.port = port;
    server.policy.token = options.token;
    server.policy.readOnly = options.readOnly;
    if (!address.is_loopback()) server.policy.names.push_back(asio::ip::host_name(ec));
    server.api.unit = options.unit;
    server.api.readOnly = options.readOnly;
    server.api.version = options.version;
    server.maxViewers = options.maxViewers;
    server.idleTimeout = options.idleTimeout;

    Device device(
        options.rateHz, [unit = options.unit](Device& d) { return PollValues(d, unit); },
        [&server](const Sample& sample) { asio::post(server.io, [&server, sample] { FanOut(server, sample); }); });
    server.api.device = &device;

    asio::signal_set signals(io, SIGINT, SIGTERM);
    server.finish = [&] {
        beast::error_code ignored;
        signals.cancel(ignored);
        io.stop();
    };
    // The first Ctrl-C stops taking requests, lets the job in flight stop at
    // its next step (a settings-file load at its next setting) and answers
    // it; the second ends the process at once, as traxctl's other commands do.
    signals.async_wait([&](beast::error_code e, int) {
        if (e) return;
        server.stopping = true;
        beast::error_code ignored;
        acceptor.close(ignored);
        const auto viewers = server.viewers;
        for (const auto& v : viewers) v->EndStream();
        for (auto& weak : server.sessions) {
            if (auto s = weak.lock(); s && !s->Awaiting()) s->Close();
        }
        err << "traxctl serve: stopping after the request in flight (Ctrl-C again to quit at once)\n";
        device.Drain([&server] {
            asio::post(server.io, [&server] {
                server.drained = true;
                MaybeFinish(server);
            });
        });
        signals.async_wait([](beast::error_code again, int signal) {
            if (again) return;
            std::signal(signal, SIG_DFL);
            std::raise(signal);
        });
    });

    std::string host = address.is_unspecified() ? asio::ip::host_name(ec) : options.bind;
    if (address.is_v6()) host = "[" + host + "]";
    out << "traxctl serve: open http://" << host << ":" << port << "/"
        << (options.token.empty() ? "" : "?token=" + options.token) << (options.readOnly ? " (read-only)" : "")
        << "  (Ctrl-C stops)\n";
    out.flush();

    Accept(acceptor, server);
    // Every handler catches what it expects; whatever still escapes one ends
    // that handler, not the server.
    for (;;) {
        try {
            io.run();
            break;
        } catch (const std::exception& e) {
            err << "traxctl serve: internal error: " << trax::client::Shown(e.what(), 200) << "\n";
        } catch (...) {
            err << "traxctl serve: internal error\n";
        }
    }
    device.Stop();
    out << "traxctl serve: stopped\n";
    return 130;
}

}  // namespace traxserve
