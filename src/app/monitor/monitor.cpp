#include "app/monitor/monitor.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "app/cli/cli_device.h"
#include "app/cli/cli_options.h"
#include "app/cli/state_json.h"
#include "app/monitor/device_topics.h"
#include "device/device_session.h"
#include "device/setting_write.h"
#include "link/discovery.h"
#include "link/frame.h"
#include "link/port_report.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::monitor {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReopenEvery{1000};
constexpr milliseconds kFirstConnectWait{5000};

// A write sent to the device, to be judged by the pass that follows it.
struct PendingWrite {
    std::string name;
    std::string text;
    uint16_t wire = 0;
    const SettingParam* param = nullptr;  // null for the output switch and a choice
    bool generation_on = false;
    const Variable* choice = nullptr;  // a choice setting, `wire` its entry
};

// One device polled by a session of its own: its port object, its state
// and what is published of it.
struct Device {
    Device(const FoundDevice& found, SessionOptions options)
        : identity(device_identity(found)),
          values(published_values(identity.family)),
          session(port, state, found, std::move(options)) {
        // No worker takes the port here: a write borrows it at once.
        state.g_worker_idle.store(1);
    }

    DeviceIdentity identity;
    std::vector<PublishedValue> values;
    DeviceState state;
    SerialPort port{make_serial_backend()};
    DeviceSession session;
    bool link_up = false;
    bool link_announced = false;  // the link state has been published since connecting
    int passes = 0;               // passes tried, the outage's attempts included
    Clock::time_point next_pass{};
    std::vector<PendingWrite> pending;
};

std::string result_json(const std::string& name, const std::string& text, const char* result,
                        const std::string& reason, const float* holds = nullptr) {
    std::string out = "{\"name\":" + json_string(name) + ",\"value\":" + json_string(text) +
                      ",\"result\":" + json_string(result);
    if (!reason.empty()) {
        out += ",\"reason\":" + json_string(reason);
    }
    if (holds != nullptr && std::isfinite(*holds)) {
        char number[32];
        std::snprintf(number, sizeof number, "%g", static_cast<double>(*holds));
        out += ",\"holds\":";
        out += number;
    }
    return out + "}";
}

class Monitor {
  public:
    Monitor(const MonitorOptions& options, MqttClient& client, NutServer* nut)
        : m_options(options),
          m_client(client),
          m_nut(nut),
          m_topics{options.prefix, options.instance, options.discovery} {}

    int run(std::stop_token stop);

  private:
    bool find_devices();
    void add_device(const FoundDevice& found);
    void step(Device& device);
    void on_pass(Device& device);
    void set_link(Device& device, bool up);
    void fail_pending(Device& device);
    void publish_discovery();
    void publish_all();
    void publish_links_down();
    void handle(const BrokerEvent& event);
    void command(Device& device, const std::string& name, const std::string& text);
    void read_back_pending(Device& device);
    void judge_writes(Device& device);
    void choose(Device& device, const PublishedValue& value, const std::string& text);
    void result(const Device& device, const std::string& json);
    bool finished() const;
    void serve_nut();

    const MonitorOptions& m_options;
    MqttClient& m_client;
    NutServer* m_nut = nullptr;  // null without --nut
    Topics m_topics;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::stop_token m_stop;
    bool m_ever_connected = false;
};

void Monitor::add_device(const FoundDevice& found) {
    auto device = std::make_unique<Device>(
        found, SessionOptions{.follow_serial = cli::common_options().follow_serial});
    Device& added = *device;
    cli::report_session_events(added.session);
    added.session.on_pass([this, &added](const DeviceState&) { on_pass(added); });
    added.session.on_event([this, &added](const SessionEvent& event) {
        if (event.kind == SessionEvent::Kind::LinkLost) {
            set_link(added, false);
            fail_pending(added);
        }
    });
    std::fprintf(stderr, "zorvane-cli: %s: published as %s\n",
                 cli::device_port_label(found).c_str(), added.identity.id.c_str());
    if (m_nut != nullptr) {
        m_nut->update(added.identity, added.state, false);
    }
    m_devices.push_back(std::move(device));
}

