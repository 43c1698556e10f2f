#include "publish/Link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace trax::publish {

namespace {

Link& Of(void* object) { return *static_cast<Link*>(object); }

void OnConnect(mosquitto*, void* object, int rc, int, const mosquitto_property*) { Of(object).HandleConnect(rc); }
void OnDisconnect(mosquitto*, void* object, int rc, const mosquitto_property*) { Of(object).HandleDisconnect(rc); }
void OnPublish(mosquitto*, void* object, int mid, int reasonCode, const mosquitto_property*) {
    Of(object).HandlePublish(mid, reasonCode);
}
void OnMessage(mosquitto*, void* object, const mosquitto_message* message, const mosquitto_property* props) {
    Incoming in;
    in.topic = message->topic != nullptr ? message->topic : "";
    if (message->payload != nullptr && message->payloadlen > 0)
        in.payload.assign(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false) != nullptr &&
        responseTopic != nullptr) {
        in.responseTopic = responseTopic;
    }
    std::free(responseTopic);
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) != nullptr) {
        in.hasCorrelation = true;
        if (correlation != nullptr) in.correlation.assign(static_cast<const char*>(correlation), length);
    }
    std::free(correlation);
    Of(object).HandleMessage(in);
}

// The broker's CONNACK reason, in words a person can act on.
LinkProblem Refusal(int rc) {
    switch (rc) {
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return {true, "the broker refused the login: bad user name or password"};
    case MQTT_RC_NOT_AUTHORIZED:
        // mosquitto answers so to a wrong password too.
        return {true, "the broker refused the login: not authorized (wrong user name or password?)"};
    case MQTT_RC_CLIENTID_NOT_VALID:
        return {true, "the broker refused the client id"};
    case MQTT_RC_BANNED:
        return {true, "the broker refused the connection: banned"};
    case MQTT_RC_BAD_AUTHENTICATION_METHOD:
        return {true, "the broker refused the login: it wants another way to authenticate"};
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return {true, "the broker does not speak MQTT 5"};
    default:
        return {false, std::string("the broker refused the connection: ") + mosquitto_reason_string(rc)};
    }
}

LinkProblem ErrorProblem(int rc, const BrokerAddress& broker) {
    if (rc == MOSQ_ERR_ERRNO)
        return {false, "cannot reach the broker at " + broker.Text() + ": " + std::strerror(errno)};
    if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE)
        return {false, "TLS with " + broker.Text() +
                           " failed: the broker's certificate was not accepted (is --cafile the CA that signed it, "
                           "and does the certificate name this host?) or the broker wants a client certificate"};
    if (rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_LOOKUP)
        return {true, "cannot find the broker's host '" + broker.host + "'"};
    return {false, "connection to " + broker.Text() + ": " + mosquitto_strerror(rc)};
}

}  // namespace

std::string BrokerAddress::Text() const {
    return std::string(tls ? "mqtts://" : "mqtt://") + host + ":" + std::to_string(port);
}

BrokerAddress ParseBroker(const std::string& url) {
    BrokerAddress address;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        address.tls = true;
        address.port = 8883;
    } else {
        throw std::invalid_argument("'" + url.substr(0, 80) + "' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string host = rest;
    if (!rest.empty() && rest.front() == '[') {
        // [v6 literal]:port
        const auto close = rest.find(']');
        if (close == std::string::npos) throw std::invalid_argument("'" + url + "': no ']' after the address");
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') throw std::invalid_argument("'" + url + "': ':PORT' after ']'");
    } else {
        const auto colon = rest.rfind(':');
        host = colon == std::string::npos ? rest : rest.substr(0, colon);
        rest = colon == std::string::npos ? "" : rest.substr(colon);
    }
    if (host.empty() || host.find_first_of("/?#@ ") != std::string::npos)
        throw std::invalid_argument("'" + url.substr(0, 80) + "': no host name");
    if (!rest.empty()) {
        const std::string port = rest.substr(1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(port) < 1 || std::stoi(port) > 65535)
            throw std::invalid_argument("'" + url.substr(0, 80) + "': the port is 1..65535");
        address.port = std::stoi(port);
    }
    address.host = host;
    return address;
}

void InitMqttLibrary() { mosquitto_lib_init(); }

Link::Link(LinkOptions options, Callbacks callbacks) : options_(std::move(options)), callbacks_(std::move(callbacks)) {}

Link::~Link() { Destroy(); }

void Link::Destroy() {
    if (mosq_ != nullptr) mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    connected_ = false;
    pending_.reset();
}

void Link::Lose(const LinkProblem& problem) {
    const bool wasActive = mosq_ != nullptr;
    Destroy();
    if (wasActive && callbacks_.lost) callbacks_.lost(problem);
}

