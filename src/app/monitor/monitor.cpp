#include "app/monitor/monitor.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
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
#include "link/port_list.h"
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
    UnitBoard::Reply reply;            // who asked, when not the broker
};

// One device polled by a session and a thread of its own: its port object,
// its state and what is published of it. Everything below but the task
// queue belongs to the device's thread once it runs; the monitor's thread
// reads only what never changes (identity, values).
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
    Clock::time_point pass_at{};  // the end of the last complete pass
    std::vector<PendingWrite> pending;
    UnitBoard::Reply reply;  // while another output's command runs: its results go there
    std::stop_token stop;    // the device thread's
    std::string owned_path;  // guarded by the monitor's m_owned_mutex

    // Broker commands and announcements, for the device's thread to carry
    // out between its passes.
    std::mutex task_mutex;
    std::condition_variable_any task_ready;
    std::deque<UnitBoard::Task> tasks;
    bool serving = true;            // guarded by task_mutex: false once the monitor stops
    std::atomic<bool> done{false};  // its `count` passes are made

    std::jthread worker;  // last: stopped and joined before the rest goes
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
    void check_allowed();
    void add_device(const FoundDevice& found);
    void start(Device& device);
    void stop_devices();
    bool post(Device& device, UnitBoard::Task task);
    void poll_device(Device& device, std::stop_token stop);
    void pass(Device& device);
    void update_board(const Device& device);
    void search_later(std::stop_token stop);
    std::vector<PortInfo> unowned_ports();
    void take_found();
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
    void tell(const Device& device, const UnitBoard::Reply& reply, const std::string& json);
    bool finished() const;
    void serve_nut();

    const MonitorOptions& m_options;
    MqttClient& m_client;
    NutServer* m_nut = nullptr;  // null without --nut
    Topics m_topics;
    // Added to by the monitor's thread alone, which alone walks it.
    std::vector<std::unique_ptr<Device>> m_devices;
    std::stop_token m_stop;
    bool m_ever_connected = false;
    bool m_polling = false;  // the devices' threads run; one found later starts at once
    bool m_allowed_checked = false;
    std::set<std::string> m_told;  // ports of a unit already published from another port

    // The ports a session owns: the search for units found later leaves
    // them alone.
    std::mutex m_owned_mutex;
    std::set<std::string> m_owned;
    // What the search found, for the monitor's thread to add.
    std::mutex m_found_mutex;
    std::vector<FoundDevice> m_found;
    std::jthread m_searcher;
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
        } else if (event.kind == SessionEvent::Kind::Moved) {
            std::lock_guard lock(m_owned_mutex);
            m_owned.erase(added.owned_path);
            added.owned_path = event.device.path;
            m_owned.insert(added.owned_path);
        }
    });
    {
        std::lock_guard lock(m_owned_mutex);
        added.owned_path = found.path;
        m_owned.insert(found.path);
    }
    std::fprintf(stderr, "zorvane-cli: %s: published as %s\n",
                 cli::device_port_label(found).c_str(), added.identity.id.c_str());
    if (m_nut != nullptr) {
        m_nut->update(added.identity, added.state, false);
    }
    m_devices.push_back(std::move(device));
    if (m_options.board != nullptr) {
        m_options.board->add(
            UnitView{added.identity, &added.state},
            [this, &added](UnitBoard::Task task) { return post(added, std::move(task)); },
            [this, &added](const std::string& name, const std::string& text,
                           UnitBoard::Reply reply) {
                return post(added, [this, &added, name, text, reply = std::move(reply)] {
                    added.reply = reply;
                    command(added, name, text);
                    added.reply = nullptr;
                });
            });
    }
    if (!m_polling) {
        return;
    }
    // Found later: described to Home Assistant now; the broker's next
    // connect describes it with the others.
    if (m_client.connected()) {
        for (const RetainedMessage& message :
             discovery_messages(added.identity, added.values, m_topics, m_options.allowed)) {
            m_client.publish(message.topic, message.payload, true, 1);
        }
    }
    start(added);
}

void Monitor::start(Device& device) {
    device.worker =
        std::jthread([this, &device](std::stop_token stop) { poll_device(device, stop); });
}