bool Monitor::find_devices() {
    if (cli::common_options().port) {
        const std::optional<FoundDevice> found = cli::find_polled_device();
        if (!found) {
            return false;
        }
        add_device(*found);
    } else {
        DeviceState scratch;  // the search's choice of one polled device is not ours
        SearchOptions options;
        options.stop = m_stop;
        const SearchResult result = search_devices(scratch, options);
        if (m_stop.stop_requested()) {
            return false;
        }
        cli::tell_search(result);
        if (result.found.empty()) {
            return false;
        }
        for (const FoundDevice& found : result.found) {
            add_device(found);
        }
    }
    // A misspelt name would only show when its first command is refused.
    for (const std::string& name : m_options.allowed) {
        bool known = name == kGenerationName;
        for (const auto& device : m_devices) {
            const PublishedValue* value = find_published(device->values, name);
            known = known ||
                    (value != nullptr && (value->setting != nullptr || !value->options.empty()));
        }
        if (!known) {
            std::fprintf(stderr, "zorvane-cli: --allow-writes: no device found has a setting %s\n",
                         name.c_str());
        }
    }
    return true;
}

void Monitor::set_link(Device& device, bool up) {
    if (m_nut != nullptr) {
        m_nut->update(device.identity, device.state, up);
    }
    if (device.link_up != up || !device.link_announced) {
        device.link_announced =
            m_client.publish(m_topics.link(device.identity), up ? "up" : "down", true, 1);
    }
    device.link_up = up;
}

void Monitor::step(Device& device) {
    // Whether this pass, not an earlier one, had an answer from the device.
    device.state.g_values_read.store(0);
    const DeviceSession::Step step = device.session.step(m_stop);
    if (step != DeviceSession::Step::Stopped) {
        ++device.passes;
    }
}

void Monitor::on_pass(Device& device) {
    // A pass without an accepted reply is no reading: nothing is published
    // as fresh, nothing compared with a write.
    if (!device.state.values_current()) {
        set_link(device, false);
        fail_pending(device);
        return;
    }
    set_link(device, true);
    m_client.publish(m_topics.state(device.identity), cli::device_state_json(device.state, true),
                     false);
    judge_writes(device);
}

void Monitor::fail_pending(Device& device) {
    for (const PendingWrite& write : device.pending) {
        result(device, result_json(write.name, write.text, "failed", "the device does not answer"));
    }
    device.pending.clear();
}

void Monitor::judge_writes(Device& device) {
    const DeviceState& state = device.state;
    for (const PendingWrite& write : device.pending) {
        if (write.choice != nullptr) {
            const float held = (state.*write.choice->field).load();
            result(device, held == static_cast<float>(write.wire)
                               ? result_json(write.name, write.text, "confirmed", "", &held)
                               : result_json(write.name, write.text, "not_held", "", &held));
            continue;
        }
        if (write.param == nullptr) {
            const bool on = generation_on(state, device.identity.family);
            const std::string holds = on ? "on" : "off";
            result(device,
                   on == write.generation_on
                       ? result_json(write.name, write.text, "confirmed", "")
                       : result_json(write.name, write.text, "not_held", "the output is " + holds));
            continue;
        }
        const float held = (state.*write.param->field).load();
        const float wanted =
            static_cast<float>(static_cast<double>(write.wire) / write.param->scale);
        char reason[64];
        std::snprintf(reason, sizeof reason, "the device holds %g", static_cast<double>(held));
        result(device, held == wanted
                           ? result_json(write.name, write.text, "confirmed", "", &held)
                           : result_json(write.name, write.text, "not_held", reason, &held));
    }
    device.pending.clear();
}

void Monitor::result(const Device& device, const std::string& json) {
    m_client.publish(m_topics.result(device.identity), json, false, 1);
}

