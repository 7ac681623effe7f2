// The broker connection of the monitor, over libmosquitto and MQTT 5: a last
// will, a reconnect with a capped back-off, subscriptions that keep a
// message's retain flag as it was published, and what arrives handed to the
// caller's thread as events.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace zorvane::monitor {

struct BrokerOptions {
    std::string host;
    int port = 1883;
    std::string username;  // none when empty
    std::string password;
    std::string cafile;  // TLS when set
    std::string client_id;
    std::string will_topic;  // retained will, sent by the broker when we vanish
    std::string will_payload;
    int keepalive_s = 30;
    int reconnect_max_s = 30;
};

// The wait before the next connection attempt: doubled after each failure
// from 1 s, never more than `max_s`.
int next_backoff_s(int previous_s, int max_s);

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]"; false for anything else.
bool parse_broker_url(const std::string& url, BrokerOptions& options);

// A fresh id for each running instance: two monitors on one broker must not
// throw each other off.
std::string unique_client_id();

struct BrokerEvent {
    enum class Kind { Connected, Disconnected, Failed, Message };
    Kind kind;
    std::string topic;
    std::string payload;  // for Failed: why the broker cannot be reached
    // Published with the retain flag: kept by the broker from before we
    // subscribed, or sent so while we were subscribed.
    bool retained = false;
};

class MqttClient {
  public:
    MqttClient();
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts the network thread, which keeps connecting (1 s, 2 s, 4 s …
    // at most reconnect_max_s apart) until stop(). False with a reason when
    // the options cannot work at all (a CA file that does not load).
    bool start(const BrokerOptions& options, std::string& error);

    // Subscriptions are made again by each connect.
    void subscribe_on_connect(std::string filter);

    // Sends at once when connected; while the broker is away nothing is kept
    // to be sent later (a state from before the outage is no news).
    bool publish(const std::string& topic, const std::string& payload, bool retain, int qos = 0);
    bool connected() const;

    // Waits up to `timeout` for events; returns them in arrival order.
    std::deque<BrokerEvent> wait_events(std::chrono::milliseconds timeout);
    // Wakes a wait_events early (a stop signal).
    void wake();

    // Publishes `payload` on `topic` (retained, confirmed by the broker, for
    // at most `timeout`), then disconnects cleanly, so the will is not sent.
    void stop(const std::string& topic, const std::string& payload,
              std::chrono::milliseconds timeout);

  private:
    void run_network();
    bool stopping() const;
    // Sleeps up to `seconds` unless stop() begins meanwhile.
    void pause(int seconds);

    static void on_connect(mosquitto*, void* self, int rc);
    static void on_disconnect(mosquitto*, void* self, int rc);
    static void on_message(mosquitto*, void* self, const mosquitto_message* message);
    static void on_publish(mosquitto*, void* self, int mid);
    void push(BrokerEvent event);

    mosquitto* m_mosq = nullptr;
    BrokerOptions m_options;
    std::thread m_network;
    bool m_stopping = false;  // guarded by m_mutex
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<BrokerEvent> m_events;
    std::vector<std::string> m_filters;
    bool m_connected = false;
    bool m_woken = false;
    int m_last_acked = -1;
    std::string m_refusal;  // the broker's answer to a refused connection
};

}  // namespace zorvane::monitor
