// zorvane-cli monitor against a real broker and simulated devices: what a
// home-automation system subscribed to the broker would see.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "app/monitor/published_values.h"
#include "broker_rig.h"
#include "sim/port_directory.h"

namespace zorvane::testing {
namespace {

namespace fs = std::filesystem;

class MonitorRun {
  public:
    MonitorRun(const fs::path& dir, const fs::path& ports, std::vector<std::string> args) {
        args.insert(args.begin(), {ZORVANE_CLI, "monitor"});
        m_log = dir / "monitor.log";
        m_pid = spawn(args, {"ZORVANE_PORT_DIR=" + ports.string()}, m_log);
    }
    ~MonitorRun() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            wait_exit(m_pid);
        }
    }
    int stop(int signal) {
        kill(m_pid, signal);
        const int status = wait_exit(m_pid);
        m_pid = -1;
        return status;
    }
    std::string log() const {
        std::ifstream in(m_log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    pid_t m_pid = -1;
    fs::path m_log;
};

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/zorvane-monitor-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

QJsonObject parse(const std::string& payload) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(payload));
    EXPECT_TRUE(doc.isObject()) << payload;
    return doc.object();
}

std::string text(const QJsonValue& value) {
    return value.toString().toStdString();
}

// "{{ value_json.qm_status1[2] }}" read from a state object.
QJsonValue at_path(const QJsonObject& state, const std::string& json_path) {
    const size_t bracket = json_path.find('[');
    const QJsonValue value = state.value(QString::fromStdString(json_path.substr(0, bracket)));
    if (bracket == std::string::npos) {
        return value;
    }
    return value.toArray().at(std::stoi(json_path.substr(bracket + 1)));
}

constexpr uint8_t kUbatLowRead = 0x4E;

bool holds_frame(sim::SimulatedPort& device, const std::vector<uint8_t>& frame) {
    for (const auto& received : device.received()) {
        if (received == frame) {
            return true;
        }
    }
    return false;
}

bool has_command(sim::SimulatedPort& device, uint8_t code) {
    for (const auto& received : device.received()) {
        if (received.size() > 1 && received[1] == code) {
            return true;
        }
    }
    return false;
}