void Monitor::stop_devices() {
    for (const auto& device : m_devices) {
        {
            std::lock_guard lock(device->task_mutex);
            device->serving = false;
        }
        device->worker.request_stop();
    }
    for (const auto& device : m_devices) {
        if (device->worker.joinable()) {
            device->worker.join();
        }
    }
}

// A task that comes once the device's thread is told to stop is refused,
// rather than kept where nothing will ever run it.
bool Monitor::post(Device& device, UnitBoard::Task task) {
    {
        std::lock_guard lock(device.task_mutex);
        if (!device.serving) {
            return false;
        }
        device.tasks.push_back(std::move(task));
    }
    device.task_ready.notify_one();
    return true;
}

// The device's thread: its passes at the interval, and between them what the
// broker asked of it, in the order it came. A command waits at most for the
// pass under way; it never runs during one.
void Monitor::poll_device(Device& device, std::stop_token stop) {
    device.stop = stop;
    std::unique_lock lock(device.task_mutex);
    while (!stop.stop_requested()) {
        while (!device.tasks.empty()) {
            const UnitBoard::Task task = std::move(device.tasks.front());
            device.tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
        const bool counted = m_options.count > 0 && device.passes >= m_options.count;
        if (counted) {
            if (!device.done.exchange(true)) {
                m_client.wake();  // the monitor's thread sees whether all are done
            }
            device.task_ready.wait(lock, stop, [&device] { return !device.tasks.empty(); });
            continue;
        }
        if (Clock::now() >= device.next_pass) {
            lock.unlock();
            pass(device);
            lock.lock();
            continue;
        }
        device.task_ready.wait_until(lock, stop, device.next_pass,
                                     [&device] { return !device.tasks.empty(); });
    }
}

void Monitor::pass(Device& device) {
    const Clock::time_point started = Clock::now();
    const bool was_up = device.session.link_up();
    step(device);
    if (!device.session.link_up()) {
        device.next_pass = Clock::now() + kReopenEvery;
    } else {
        // Back from an outage: read it now rather than an interval later.
        device.next_pass = was_up ? started + milliseconds(m_options.interval_ms) : Clock::now();
    }
    update_board(device);
}

void Monitor::update_board(const Device& device) {
    if (m_options.board != nullptr) {
        m_options.board->update(UnitView{device.identity, &device.state, device.link_up,
                                         device.link_up && device.state.values_current(),
                                         device.passes, device.pass_at});
    }
}

// The ports the search may probe: the one named with --port, or every port
// there is, less those a session owns (its unit's, even while it does not
// answer: it is being reopened there).
std::vector<PortInfo> Monitor::unowned_ports() {
    std::vector<PortInfo> ports;
    if (const auto& named = cli::common_options().port) {
        PortInfo target = port_from_text(*named);
        if (target.com == 0) {
            target.com = com_port_for_path(target.path);
        }
        if (!target.path.empty()) {
            ports.push_back(std::move(target));
        }
    } else {
        for (PortInfo& port : list_ports()) {
            if (port.com > 0) {
                ports.push_back(std::move(port));
            }
        }
    }
    std::lock_guard lock(m_owned_mutex);
    std::erase_if(ports, [this](const PortInfo& port) { return m_owned.contains(port.path); });
    return ports;
}

// Every few seconds, a quiet search of the ports nobody owns; what it finds
// is handed to the monitor's thread.
void Monitor::search_later(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    const milliseconds every{m_options.search_every_ms};
    while (!never.wait_for(lock, stop, every, [] { return false; }) && !stop.stop_requested()) {
        std::vector<PortInfo> ports = unowned_ports();
        if (ports.empty()) {
            continue;
        }
        DeviceState scratch;  // the search's choice of one polled device is not ours
        SearchOptions options;
        options.ports = std::move(ports);
        options.stop = stop;
        const SearchResult result = search_devices(scratch, options);
        if (result.found.empty() || stop.stop_requested()) {
            continue;
        }
        {
            std::lock_guard found_lock(m_found_mutex);
            m_found.insert(m_found.end(), result.found.begin(), result.found.end());
        }
        m_client.wake();
    }
}

void Monitor::take_found() {
    std::vector<FoundDevice> found;
    {
        std::lock_guard lock(m_found_mutex);
        found.swap(m_found);
    }
    for (const FoundDevice& unit : found) {
        const std::string id = device_identity(unit).id;
        bool known = false;
        for (const auto& device : m_devices) {
            known = known || device->identity.id == id;
        }
        {
            std::lock_guard lock(m_owned_mutex);
            known = known || m_owned.contains(unit.path);  // taken meanwhile by a moved unit
        }
        // The same unit on a second port (an adapter renumbered while its
        // session waits at the old one): one session per unit, or the two
        // would publish over each other.
        if (known) {
            if (m_told.insert(unit.path).second) {
                std::fprintf(stderr,
                             "zorvane-cli: %s: %s is already published; not polled twice "
                             "(--follow-serial follows a unit to a new port)\n",
                             cli::device_port_label(unit).c_str(), id.c_str());
            }
            continue;
        }
        add_device(unit);
    }
    if (!m_devices.empty()) {
        check_allowed();
    }
}

bool Monitor::find_devices() {
    if (cli::common_options().port || cli::common_options().serial) {
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
    check_allowed();
    return true;
}

// A misspelt name would only show when its first command is refused: told
// once, when there are units to compare it with.
void Monitor::check_allowed() {
    if (m_allowed_checked) {
        return;
    }
    m_allowed_checked = true;
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
    const DeviceSession::Step step = device.session.step(device.stop);
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
    device.pass_at = Clock::now();
    m_client.publish(m_topics.state(device.identity), cli::device_state_json(device.state, true),
                     false);
    judge_writes(device);
}

void Monitor::fail_pending(Device& device) {
    for (const PendingWrite& write : device.pending) {
        tell(device, write.reply,
             result_json(write.name, write.text, "failed", "the device does not answer"));
    }
    device.pending.clear();
}

void Monitor::judge_writes(Device& device) {
    const DeviceState& state = device.state;
    for (const PendingWrite& write : device.pending) {
        if (write.choice != nullptr) {
            const float held = (state.*write.choice->field).load();
            tell(device, write.reply,
                 held == static_cast<float>(write.wire)
                     ? result_json(write.name, write.text, "confirmed", "", &held)
                     : result_json(write.name, write.text, "not_held", "", &held));
            continue;
        }
        if (write.param == nullptr) {
            const bool on = generation_on(state, device.identity.family);
            const std::string holds = on ? "on" : "off";
            tell(device, write.reply,
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
        tell(device, write.reply,
             held == wanted ? result_json(write.name, write.text, "confirmed", "", &held)
                            : result_json(write.name, write.text, "not_held", reason, &held));
    }
    device.pending.clear();
}

void Monitor::result(const Device& device, const std::string& json) {
    tell(device, device.reply, json);
}

void Monitor::tell(const Device& device, const UnitBoard::Reply& reply, const std::string& json) {
    if (reply) {
        reply(json);
        return;
    }
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
        if (sent.kind == SettingDecision::Kind::Refused) {
            result(device, result_json(name, text, "refused", sent.refusal));
            return;
        }
        if (!sent.sent) {
            result(device, result_json(name, text, "failed", "the port does not open"));
            return;
        }
        device.pending.push_back({name, text, 0, nullptr, on, nullptr, device.reply});
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
    // A remote command is judged as typed text on the command line is (a
    // number finer than the device keeps is refused), and is never confirmed
    // past a refusal: only a technician at the unit may do that.
    const SettingDecision decision =
        write_setting(device.port, state, param, text, WriteOptions{.exact = true});
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
    device.pending.push_back({name, text, wire, &param, false, nullptr, device.reply});
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
    device.pending.push_back({value.name, text, wire, nullptr, false, v, device.reply});
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
        // tells it, rather than a "down" that is no news. The link is the
        // device thread's to tell.
        Device& unit = *device;
        post(unit, [this, &unit] {
            unit.link_announced =
                unit.passes > 0 && m_client.publish(m_topics.link(unit.identity),
                                                    unit.link_up ? "up" : "down", true, 1);
        });
    }
}

// A unit nobody polls any more must not stay "up" with frozen values. Its
// thread has ended.
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
            // Told from this thread, to the broker: the device's own
            // `reply` is its thread's.
            tell(*device, nullptr,
                 result_json(name, event.payload, "refused",
                             "a retained command is not carried out; it was removed "
                             "from the broker"));
            return;
        }
        Device& unit = *device;
        post(unit, [this, &unit, name, text = event.payload] { command(unit, name, text); });
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
                // On the unit's own thread, between its passes, as the
                // broker's commands are.
                Device& unit = *device;
                post(unit,
                     [this, &unit, request] { command(unit, request.setting, request.value); });
            }
        }
    }
}