bool Link::Start() {
    Destroy();
    // A clean start: what the broker kept of an earlier session would arrive
    // beside the publisher's own resend of everything not acknowledged.
    mosq_ = mosquitto_new(options_.clientId.c_str(), true, this);
    if (mosq_ == nullptr) {
        if (callbacks_.lost)
            callbacks_.lost({true, "cannot make an MQTT client: " + std::string(std::strerror(errno))});
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(mosq_, OnConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, OnDisconnect);
    mosquitto_publish_v5_callback_set(mosq_, OnPublish);
    mosquitto_message_v5_callback_set(mosq_, OnMessage);
    auto fail = [this](const LinkProblem& p) {
        Lose(p);
        return false;
    };
    if (!options_.username.empty() &&
        mosquitto_username_pw_set(mosq_, options_.username.c_str(),
                                  options_.password.empty() ? nullptr : options_.password.c_str()) != MOSQ_ERR_SUCCESS)
        return fail({true, "the user name or password cannot be used"});
    if (options_.broker.tls) {
        const char* cafile = options_.cafile.empty() ? nullptr : options_.cafile.c_str();
        if (cafile == nullptr) mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        const int rc = mosquitto_tls_set(mosq_, cafile, cafile == nullptr ? "/etc/ssl/certs" : nullptr,
                                         options_.cert.empty() ? nullptr : options_.cert.c_str(),
                                         options_.key.empty() ? nullptr : options_.key.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail({true, "TLS set-up: " + std::string(mosquitto_strerror(rc)) +
                                   " (check that --cafile, --cert and --key name readable PEM files)"});
        // Verify the broker's certificate and that it names the host.
        mosquitto_tls_opts_set(mosq_, 1, nullptr, nullptr);
        mosquitto_tls_insecure_set(mosq_, false);
    }
    if (!options_.willTopic.empty())
        mosquitto_will_set_v5(mosq_, options_.willTopic.c_str(), static_cast<int>(options_.willPayload.size()),
                              options_.willPayload.data(), 1, true, nullptr);
    const int rc = mosquitto_connect_bind_v5(mosq_, options_.broker.host.c_str(), options_.broker.port,
                                             options_.keepaliveSeconds, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) return fail(ErrorProblem(rc, options_.broker));
    return true;
}

void Link::Loop(int timeoutMs) {
    if (mosq_ == nullptr) return;
    const int rc = mosquitto_loop(mosq_, timeoutMs, 1);
    // The client is destroyed here, never inside one of its own callbacks.
    if (pending_) {
        const LinkProblem problem = *pending_;
        pending_.reset();
        Lose(problem);
    } else if (rc != MOSQ_ERR_SUCCESS) {
        Lose(ErrorProblem(rc, options_.broker));
    }
}

void Link::Close() {
    if (mosq_ == nullptr) return;
    if (connected_) {
        mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        connected_ = false;
        // Let the DISCONNECT leave before the socket closes.
        for (int i = 0; i < 5 && mosquitto_want_write(mosq_); ++i) mosquitto_loop(mosq_, 10, 1);
    }
    Destroy();
}

int Link::Publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                  const std::string* correlation) {
    if (mosq_ == nullptr || !connected_) return -1;
    mosquitto_property* props = nullptr;
    // UTF-8 text, so that a broker and subscribers may check it as such.
    mosquitto_property_add_byte(&props, MQTT_PROP_PAYLOAD_FORMAT_INDICATOR, 1);
    mosquitto_property_add_string(&props, MQTT_PROP_CONTENT_TYPE, "application/json");
    if (correlation != nullptr)
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                      static_cast<uint16_t>(correlation->size()));
    int mid = 0;
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                        qos, retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        // Dealt with by the next Loop, which may be the caller's caller.
        if ((rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) && !pending_)
            pending_ = ErrorProblem(rc, options_.broker);
        return -1;
    }
    return mid;
}

bool Link::Subscribe(const std::string& pattern, int qos) {
    if (mosq_ == nullptr) return false;
    return mosquitto_subscribe_v5(mosq_, nullptr, pattern.c_str(), qos, 0, nullptr) == MOSQ_ERR_SUCCESS;
}

void Link::HandleConnect(int rc) {
    if (rc != 0) {
        pending_ = Refusal(rc);
        return;
    }
    connected_ = true;
    everConnected_ = true;
    if (callbacks_.connected) callbacks_.connected();
}

void Link::HandleDisconnect(int rc) {
    // Called inside the loop: the client is destroyed by Lose after the
    // callback returns into Loop, which then sees it gone.
    connected_ = false;
    if (!pending_)
        pending_ =
            LinkProblem{false, rc == 0 ? "disconnected" : std::string("connection lost: ") + mosquitto_strerror(rc)};
}

void Link::HandlePublish(int mid, int) {
    // A refusal in the PUBACK (a broker's access rule) is final for that
    // message: sending it again would be refused again.
    if (callbacks_.acknowledged) callbacks_.acknowledged(mid);
}

void Link::HandleMessage(const Incoming& message) {
    if (callbacks_.message) callbacks_.message(message);
}

}  // namespace trax::publish