// Two devices found by the search, one with a serial number and one without,
// each under its own id; every value described to Home Assistant; the state
// as the simulated device holds it; an allowed write confirmed, another
// refused with nothing sent; discovery again when Home Assistant restarts;
// offline on SIGTERM.
TEST(MonitorBroker, TwoDevicesDiscoveryStateWritesAndCleanStop) {
    TempDir dir;
    sim::PortDirectory ports;
    sim::SimulatedPort* qm = ports.add(3, {DeviceModel::QM48, "00042", {}});
    sim::SimulatedPort* kx = ports.add(5, {DeviceModel::KX24, std::nullopt, {}});
    ASSERT_TRUE(qm && kx);
    qm->with_device([](sim::SimDevice& d) { d.set_value(kUbatLowRead, 441); });
    Broker broker(dir.path);
    Subscriber sub(broker.port());
    // Left on the broker before the monitor starts: never carried out.
    sub.publish("zorvane/qm48_00042/set/UbatLow", "40", true);
    MonitorRun monitor(
        dir.path, ports.path(),
        {"--mqtt", broker.url(), "--interval", "1", "--allow-writes", "UbatLow,gen"});

    // Discovery: one retained config per value of each device.
    for (const auto& [id, family] :
         {std::pair{"qm48_00042", Family::Qm}, std::pair{"kx24_com5", Family::Kx}}) {
        for (const monitor::PublishedValue& value : monitor::published_values(family)) {
            const char* component = value.kind == monitor::ValueKind::StatusBit ? "binary_sensor"
                                    : value.name == "UbatLow"                   ? "number"
                                                                                : "sensor";
            const std::string topic =
                std::string("homeassistant/") + component + "/" + id + "/" + value.name + "/config";
            const auto config = sub.wait_for_topic(topic);
            ASSERT_TRUE(config) << topic << "\n" << monitor.log();
            const QJsonObject object = parse(config->payload);
            EXPECT_EQ(text(object["unique_id"]), std::string(id) + "_" + value.name);
            EXPECT_EQ(text(object["state_topic"]), std::string("zorvane/") + id + "/state");
            EXPECT_EQ(text(object["device"]["identifiers"][0]), id);
            EXPECT_NE(text(object["device"]["sw_version"]).find("Zorvane"), std::string::npos);
            const QJsonArray availability = object["availability"].toArray();
            ASSERT_EQ(availability.size(), 2);
            EXPECT_EQ(text(availability[0]["topic"]), "zorvane/availability");
            EXPECT_EQ(text(availability[1]["topic"]), std::string("zorvane/") + id + "/link");
            EXPECT_NE(text(object["value_template"]).find(value.json_path), std::string::npos);
            if (value.kind == monitor::ValueKind::Counter) {
                EXPECT_EQ(text(object["state_class"]), "total_increasing") << value.name;
            }
            if (!value.unit.empty()) {
                EXPECT_EQ(text(object["unit_of_measurement"]), value.unit) << value.name;
            }
        }
    }
    const QJsonObject ubat_low =
        parse(sub.wait_for_topic("homeassistant/number/qm48_00042/UbatLow/config")->payload);
    EXPECT_EQ(text(ubat_low["command_topic"]), "zorvane/qm48_00042/set/UbatLow");
    EXPECT_EQ(text(ubat_low["device_class"]), "voltage");
    EXPECT_EQ(text(ubat_low["device"]["serial_number"]), "00042");
    EXPECT_EQ(text(ubat_low["device"]["model"]), "QM-48");
    EXPECT_DOUBLE_EQ(ubat_low["max"].toDouble(), 64);  // the 48 V class's span
    EXPECT_DOUBLE_EQ(ubat_low["step"].toDouble(), 0.1);
    // A setting not allowed has no number entity (one left by an earlier
    // run is removed).
    const auto pmax_number = sub.wait_for_topic("homeassistant/number/qm48_00042/Pmax/config");
    ASSERT_TRUE(pmax_number);
    EXPECT_EQ(pmax_number->payload, "");

    // The state is what the device holds.
    const std::vector<monitor::PublishedValue> qm_values = monitor::published_values(Family::Qm);
    const monitor::PublishedValue* ubat_value = monitor::find_published(qm_values, "UbatLow");
    ASSERT_TRUE(ubat_value);
    const auto state = sub.wait_for_topic("zorvane/qm48_00042/state");
    ASSERT_TRUE(state);
    EXPECT_FLOAT_EQ(at_path(parse(state->payload), ubat_value->json_path).toDouble(), 44.1f);
    ASSERT_TRUE(sub.wait_for_topic("zorvane/kx24_com5/state"));
    EXPECT_TRUE(sub.wait_for("zorvane/qm48_00042/link", "up"));
    const auto retained_command = sub.wait_for_topic("zorvane/qm48_00042/result");
    ASSERT_TRUE(retained_command);
    EXPECT_EQ(text(parse(retained_command->payload)["result"]), "refused");
    EXPECT_FALSE(has_command(*qm, 0x4D));
    sub.publish("zorvane/qm48_00042/set/UbatLow", "", true);  // the retained command goes

    // An allowed write: the frame, then the value read back.
    qm->clear_log();
    const size_t write_at = sub.count();
    sub.publish("zorvane/qm48_00042/set/UbatLow", "45.5");
    const auto confirmed = sub.wait_for_topic("zorvane/qm48_00042/result", write_at);
    ASSERT_TRUE(confirmed) << monitor.log();
    const QJsonObject result = parse(confirmed->payload);
    EXPECT_EQ(text(result["result"]), "confirmed") << confirmed->payload;
    EXPECT_DOUBLE_EQ(result["holds"].toDouble(), 45.5);
    EXPECT_TRUE(holds_frame(*qm, {0xBE, 0x4D, 0x01, 0xC7, 0xAA}));

    // A name not allowed, and a value out of range: refused, nothing sent.
    qm->clear_log();
    size_t from = sub.count();
    sub.publish("zorvane/qm48_00042/set/Pmax", "100");
    sub.publish("zorvane/qm48_00042/set/UbatLow", "9999");
    for (const char* name : {"\"Pmax\"", "\"UbatLow\""}) {
        const auto refusal = sub.wait_for(
            [&](const Received& r) {
                return r.topic == "zorvane/qm48_00042/result" &&
                       r.payload.find(name) != std::string::npos;
            },
            from);
        ASSERT_TRUE(refusal) << name;
        EXPECT_EQ(text(parse(refusal->payload)["result"]), "refused") << refusal->payload;
        EXPECT_FALSE(text(parse(refusal->payload)["reason"]).empty());
    }
    EXPECT_FALSE(has_command(*qm, 0x51));  // Pmax
    EXPECT_FALSE(has_command(*qm, 0x4D));  // UbatLow

    // The output switch: the action, then the generation bit read back.
    ASSERT_TRUE(sub.wait_for_topic("homeassistant/switch/qm48_00042/gen/config"));
    from = sub.count();
    sub.publish("zorvane/qm48_00042/set/gen", "off");
    const auto switched = sub.wait_for_topic("zorvane/qm48_00042/result", from);
    ASSERT_TRUE(switched);
    EXPECT_EQ(text(parse(switched->payload)["result"]), "confirmed") << switched->payload;
    EXPECT_TRUE(holds_frame(*qm, {0xBE, 0x49, 0xAA}));
    EXPECT_FALSE(qm->with_device([](sim::SimDevice& d) { return d.generating(); }));

    // Home Assistant restarted: every config is sent again.
    from = sub.count();
    sub.publish("homeassistant/status", "online");
    EXPECT_TRUE(sub.wait_for_topic("homeassistant/sensor/kx24_com5/UbatLow/config", from));

    EXPECT_EQ(monitor.stop(SIGTERM), 0);
    EXPECT_TRUE(sub.wait_for("zorvane/availability", "offline"));

    // What a dashboard connecting now is given: the broker kept the configs
    // and the availability.
    Subscriber late(broker.port());
    for (const char* topic :
         {"homeassistant/sensor/kx24_com5/Pmax/config", "zorvane/qm48_00042/link"}) {
        const auto kept = late.wait_for_topic(topic);
        ASSERT_TRUE(kept) << topic;
        EXPECT_TRUE(kept->retained) << topic;
    }
    EXPECT_TRUE(late.wait_for("zorvane/availability", "offline"));
}

