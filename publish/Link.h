// One connection to the MQTT broker over libmosquitto, MQTT 5, driven by the
// publisher's link thread alone: connect, the network loop, publishing, and
// the broker's answers as callbacks on that same thread. Reconnecting is the
// caller's: a Link that lost its connection is started again with Start(),
// which makes a new client, so nothing libmosquitto held from the last
// connection is sent twice behind the publisher's back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct mosquitto;

namespace trax::publish {

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883).
struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string Text() const;
};
// Throws std::invalid_argument with the reason.
BrokerAddress ParseBroker(const std::string& url);

struct LinkOptions {
    BrokerAddress broker;
    std::string clientId;
    std::string username;
    std::string password;
    std::string cafile, cert, key;  // TLS; the system's CAs when cafile is ""
    int keepaliveSeconds = 10;
    // The broker publishes this (retained) when the connection is lost
    // without a goodbye.
    std::string willTopic, willPayload;
};

// A message that arrived on a subscribed topic, with its MQTT 5 reply address.
struct Incoming {
    std::string topic;
    std::string payload;
    std::string responseTopic;  // "" when none
    std::string correlation;    // binary; "" when none
    bool hasCorrelation = false;
};

// Why a connection ended or never began.
struct LinkProblem {
    bool fatal = false;  // retrying cannot help (refused login, untrusted certificate)
    std::string text;
};

class Link {
public:
    struct Callbacks {
        std::function<void()> connected;
        std::function<void(const LinkProblem&)> lost;  // also for a failed attempt
        std::function<void(int mid)> acknowledged;
        std::function<void(const Incoming&)> message;
    };

    Link(LinkOptions options, Callbacks callbacks);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The will's payload for the next Start().
    void SetWill(std::string payload) { options_.willPayload = std::move(payload); }
    // Begins a connection; false (with `lost` called) when it failed at once.
    bool Start();
    // Runs the network for up to timeoutMs; calls the callbacks.
    void Loop(int timeoutMs);
    // Sends a DISCONNECT (the will is then not published) and closes.
    void Close();

    bool Connected() const { return connected_; }
    bool Active() const { return mosq_ != nullptr; }

    // Publishes; the message id (for `acknowledged`), or -1 when it could not
    // be handed over (then the connection is gone or going).
    int Publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                const std::string* correlation = nullptr);
    bool Subscribe(const std::string& pattern, int qos);

    // libmosquitto's callbacks land here (on the link thread, inside Loop).
    void HandleConnect(int rc);
    void HandleDisconnect(int rc);
    void HandlePublish(int mid, int reasonCode);
    void HandleMessage(const Incoming& message);

private:
    void Lose(const LinkProblem& problem);
    void Destroy();

    LinkOptions options_;
    Callbacks callbacks_;
    mosquitto* mosq_ = nullptr;
    bool connected_ = false;
    bool everConnected_ = false;
    // A loss seen inside a callback, acted on when the loop returns.
    std::optional<LinkProblem> pending_;
};

// Once per process, before the first Link.
void InitMqttLibrary();

}  // namespace trax::publish