bool Monitor::finished() const {
    if (m_options.count <= 0 || m_devices.empty()) {
        return false;
    }
    for (const auto& device : m_devices) {
        if (!device->done.load()) {
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
        if (stop.stop_requested()) {
            return 0;  // stopped during the search: no failure
        }
        // A counted run is a script's, which must not wait for a unit that
        // may never come.
        if (m_options.count > 0) {
            return 1;
        }
        std::fprintf(stderr, "zorvane-cli: no unit found yet; searching again every %d s\n",
                     std::max(1, m_options.search_every_ms / 1000));
    }
    m_searcher = std::jthread([this](std::stop_token done) { search_later(done); });
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
        take_found();
    }
    m_polling = true;
    for (const auto& device : m_devices) {
        start(*device);
    }
    // This thread carries the broker's events to the devices' threads and
    // adds the units found later; the devices' threads wake it when done.
    while (!stop.stop_requested() && !finished()) {
        for (const BrokerEvent& event : m_client.wait_events(milliseconds(250))) {
            handle(event);
        }
        take_found();
        serve_nut();
    }
    m_searcher.request_stop();
    m_searcher.join();
    stop_devices();
    publish_links_down();
    if (m_options.board != nullptr) {
        m_options.board->clear();
    }
    // A counted run is a script's: one that published nothing did not work.
    if (broker && finished() && !m_ever_connected) {
        std::fprintf(stderr,
                     "zorvane-cli: no connection to the broker was made; nothing was published\n");
        return 1;
    }
    return 0;
}

}  // namespace