// Links COM3 of `dir` to the terminal of `device`, as plugging it in.
void plug(const fs::path& dir, sim::SimulatedPort& device) {
    const fs::path link = dir / "COM3";
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(device.terminal_path(), link);
}

// Whether `state` came between message `from` and the next "up" on `link`.
bool state_while_down(Subscriber& sub, size_t from, const std::string& link,
                      const std::string& state) {
    const std::vector<Received> all = sub.all();
    for (size_t i = from; i < all.size(); ++i) {
        if (all[i].topic == link && all[i].payload == "up") {
            return false;
        }
        if (all[i].topic == state) {
            return true;
        }
    }
    return false;
}

// The device unplugged and plugged in again: link down with no state while
// it is away, up again after; the broker restarted: online and discovery
// again; the monitor killed: the broker tells offline for it.
TEST(MonitorBroker, OutagesOfTheDeviceAndOfTheBroker) {
    TempDir dir;
    const fs::path ports = dir.path / "ports";
    fs::create_directory(ports);
    const sim::DeviceConfig config{DeviceModel::KX48, "K7", {}};
    auto device = std::make_unique<sim::SimulatedPort>(config);
    plug(ports, *device);
    Broker broker(dir.path);
    Subscriber sub(broker.port());
    MonitorRun monitor(dir.path, ports,
                       {"--mqtt", broker.url(), "--interval", "1", "--port", "COM3"});
    const std::string link = "zorvane/kx48_k7/link";
    const std::string state = "zorvane/kx48_k7/state";
    ASSERT_TRUE(sub.wait_for(link, "up")) << monitor.log();
    ASSERT_TRUE(sub.wait_for_topic(state));

    // Unplugged.
    const size_t unplug_at = sub.count();
    device->hang_up();
    const auto down = sub.wait_for(link, "down", unplug_at);
    ASSERT_TRUE(down) << monitor.log();
    const size_t down_at = sub.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a reopen or two fail
    device = std::make_unique<sim::SimulatedPort>(config);
    plug(ports, *device);
    ASSERT_TRUE(sub.wait_for(link, "up", down_at)) << monitor.log();
    const size_t up_at = sub.count();
    EXPECT_FALSE(state_while_down(sub, down_at, link, state));
    ASSERT_TRUE(sub.wait_for_topic(state, up_at));

    // The broker restarts, with nothing retained.
    broker.stop();
    const size_t restart_at = sub.count();
    broker.start();
    EXPECT_TRUE(sub.wait_for("zorvane/availability", "online", restart_at)) << monitor.log();
    EXPECT_TRUE(sub.wait_for_topic("homeassistant/sensor/kx48_k7/Pmax/config", restart_at));
    EXPECT_TRUE(sub.wait_for_topic(state, restart_at));

    // Killed without a word: the broker sends the will.
    const size_t kill_at = sub.count();
    monitor.stop(SIGKILL);
    EXPECT_TRUE(sub.wait_for("zorvane/availability", "offline", kill_at));
}

