// GET /metrics for a publisher without a page (--metrics-port): a small HTTP
// listener on the loopback address alone, one request per connection, in a
// thread of its own. Requests are bounded (8 KiB of header, 2 s to send it)
// and a Host other than the loopback names is refused, as the server does.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace trax::publish {

struct MetricsError {
    std::string message;
};

class MetricsEndpoint {
public:
    // port 0: any free port (Port() says which). Throws MetricsError.
    MetricsEndpoint(int port, std::function<std::string()> text);
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;
    int Port() const { return port_; }

private:
    void Serve();
    void Answer(int fd);

    std::function<std::string()> text_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The answer to one request's header text: status line, headers and body.
std::string MetricsReply(const std::string& request, int port, const std::function<std::string()>& text);

}  // namespace trax::publish