std::vector<UnitView> UnitBoard::units() const {
    std::lock_guard lock(m_mutex);
    std::vector<UnitView> out;
    for (const auto& [id, view] : m_units) {
        out.push_back(view);
    }
    return out;
}

namespace {

// A copy of the entry for `id`, taken under the board's lock: the caller
// uses it after letting go (a hook may wait on the unit's queue).
template <typename Entry>
std::optional<Entry> entry_of(std::mutex& mutex, const std::map<std::string, Entry>& entries,
                              const std::string& id) {
    std::lock_guard lock(mutex);
    const auto found = entries.find(id);
    if (found == entries.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace

std::optional<UnitView> UnitBoard::unit(const std::string& id) const {
    return entry_of(m_mutex, m_units, id);
}

bool UnitBoard::post(const std::string& id, Task task) const {
    const std::optional<Poster> poster = entry_of(m_mutex, m_posters, id);
    return poster && (*poster)(std::move(task));
}

bool UnitBoard::command(const std::string& id, const std::string& name, const std::string& text,
                        Reply reply) const {
    const std::optional<Commander> commander = entry_of(m_mutex, m_commanders, id);
    return commander && (*commander)(name, text, std::move(reply));
}

void UnitBoard::add(const UnitView& view, Poster poster, Commander commander) {
    std::lock_guard lock(m_mutex);
    m_units[view.identity.id] = view;
    m_posters[view.identity.id] = std::move(poster);
    m_commanders[view.identity.id] = std::move(commander);
}

void UnitBoard::update(const UnitView& view) {
    std::lock_guard lock(m_mutex);
    m_units[view.identity.id] = view;
}

void UnitBoard::clear() {
    std::lock_guard lock(m_mutex);
    m_units.clear();
    m_posters.clear();
    m_commanders.clear();
}

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
