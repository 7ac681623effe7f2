// zorvane-cli monitor against a real broker and simulated devices: what a
// home-automation system subscribed to the broker would see.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "app/monitor/published_values.h"
#include "broker_rig.h"
#include "link/frame.h"
#include "monitor_rig.h"
#include "sim/port_directory.h"

namespace zorvane::testing {
namespace {

namespace fs = std::filesystem;

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

// The frames of one command that the device received, in order.
std::vector<std::vector<uint8_t>> commands_of(sim::SimulatedPort& device, uint8_t code) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& received : device.received()) {
        if (received.size() > 1 && received[1] == code) {
            out.push_back(received);
        }
    }
    return out;
}

bool has_command(sim::SimulatedPort& device, uint8_t code) {
    return !commands_of(device, code).empty();
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
    MonitorRun monitor(dir.path, ports.path(),
                       {"--mqtt", broker.url(), "--interval", "1", "--allow-writes",
                        "UbatLow,gen,EGenUbat", "--instance", "t1"});

    // Discovery: one retained config per value of each device.
    for (const auto& [id, family] :
         {std::pair{"qm48_00042", Family::Qm}, std::pair{"kx24_com5", Family::Kx}}) {
        for (const monitor::PublishedValue& value : monitor::published_values(family)) {
            const char* component = value.kind == monitor::ValueKind::StatusBit ? "binary_sensor"
                                    : value.name == "UbatLow"                   ? "number"
                                    : value.name == "EGenUbat"                  ? "select"
                                                                                : "sensor";
            const std::string topic =
                std::string("homeassistant/") + component + "/" + id + "/" + value.name + "/config";
            const auto config = sub.wait_for_topic(topic);
            ASSERT_TRUE(config) << topic << "\n" << monitor.log();
            const QJsonObject object = parse(config->payload);
            EXPECT_EQ(text(object["unique_id"]), std::string(id) + "_" + value.name);
            EXPECT_EQ(text(object["state_topic"]), std::string("zorvane/") + id + "/state");
            EXPECT_EQ(text(object["device"]["identifiers"][0]), id);
            EXPECT_EQ(text(object["device"]["via_device"]), "zorvane_bridge_t1");
            const QJsonArray availability = object["availability"].toArray();
            ASSERT_EQ(availability.size(), 2);
            EXPECT_EQ(text(availability[0]["topic"]), "zorvane/bridge/t1/availability");
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

    // The generator's start mode, chosen from its list as its entry's number.
    qm->clear_log();
    from = sub.count();
    sub.publish("zorvane/qm48_00042/set/EGenUbat", "1");
    const auto chosen = sub.wait_for_topic("zorvane/qm48_00042/result", from);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(text(parse(chosen->payload)["result"]), "confirmed") << chosen->payload;
    EXPECT_TRUE(holds_frame(*qm, {0xBE, 0x6D, 0x01, 0xAA}));
    from = sub.count();
    sub.publish("zorvane/qm48_00042/set/EGenUbat", "2");
    const auto no_entry = sub.wait_for_topic("zorvane/qm48_00042/result", from);
    ASSERT_TRUE(no_entry);
    EXPECT_EQ(text(parse(no_entry->payload)["result"]), "refused") << no_entry->payload;

    // Home Assistant restarted: every config is sent again.
    from = sub.count();
    sub.publish("homeassistant/status", "online");
    EXPECT_TRUE(sub.wait_for_topic("homeassistant/sensor/kx24_com5/UbatLow/config", from));

    EXPECT_EQ(monitor.stop(SIGTERM), 0);
    const auto offline = sub.wait_for("zorvane/bridge/t1/availability", "offline");
    ASSERT_TRUE(offline);
    // Every unit's link went down before the monitor's offline, and none
    // was said down before its first pass.
    const std::vector<Received> all = sub.all();
    for (const char* id : {"qm48_00042", "kx24_com5"}) {
        const std::string link = std::string("zorvane/") + id + "/link";
        std::vector<std::string> said;
        for (const Received& r : all) {
            if (r.topic == link) {
                said.push_back(r.payload);
            }
            if (r.topic == "zorvane/bridge/t1/availability" && r.payload == "offline") {
                break;
            }
        }
        ASSERT_GE(said.size(), 2u) << link;
        EXPECT_EQ(said.front(), "up") << link;
        EXPECT_EQ(said.back(), "down") << link;
    }

    // What a dashboard connecting now is given: the broker kept the configs
    // and the availability.
    Subscriber late(broker.port());
    for (const char* topic :
         {"homeassistant/sensor/kx24_com5/Pmax/config", "zorvane/qm48_00042/link"}) {
        const auto kept = late.wait_for_topic(topic);
        ASSERT_TRUE(kept) << topic;
        EXPECT_TRUE(kept->retained) << topic;
    }
    EXPECT_TRUE(late.wait_for("zorvane/qm48_00042/link", "down"));
    EXPECT_TRUE(late.wait_for("zorvane/bridge/t1/availability", "offline"));
}

// Whether the broker still keeps a message on `topic` for whoever subscribes
// next. A client subscribing now is handed every retained message first,
// then its own marker, published once its subscription is seen to work
// (the monitor's retained availability has arrived).
bool kept_on_broker(int port, const std::string& topic, const std::string& instance) {
    Subscriber late(port);
    if (!late.wait_for_topic("zorvane/bridge/" + instance + "/availability")) {
        ADD_FAILURE() << "no retained availability";
        return true;
    }
    late.publish("test/marker", "1");
    if (!late.wait_for("test/marker", "1")) {
        ADD_FAILURE() << "the marker did not come back";
        return true;
    }
    for (const Received& r : late.all()) {
        if (r.topic == topic && !r.payload.empty()) {
            return true;
        }
    }
    return false;
}

// Commands one after the other, each judged against what the unit holds
// after the ones before it; retained commands, left before the monitor
// started or published while it runs, refused and removed from the broker.
TEST(MonitorBroker, CommandsInOrderAndRetainedCommandsRefusedAndCleared) {
    TempDir dir;
    sim::PortDirectory ports;
    sim::SimulatedPort* kx = ports.add(5, {DeviceModel::KX24, "K1", {}});
    ASSERT_TRUE(kx);
    kx->with_device([](sim::SimDevice& d) { d.set_value(kUbatLowRead, 240); });
    Broker broker(dir.path);
    Subscriber sub(broker.port());
    const std::string command = "zorvane/kx24_k1/set/UbatLow";
    const std::string results = "zorvane/kx24_k1/result";
    sub.publish(command, "23.0", true);
    MonitorRun monitor(dir.path, ports.path(),
                       {"--mqtt", broker.url(), "--interval", "1", "--port", "COM5",
                        "--allow-writes", "UbatLow", "--instance", "t3"});

    const auto early = sub.wait_for_topic(results);
    ASSERT_TRUE(early) << monitor.log();
    EXPECT_EQ(text(parse(early->payload)["result"]), "refused") << early->payload;
    EXPECT_NE(text(parse(early->payload)["reason"]).find("retained"), std::string::npos);
    ASSERT_TRUE(sub.wait_for("zorvane/kx24_k1/link", "up"));
    EXPECT_FALSE(kept_on_broker(broker.port(), command, "t3"));

    // Published retained while the monitor runs: seen as retained all the same.
    size_t from = sub.count();
    sub.publish(command, "25.0", true);
    const auto live = sub.wait_for_topic(results, from);
    ASSERT_TRUE(live) << monitor.log();
    EXPECT_EQ(text(parse(live->payload)["result"]), "refused") << live->payload;
    EXPECT_NE(text(parse(live->payload)["reason"]).find("retained"), std::string::npos);
    EXPECT_FALSE(kept_on_broker(broker.port(), command, "t3"));
    EXPECT_FALSE(has_command(*kx, 0x4D));

    // 24.5 then at once 24.0 while the unit holds 24.0: the last one wins.
    from = sub.count();
    sub.publish(command, "24.5");
    sub.publish(command, "24.0");
    const std::vector<Received> both = sub.wait_for_n(results, 2, from);
    ASSERT_EQ(both.size(), 2u) << monitor.log();
    EXPECT_EQ(text(parse(both[0].payload)["value"]), "24.5");
    EXPECT_EQ(text(parse(both[0].payload)["result"]), "confirmed") << both[0].payload;
    EXPECT_EQ(text(parse(both[1].payload)["value"]), "24.0");
    EXPECT_EQ(text(parse(both[1].payload)["result"]), "confirmed") << both[1].payload;
    EXPECT_DOUBLE_EQ(parse(both[1].payload)["holds"].toDouble(), 24.0);
    EXPECT_EQ(commands_of(*kx, 0x4D),
              (std::vector<std::vector<uint8_t>>{{0xBE, 0x4D, 0x00, 0xF5, 0xAA},
                                                 {0xBE, 0x4D, 0x00, 0xF0, 0xAA}}));
    EXPECT_EQ(kx->with_device([](sim::SimDevice& d) { return d.value(kUbatLowRead); }), 240);
    // Said unchanged only where the unit holds the value already.
    from = sub.count();
    sub.publish(command, "24.0");
    const auto again = sub.wait_for_topic(results, from);
    ASSERT_TRUE(again);
    EXPECT_EQ(text(parse(again->payload)["result"]), "unchanged") << again->payload;

    EXPECT_EQ(monitor.stop(SIGTERM), 0);
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
    MonitorRun monitor(
        dir.path, ports,
        {"--mqtt", broker.url(), "--interval", "1", "--port", "COM3", "--instance", "t2"});
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
    EXPECT_TRUE(sub.wait_for("zorvane/bridge/t2/availability", "online", restart_at))
        << monitor.log();
    EXPECT_TRUE(sub.wait_for_topic("homeassistant/sensor/kx48_k7/Pmax/config", restart_at));
    EXPECT_TRUE(sub.wait_for_topic(state, restart_at));

    // Killed without a word: the broker sends the will.
    const size_t kill_at = sub.count();
    monitor.stop(SIGKILL);
    EXPECT_TRUE(sub.wait_for("zorvane/bridge/t2/availability", "offline", kill_at));
}

// Two hosts' monitors on one broker: each unit depends on its own monitor's
// availability, so one stopping leaves the other's units available. One
// of them speaks to Home Assistant under another discovery prefix.
TEST(MonitorBroker, TwoInstancesStopApart) {
    TempDir dir;
    const fs::path ports_a = dir.path / "a";
    const fs::path ports_b = dir.path / "b";
    for (const char* sub_dir : {"a", "b", "log_a", "log_b"}) {
        fs::create_directories(dir.path / sub_dir);
    }
    sim::SimulatedPort qm({DeviceModel::QM24, "11", {}});
    sim::SimulatedPort kx({DeviceModel::KX48, "22", {}});
    fs::create_symlink(qm.terminal_path(), ports_a / "COM3");
    fs::create_symlink(kx.terminal_path(), ports_b / "COM3");
    Broker broker(dir.path);
    Subscriber sub(broker.port());
    MonitorRun a(dir.path / "log_a", ports_a,
                 {"--mqtt", broker.url(), "--interval", "1", "--port", "COM3", "--instance", "a"});
    MonitorRun b(dir.path / "log_b", ports_b,
                 {"--mqtt", broker.url(), "--interval", "1", "--port", "COM3", "--instance", "b",
                  "--discovery-prefix", "ha"});
    ASSERT_TRUE(sub.wait_for("zorvane/qm24_11/link", "up")) << a.log();
    ASSERT_TRUE(sub.wait_for("zorvane/kx48_22/link", "up")) << b.log();
    const auto config = sub.wait_for_topic("ha/sensor/kx48_22/Pmax/config");
    ASSERT_TRUE(config);
    EXPECT_EQ(text(parse(config->payload)["availability"][0]["topic"]),
              "zorvane/bridge/b/availability");
    ASSERT_TRUE(sub.wait_for("zorvane/bridge/b/availability", "online"));
    ASSERT_TRUE(sub.wait_for_topic("homeassistant/sensor/qm24_11/Pmax/config"));
    // Home Assistant restarting under "ha" concerns b only.
    const size_t restart_at = sub.count();
    sub.publish("ha/status", "online");
    EXPECT_TRUE(
        sub.wait_for_topic("ha/binary_sensor/zorvane_bridge_b/connection/config", restart_at));

    EXPECT_EQ(a.stop(SIGTERM), 0);
    ASSERT_TRUE(sub.wait_for("zorvane/bridge/a/availability", "offline"));
    const size_t after = sub.count();
    EXPECT_TRUE(sub.wait_for("zorvane/qm24_11/link", "down"));
    // b goes on: states keep coming, and nothing says b or its unit is away.
    EXPECT_TRUE(sub.wait_for_topic("zorvane/kx48_22/state", after)) << b.log();
    for (const Received& r : sub.all()) {
        EXPECT_FALSE(r.topic == "zorvane/bridge/b/availability" && r.payload == "offline");
        EXPECT_FALSE(r.topic == "zorvane/kx48_22/link" && r.payload == "down");
    }
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

namespace zorvane::testing {
namespace {

// A monitor started before any adapter is plugged keeps searching: a unit
// plugged later is published, and so is a second one plugged while the
// first is polled, whose port the search leaves alone meanwhile.
TEST(MonitorBroker, UnitsPluggedLaterArePublished) {
    TempDir dir;
    sim::PortDirectory ports;
    Broker broker(dir.path);
    Subscriber sub(broker.port());
    MonitorRun monitor(dir.path, ports.path(),
                       {"--mqtt", broker.url(), "--interval", "1", "--instance", "t4"});
    ASSERT_TRUE(sub.wait_for("zorvane/bridge/t4/availability", "online")) << monitor.log();
    EXPECT_NE(monitor.log().find("no unit found yet"), std::string::npos) << monitor.log();

    sim::SimulatedPort* qm = ports.add(3, {DeviceModel::QM48, "00042", {}});
    ASSERT_TRUE(qm);
    ASSERT_TRUE(sub.wait_for("zorvane/qm48_00042/link", "up")) << monitor.log();
    ASSERT_TRUE(sub.wait_for_topic("zorvane/qm48_00042/state"));
    EXPECT_TRUE(sub.wait_for_topic("homeassistant/sensor/qm48_00042/Pmax/config"));
    // Its passes never ask for the serial number; a probe does.
    const size_t identified = commands_of(*qm, cmd::kSerialNumber).size();

    ASSERT_TRUE(ports.add(4, {DeviceModel::KX48, "K7", {}}));
    ASSERT_TRUE(sub.wait_for("zorvane/kx48_k7/link", "up")) << monitor.log();
    ASSERT_TRUE(sub.wait_for_topic("zorvane/kx48_k7/state"));
    const size_t at = sub.count();
    EXPECT_TRUE(sub.wait_for_topic("zorvane/qm48_00042/state", at));
    EXPECT_EQ(commands_of(*qm, cmd::kSerialNumber).size(), identified);
    EXPECT_EQ(monitor.stop(SIGTERM), 0);
}

// A counted run is a script's: with no unit it ends rather than waits.
TEST(MonitorBroker, CountedRunWithoutUnitsFails) {
    TempDir dir;
    sim::PortDirectory ports;
    Broker broker(dir.path);
    MonitorRun monitor(dir.path, ports.path(), {"--mqtt", broker.url(), "--count", "1"});
    EXPECT_EQ(monitor.wait(), 1) << monitor.log();
}

}  // namespace
}  // namespace zorvane::testing
