#include "app/monitor/mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <random>
#include <utility>

namespace zorvane::monitor {

namespace {

// libmosquitto's process-wide set-up, once.
struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
    ~LibraryInit() { mosquitto_lib_cleanup(); }
};

void init_library() {
    static LibraryInit init;
}

}  // namespace

int next_backoff_s(int previous_s, int max_s) {
    return previous_s <= 0 ? 1 : std::min(previous_s * 2, max_s);
}

bool parse_broker_url(const std::string& url, BrokerOptions& options) {
    std::string_view rest = url;
    bool tls = false;
    if (rest.starts_with("mqtt://")) {
        rest.remove_prefix(7);
    } else if (rest.starts_with("mqtts://")) {
        rest.remove_prefix(8);
        tls = true;
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1);
    }
    int port = tls ? 8883 : 1883;
    const size_t colon = rest.rfind(':');
    if (colon != std::string_view::npos && rest.find(']') == std::string_view::npos) {
        const std::string_view digits = rest.substr(colon + 1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (error != std::errc{} || end != digits.data() + digits.size() || port < 1 ||
            port > 65535) {
            return false;
        }
        rest = rest.substr(0, colon);
    }
    if (rest.empty() || rest.find_first_of("/@ ") != std::string_view::npos) {
        return false;
    }
    options.host = std::string(rest);
    options.port = port;
    if (tls && options.cafile.empty()) {
        options.cafile = "/etc/ssl/certs/ca-certificates.crt";
    }
    return true;
}

std::string unique_client_id() {
    char host[64] = {};
    gethostname(host, sizeof host - 1);
    std::random_device random;
    return "zorvane-" + std::string(host) + "-" + std::to_string(getpid()) + "-" +
           std::to_string(random() % 100000);
}

MqttClient::MqttClient() {
    init_library();
}

MqttClient::~MqttClient() {
    if (m_network.joinable()) {
        stop({}, {}, std::chrono::milliseconds(0));
    }
    if (m_mosq != nullptr) {
        mosquitto_destroy(m_mosq);
    }
}

bool MqttClient::start(const BrokerOptions& options, std::string& error) {
    m_options = options;
    m_mosq = mosquitto_new(options.client_id.c_str(), true, this);
    if (m_mosq == nullptr) {
        error = "cannot create an MQTT client";
        return false;
    }
    // MQTT 5, for the retain-as-published option of the subscriptions: a
    // command published with the retain flag keeps it on its way to us.
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Our own thread runs the network loop; the monitor's thread publishes.
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_connect_callback_set(m_mosq, on_connect);
    mosquitto_disconnect_callback_set(m_mosq, on_disconnect);
    mosquitto_message_callback_set(m_mosq, on_message);
    mosquitto_publish_callback_set(m_mosq, on_publish);
    if (!options.will_topic.empty()) {
        mosquitto_will_set(m_mosq, options.will_topic.c_str(),
                           static_cast<int>(options.will_payload.size()),
                           options.will_payload.data(), 1, true);
    }
    if (!options.username.empty()) {
        mosquitto_username_pw_set(m_mosq, options.username.c_str(),
                                  options.password.empty() ? nullptr : options.password.c_str());
    }
    if (!options.cafile.empty()) {
        const int rc =
            mosquitto_tls_set(m_mosq, options.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "TLS with CA file " + options.cafile + ": " + mosquitto_strerror(rc);
            return false;
        }
    }
    m_network = std::thread([this] { run_network(); });
    return true;
}