void Monitor::command(Device& device, const std::string& name, const std::string& text) {
    if (!m_options.allowed.contains(name)) {
        result(device, result_json(name, text, "refused",
                                   "writes of " + name + " are not allowed for this monitor"));
        return;
    }
    read_back_pending(device);
    DeviceState& state = device.state;
    // Nothing is written on the strength of values that are not current.
    if (!device.link_up || !state.values_current()) {
        result(device, result_json(name, text, "refused",
                                   device.passes == 0 ? "the device has not been read yet"
                                                      : "the device does not answer"));
        return;
    }
    if (name == kGenerationName) {
        const bool on = text == "on" || text == "ON";
        if (!on && text != "off" && text != "OFF") {
            result(device, result_json(name, text, "refused", "gen takes on or off"));
            return;
        }
        // The session keeps its port open between passes; the write borrows
        // it, and the next pass opens it again.
        device.port.close();
        const SettingDecision sent =
            send_action(device.port, state, on ? cmd::kGenerationOn : cmd::kGenerationOff);
        if (!sent.sent) {
            result(device, result_json(name, text, "failed", "the port does not open"));
            return;
        }
        device.pending.push_back({name, text, 0, nullptr, on});
        return;
    }
    const PublishedValue* value = find_published(device.values, name);
    if (value != nullptr && !value->options.empty()) {
        choose(device, *value, text);
        return;
    }
    if (value == nullptr || value->setting == nullptr) {
        result(device,
               result_json(name, text, "refused", "no setting " + name + " on this device"));
        return;
    }
    const SettingParam& param = *value->setting;
    if (param.read_only_guard && state.set_egen_ubat.load() != 0) {
        result(device, result_json(name, text, "refused", "not used while EGenUbat = 1"));
        return;
    }
    device.port.close();
    const SettingDecision decision = write_setting(device.port, state, param, text);
    switch (decision.kind) {
        case SettingDecision::Kind::Refused:
            result(device, result_json(name, text, "refused", decision.refusal));
            return;
        case SettingDecision::Kind::Unchanged: {
            const float held = (state.*param.field).load();
            result(device, result_json(name, text, "unchanged", "", &held));
            return;
        }
        case SettingDecision::Kind::Send:
            break;
    }
    if (!decision.sent) {
        result(device, result_json(name, text, "failed", "the port does not open"));
        return;
    }
    const uint16_t wire = param.payload_width == 1
                              ? decision.frame[2]
                              : static_cast<uint16_t>(decision.frame[2] << 8 | decision.frame[3]);
    device.pending.push_back({name, text, wire, &param, false});
    // The outcome is known only from the device: read it back now rather
    // than at the next interval.
    device.next_pass = Clock::now();
}

// Commands are carried out in the order they come, each judged against what
// the unit holds after the ones before it: a write not yet read back is read
// back (and its result published) before the next command is compared with
// the unit's values. Otherwise 24.5 then 24.0 on a unit holding 24.0 would
// send 24.5 and call 24.0 unchanged. A step that makes no pass (a stop, an
// outage) leaves the values not current, and the command is refused.
void Monitor::read_back_pending(Device& device) {
    if (!device.pending.empty()) {
        step(device);
    }
}

// A choice is sent as its entry's number, as the window's list sends it:
// written whenever it is chosen, then read back.
void Monitor::choose(Device& device, const PublishedValue& value, const std::string& text) {
    const Variable* v = find_setting_variable(value.name, device.identity.family);
    const bool entry = text.size() == 1 && text[0] >= '0' &&
                       static_cast<size_t>(text[0] - '0') < value.options.size();
    if (v == nullptr || !entry) {
        result(device,
               result_json(value.name, text, "refused",
                           value.name + " takes 0 to " + std::to_string(value.options.size() - 1)));
        return;
    }
    const auto wire = static_cast<uint8_t>(text[0] - '0');
    device.port.close();
    if (!write_fixed_u8(device.port, device.state, v->write_code, wire).sent) {
        result(device, result_json(value.name, text, "failed", "the port does not open"));
        return;
    }
    device.pending.push_back({value.name, text, wire, nullptr, false, v});
    device.next_pass = Clock::now();
}

