#include "publish/MetricsEndpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

namespace trax::publish {

namespace {

constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr int kRequestMs = 2000;

std::string Reply(int status, const char* text, const std::string& type, const std::string& body) {
    std::ostringstream out;
    out << "HTTP/1.1 " << status << " " << text << "\r\nContent-Type: " << type << "\r\nContent-Length: " << body.size()
        << "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n"
        << body;
    return out.str();
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

}  // namespace

std::string MetricsReply(const std::string& request, int port, const std::function<std::string()>& text) {
    const auto end = request.find("\r\n\r\n");
    if (end == std::string::npos) return Reply(400, "Bad Request", "text/plain", "incomplete request\n");
    std::istringstream lines(request.substr(0, end));
    std::string line;
    std::getline(lines, line);
    std::istringstream first(line);
    std::string method, target, version;
    first >> method >> target >> version;
    std::string host;
    int hosts = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) return Reply(400, "Bad Request", "text/plain", "malformed header\n");
        if (Lower(line.substr(0, colon)) == "host") {
            ++hosts;
            host = line.substr(colon + 1);
            host.erase(0, host.find_first_not_of(" \t"));
        }
    }
    // A page of another site cannot read loopback through a name it controls.
    const std::string p = ":" + std::to_string(port);
    if (hosts != 1 || (host != "127.0.0.1" + p && host != "localhost" + p && host != "[::1]" + p))
        return Reply(421, "Misdirected Request", "text/plain", "Host must name this loopback address\n");
    if (target.substr(0, target.find('?')) != "/metrics")
        return Reply(404, "Not Found", "text/plain", "try /metrics\n");
    if (method != "GET") return Reply(405, "Method Not Allowed", "text/plain", "/metrics takes GET\n");
    return Reply(200, "OK", "text/plain; version=0.0.4; charset=utf-8", text());
}

MetricsEndpoint::MetricsEndpoint(int port, std::function<std::string()> text) : text_(std::move(text)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw MetricsError{std::string("metrics: cannot make a socket: ") + std::strerror(errno)};
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0) {
        const std::string why = std::strerror(errno);
        ::close(listener_);
        throw MetricsError{"metrics: cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why};
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

MetricsEndpoint::~MetricsEndpoint() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
}

void MetricsEndpoint::Serve() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Answer(fd);
        ::close(fd);
    }
}

void MetricsEndpoint::Answer(int fd) {
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestMs);
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (request.size() > kHeaderLimit) {
            const std::string r = "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n\r\n";
            (void)!::send(fd, r.data(), r.size(), MSG_NOSIGNAL);
            return;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string reply = MetricsReply(request, port_, text_);
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace trax::publish