// A broker that is not there yet, goes away or refuses us is no reason to
// stop: connect, run the connection until it ends, wait, connect again.
void MqttClient::run_network() {
    int backoff = 0;
    std::string last_failure;
    for (;;) {
        if (stopping()) {
            return;
        }
        bool was_connected = false;
        const int rc = mosquitto_connect(m_mosq, m_options.host.c_str(), m_options.port,
                                         m_options.keepalive_s);
        std::string failure;
        if (rc == MOSQ_ERR_SUCCESS) {
            // The stop is looked at too: a disconnect asked for while the
            // connection was still being made does not end the loop by itself.
            while (!stopping() && mosquitto_loop(m_mosq, 200, 1) == MOSQ_ERR_SUCCESS) {
                was_connected = was_connected || connected();
            }
            std::lock_guard lock(m_mutex);
            failure = std::exchange(m_refusal, {});
        } else {
            failure = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        }
        if (stopping()) {
            return;
        }
        // The connection (if there was one) is over: on_disconnect has told.
        on_disconnect(m_mosq, this, 1);
        // Told once, not at every attempt of a long outage.
        if (was_connected) {
            last_failure.clear();
        }
        if (!failure.empty() && failure != last_failure) {
            push({BrokerEvent::Kind::Failed, {}, failure, false});
            last_failure = failure;
        }
        backoff = was_connected ? 1 : next_backoff_s(backoff, m_options.reconnect_max_s);
        pause(backoff);
    }
}

bool MqttClient::stopping() const {
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

void MqttClient::pause(int seconds) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stopping; });
}

void MqttClient::subscribe_on_connect(std::string filter) {
    std::lock_guard lock(m_mutex);
    m_filters.push_back(std::move(filter));
}

bool MqttClient::publish(const std::string& topic, const std::string& payload, bool retain,
                         int qos) {
    if (!connected()) {
        return false;
    }
    return mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::connected() const {
    std::lock_guard lock(m_mutex);
    return m_connected;
}

std::deque<BrokerEvent> MqttClient::wait_events(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, timeout, [this] { return !m_events.empty() || m_woken; });
    m_woken = false;
    return std::exchange(m_events, {});
}

void MqttClient::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_cv.notify_all();
}

void MqttClient::stop(const std::string& topic, const std::string& payload,
                      std::chrono::milliseconds timeout) {
    if (!m_network.joinable()) {
        return;
    }
    int mid = -1;
    if (!topic.empty() && connected() &&
        mosquitto_publish(m_mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, true) == MOSQ_ERR_SUCCESS) {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, timeout, [&] { return m_last_acked == mid || !m_connected; });
    }
    // A clean disconnect first, so that the broker does not send the will;
    // then the network thread is told to end, which it also sees when the
    // disconnect fell into a connection still being made.
    mosquitto_disconnect(m_mosq);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
    m_network.join();
}

void MqttClient::push(BrokerEvent event) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    m_cv.notify_all();
}

void MqttClient::on_connect(mosquitto* mosq, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // Refused (bad credentials …): the broker closes the connection and
        // the network loop tries again later.
        std::lock_guard lock(client->m_mutex);
        // An MQTT 5 reason code ("Not authorized") is 128 or more; a broker
        // that speaks only 3.1.1 (older than Mosquitto 1.6) answers with
        // its own code 1, "unacceptable protocol version".
        std::string reason = rc >= 128 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc);
        if (!reason.empty() && reason.back() == '.') {
            reason.pop_back();
        }
        client->m_refusal = reason;
        return;
    }
    std::vector<std::string> filters;
    {
        std::lock_guard lock(client->m_mutex);
        client->m_connected = true;
        filters = client->m_filters;
    }
    // Retain as published: a broker hands a live subscriber every message
    // with the retain flag cleared, unless asked to keep it as it was sent.
    for (const std::string& filter : filters) {
        mosquitto_subscribe_v5(mosq, nullptr, filter.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                               nullptr);
    }
    client->push({BrokerEvent::Kind::Connected, {}, {}, false});
}

void MqttClient::on_disconnect(mosquitto*, void* self, int) {
    auto* client = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(client->m_mutex);
        if (!client->m_connected) {
            return;
        }
        client->m_connected = false;
    }
    client->push({BrokerEvent::Kind::Disconnected, {}, {}, false});
}

void MqttClient::on_message(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    client->push({BrokerEvent::Kind::Message, message->topic,
                  std::string(static_cast<const char*>(message->payload),
                              static_cast<size_t>(message->payloadlen)),
                  message->retain});
}

void MqttClient::on_publish(mosquitto*, void* self, int mid) {
    auto* client = static_cast<MqttClient*>(self);
    {
        std::lock_guard lock(client->m_mutex);
        client->m_last_acked = mid;
    }
    client->m_cv.notify_all();
}

}  // namespace zorvane::monitor