void Monitor::publish_discovery() {
    for (const RetainedMessage& message : bridge_messages(m_topics)) {
        m_client.publish(message.topic, message.payload, true, 1);
    }
    for (const auto& device : m_devices) {
        for (const RetainedMessage& message :
             discovery_messages(device->identity, device->values, m_topics, m_options.allowed)) {
            m_client.publish(message.topic, message.payload, true, 1);
        }
    }
}

void Monitor::publish_all() {
    m_client.publish(m_topics.availability(), "online", true, 1);
    publish_discovery();
    for (const auto& device : m_devices) {
        // Before its first pass nothing is known of the link: the first pass
        // tells it, rather than a "down" that is no news.
        device->link_announced =
            device->passes > 0 && m_client.publish(m_topics.link(device->identity),
                                                   device->link_up ? "up" : "down", true, 1);
    }
}

// A unit nobody polls any more must not stay "up" with frozen values.
void Monitor::publish_links_down() {
    for (const auto& device : m_devices) {
        m_client.publish(m_topics.link(device->identity), "down", true, 1);
        device->link_up = false;
    }
}

void Monitor::handle(const BrokerEvent& event) {
    switch (event.kind) {
        case BrokerEvent::Kind::Connected:
            m_ever_connected = true;
            std::fprintf(stderr, "zorvane-cli: connected to the broker\n");
            publish_all();
            return;
        case BrokerEvent::Kind::Disconnected:
            std::fprintf(stderr, "zorvane-cli: broker connection lost; reconnecting\n");
            return;
        case BrokerEvent::Kind::Failed:
            std::fprintf(stderr, "zorvane-cli: broker %s:%d: %s; trying again\n",
                         m_options.broker.host.c_str(), m_options.broker.port,
                         event.payload.c_str());
            return;
        case BrokerEvent::Kind::Message:
            break;
    }
    if (event.topic == m_topics.discovery_status()) {
        if (event.payload == "online") {
            publish_discovery();
        }
        return;
    }
    // PREFIX/ID/set/NAME
    for (const auto& device : m_devices) {
        const std::string head = m_topics.device(device->identity) + "/set/";
        if (!event.topic.starts_with(head)) {
            continue;
        }
        const std::string name = event.topic.substr(head.size());
        // An empty message is how a retained one is removed: no command.
        if (event.payload.empty()) {
            return;
        }
        // A retained command would be carried out again at every start of
        // the monitor, long after whoever sent it has forgotten it. It is
        // removed from the broker first, so that no later subscriber (this
        // monitor started again included) is handed it.
        if (event.retained) {
            m_client.publish(event.topic, "", true, 1);
            result(*device, result_json(name, event.payload, "refused",
                                        "a retained command is not carried out; it was removed "
                                        "from the broker"));
            return;
        }
        command(*device, name, event.payload);
        return;
    }
}

// Writes NUT clients asked for, through the same routine as the broker's.
void Monitor::serve_nut() {
    if (m_nut == nullptr) {
        return;
    }
    for (const NutRequest& request : m_nut->take_requests()) {
        for (const auto& device : m_devices) {
            if (device->identity.id == request.ups) {
                std::fprintf(stderr, "zorvane-cli: NUT: %s asks %s %s = %s\n", request.user.c_str(),
                             request.ups.c_str(), request.setting.c_str(), request.value.c_str());
                command(*device, request.setting, request.value);
            }
        }
    }
}

bool Monitor::finished() const {
    if (m_options.count <= 0) {
        return false;
    }
    for (const auto& device : m_devices) {
        if (device->passes < m_options.count) {
            return false;
        }
    }
    return true;
}