// Remote commands are judged as text typed on the command line is: a
// negative number, one finer than the device keeps and one outside the
// span of the unit's class are refused, and nothing from the broker
// overrides a refusal. Home Assistant is offered the class's span and the
// device's step.
TEST(MonitorBroker, RemoteCommandsAreJudgedAndNeverOverridden) {
    TempDir dir;
    sim::PortDirectory ports;
    sim::SimulatedPort* qm = ports.add(3, {DeviceModel::QM48, "00042", {}});
    ASSERT_TRUE(qm);
    Broker broker(dir.path);
    Subscriber sub(broker.port());
    MonitorRun monitor(dir.path, ports.path(),
                       {"--mqtt", broker.url(), "--interval", "1", "--allow-writes", "UbatLow"});
    const auto config = sub.wait_for_topic("homeassistant/number/qm48_00042/UbatLow/config");
    ASSERT_TRUE(config) << monitor.log();
    const QJsonObject number = parse(config->payload);
    EXPECT_DOUBLE_EQ(number["min"].toDouble(), 36);
    EXPECT_DOUBLE_EQ(number["max"].toDouble(), 64);
    EXPECT_DOUBLE_EQ(number["step"].toDouble(), 0.1);
    ASSERT_TRUE(sub.wait_for_topic("zorvane/qm48_00042/state")) << monitor.log();
    qm->clear_log();
    for (const char* value : {"-0.09", "44.55", "99"}) {
        const size_t from = sub.count();
        sub.publish("zorvane/qm48_00042/set/UbatLow", value);
        const auto reply = sub.wait_for_topic("zorvane/qm48_00042/result", from);
        ASSERT_TRUE(reply) << value << "\n" << monitor.log();
        EXPECT_EQ(text(parse(reply->payload)["result"]), "refused") << reply->payload;
    }
    EXPECT_FALSE(has_command(*qm, 0x4D));  // UbatLow
}

}  // namespace
}  // namespace zorvane::testing