int Monitor::run(std::stop_token stop) {
    // The sessions tell of an outage once; the per-transaction report of
    // the one-shot commands would repeat it at every step of a pass.
    set_link_failure_handler(nullptr);
    m_stop = stop;
    if (!find_devices()) {
        return stop.stop_requested() ? 0 : 1;  // stopped during the search: no failure
    }
    // The first pass waits a little for the broker, so that a short run
    // (--count) is not over before anything could be published; after that,
    // polling never waits for it.
    const bool broker = !m_options.broker.host.empty();
    const Clock::time_point connect_by =
        Clock::now() + (broker ? kFirstConnectWait : milliseconds(0));
    while (!m_client.connected() && Clock::now() < connect_by && !stop.stop_requested()) {
        for (const BrokerEvent& event : m_client.wait_events(milliseconds(100))) {
            handle(event);
        }
    }
    const milliseconds interval{m_options.interval_ms};
    while (!stop.stop_requested() && !finished()) {
        Clock::time_point next = Clock::now() + interval;
        for (const auto& device : m_devices) {
            for (const BrokerEvent& event : m_client.wait_events(milliseconds(0))) {
                handle(event);
            }
            serve_nut();
            if (stop.stop_requested()) {
                break;
            }
            if (Clock::now() >= device->next_pass &&
                (m_options.count <= 0 || device->passes < m_options.count)) {
                const Clock::time_point started = Clock::now();
                const bool was_up = device->session.link_up();
                step(*device);
                if (!device->session.link_up()) {
                    device->next_pass = Clock::now() + kReopenEvery;
                } else {
                    // Back from an outage: read it now rather than an interval later.
                    device->next_pass = was_up ? started + interval : Clock::now();
                }
            }
            next = std::min(next, device->next_pass);
        }
        const auto wait = std::chrono::duration_cast<milliseconds>(next - Clock::now());
        for (const BrokerEvent& event : m_client.wait_events(std::max(wait, milliseconds(0)))) {
            handle(event);
        }
        serve_nut();
    }
    publish_links_down();
    // A counted run is a script's: one that published nothing did not work.
    if (broker && finished() && !m_ever_connected) {
        std::fprintf(stderr,
                     "zorvane-cli: no connection to the broker was made; nothing was published\n");
        return 1;
    }
    return 0;
}

}  // namespace

std::string default_instance() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    const std::string id = instance_id(host);
    return id.empty() ? "default" : id;
}

int run_monitor(const MonitorOptions& given, std::stop_token stop) {
    MonitorOptions options = given;
    if (options.instance.empty()) {
        options.instance = default_instance();
    }
    const Topics topics{options.prefix, options.instance, options.discovery};
    BrokerOptions broker = options.broker;
    if (broker.client_id.empty()) {
        broker.client_id = unique_client_id();
    }
    broker.will_topic = topics.availability();
    broker.will_payload = "offline";
    MqttClient client;
    client.subscribe_on_connect(topics.discovery_status());
    client.subscribe_on_connect(options.prefix + "/+/set/+");
    std::string error;
    // Without a broker the client is never started: its event wait is the
    // loop's sleep, woken by a stop or a NUT client's write.
    const bool use_broker = !broker.host.empty();
    if (use_broker && !client.start(broker, error)) {
        std::fprintf(stderr, "zorvane-cli: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<NutServer> nut;
    if (options.nut) {
        nut = std::make_unique<NutServer>(*options.nut);
        if (!nut->start(error)) {
            std::fprintf(stderr, "zorvane-cli: NUT server: %s\n", error.c_str());
            if (use_broker) {
                client.stop(broker.will_topic, "offline", milliseconds(2000));
            }
            return 1;
        }
        nut->on_request([&client] { client.wake(); });
        std::fprintf(stderr, "zorvane-cli: NUT server on %s port %d\n", options.nut->host.c_str(),
                     nut->port());
    }
    std::stop_callback wake_on_stop(stop, [&client] { client.wake(); });
    Monitor monitor(options, client, nut.get());
    const int status = monitor.run(stop);
    if (use_broker) {
        client.stop(broker.will_topic, "offline", milliseconds(2000));
    }
    return status;
}

}  // namespace zorvane::monitor
