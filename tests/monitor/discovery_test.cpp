// Every discovery config read as Home Assistant's MQTT documentation
// describes it, and every value_template applied to the state the monitor
// publishes.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <regex>
#include <set>

#include "app/cli/state_json.h"
#include "app/monitor/device_topics.h"
#include "app/monitor/monitor.h"

namespace zorvane::monitor {
namespace {

using Names = std::set<std::string>;

// Home Assistant's MQTT documentation: the configuration variables of each
// component used here, the device block, and the classes with their units.
const Names kEntityKeys = {"availability",
                           "availability_mode",
                           "default_entity_id",
                           "device",
                           "enabled_by_default",
                           "entity_category",
                           "name",
                           "origin",
                           "state_topic",
                           "unique_id",
                           "value_template"};
const std::map<std::string, Names> kComponentKeys = {
    {"sensor",
     {"device_class", "state_class", "unit_of_measurement", "suggested_display_precision"}},
    {"binary_sensor", {"device_class", "payload_on", "payload_off"}},
    {"number",
     {"command_topic", "command_template", "device_class", "min", "max", "step", "mode",
      "unit_of_measurement"}},
    {"select", {"command_topic", "command_template", "options"}},
    {"switch",
     {"command_topic", "device_class", "payload_on", "payload_off", "state_on", "state_off"}},
};
const Names kDeviceKeys = {"identifiers",   "name",       "model",     "manufacturer",
                           "serial_number", "sw_version", "via_device"};
// Units each class takes (sensor and number share them).
const std::map<std::string, Names> kClassUnits = {
    {"voltage", {"V", "mV", "kV"}},
    {"current", {"A", "mA"}},
    {"apparent_power", {"VA", "kVA"}},
    {"temperature", {"°C", "°F", "K"}},
    {"duration", {"d", "h", "min", "s", "ms"}},
};
const Names kBinaryClasses = {"battery", "connectivity", "heat", "power", "problem", "running"};
const Names kSwitchClasses = {"outlet", "switch"};
// State classes, and those a measured class allows.
const std::map<std::string, Names> kClassStates = {
    {"voltage", {"measurement"}},
    {"current", {"measurement"}},
    {"apparent_power", {"measurement"}},
    {"temperature", {"measurement"}},
    {"duration", {"measurement", "total", "total_increasing"}},
    {"", {"measurement", "total", "total_increasing"}},
};

std::string text(const QJsonValue& value) {
    return value.toString().toStdString();
}

// The value a path ("qm_status1[2]") names in the state.
QJsonValue at_path(const QJsonObject& state, const std::string& path) {
    const size_t bracket = path.find('[');
    const QJsonValue value = state.value(QString::fromStdString(path.substr(0, bracket)));
    return bracket == std::string::npos ? value
                                        : value.toArray().at(std::stoi(path.substr(bracket + 1)));
}

// The templates the monitor writes, applied as Home Assistant would; an
// unknown form fails the test.
std::string render(const std::string& tmpl, const QJsonObject& state) {
    static const std::regex plain(R"(\{\{ value_json\.([a-z_0-9]+(\[\d+\])?) \}\})");
    static const std::regex listed(R"(\{\{ (\[.*\])\[value_json\.([a-z_0-9]+) \| int\] \}\})");
    std::smatch m;
    if (std::regex_match(tmpl, m, plain)) {
        const QJsonValue value = at_path(state, m[1]);
        EXPECT_TRUE(value.isDouble()) << tmpl << " finds no number";
        return QJsonDocument(QJsonArray{value})
            .toJson(QJsonDocument::Compact)
            .mid(1)
            .chopped(1)
            .toStdString();
    }
    if (std::regex_match(tmpl, m, listed)) {
        const QJsonArray options = QJsonDocument::fromJson(QByteArray::fromStdString(m[1])).array();
        const QJsonValue value = at_path(state, m[2]);
        EXPECT_TRUE(value.isDouble()) << tmpl;
        const int index = value.toInt(-1);
        EXPECT_TRUE(index >= 0 && index < options.size()) << tmpl;
        return text(options.at(index));
    }
    ADD_FAILURE() << "a template Home Assistant is not known to take here: " << tmpl;
    return {};
}

// A state with every value set, finer than any is shown; a setting with a
// span for the `volts` class sits inside it.
void fill(DeviceState& state, int volts) {
    state.g_values_read.store(1);
    for (const Variable& v : variables()) {
        if (v.is_array()) {
            for (size_t i = 0; i < (state.*v.array).size(); ++i) {
                (state.*v.array)[i].store(31.23456789 + static_cast<double>(i));
            }
        } else {
            const Plausible span = v.plausible(volts);
            const double inside = span.set() ? (span.low + span.high) / 2 + 0.00567 : 12.34567;
            (state.*v.field).store(v.choice ? 1.0f : static_cast<float>(inside));
        }
    }
    for (const StatusArrayRow& row : status_arrays()) {
        (state.*row.array)[2].store(1);
    }
    CounterValues counters{};
    counters.fill(1234);
    state.lifetime_counters.publish(counters);
}

struct Config {
    std::string component;
    std::string topic;
    QJsonObject object;
};

std::vector<Config> configs(const std::vector<RetainedMessage>& messages, const Topics& topics) {
    std::vector<Config> out;
    for (const RetainedMessage& message : messages) {
        if (message.payload.empty()) {
            continue;
        }
        const std::string head = topics.discovery + "/";
        EXPECT_TRUE(message.topic.starts_with(head)) << message.topic;
        const std::string component =
            message.topic.substr(head.size(), message.topic.find('/', head.size()) - head.size());
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(message.payload));
        EXPECT_TRUE(doc.isObject()) << message.payload;
        out.push_back({component, message.topic, doc.object()});
    }
    return out;
}

void check_config(const Config& c, const QJsonObject& state, const Topics& topics) {
    const QJsonObject& o = c.object;
    SCOPED_TRACE(c.topic);
    ASSERT_TRUE(kComponentKeys.contains(c.component));
    const Names& own = kComponentKeys.at(c.component);
    for (const QString& key : o.keys()) {
        EXPECT_TRUE(kEntityKeys.contains(key.toStdString()) || own.contains(key.toStdString()))
            << "not a key of " << c.component << ": " << key.toStdString();
    }
    for (const QString& key : o["device"].toObject().keys()) {
        EXPECT_TRUE(kDeviceKeys.contains(key.toStdString())) << key.toStdString();
    }
    // The entity id Home Assistant makes: the component, then a slug.
    const std::string entity_id = text(o["default_entity_id"]);
    EXPECT_TRUE(std::regex_match(entity_id, std::regex(c.component + R"(\.[a-z0-9_]+)")))
        << entity_id;
    const std::string name = text(o["name"]);
    EXPECT_TRUE(!name.empty() && name.size() <= 48 && std::isupper(name[0])) << name;
    EXPECT_FALSE(text(o["state_topic"]).empty());
    for (const QJsonValue& a : o["availability"].toArray()) {
        EXPECT_FALSE(text(a["topic"]).empty());
    }
    if (o.contains("entity_category")) {
        const std::string category = text(o["entity_category"]);
        // A sensor cannot be a configuration entity.
        EXPECT_TRUE(category == "diagnostic" || (category == "config" && c.component != "sensor"))
            << category;
    }
    const std::string cls = text(o["device_class"]);
    const std::string unit = text(o["unit_of_measurement"]);
    if (c.component == "sensor" || c.component == "number") {
        if (!cls.empty()) {
            ASSERT_TRUE(kClassUnits.contains(cls)) << cls;
            EXPECT_TRUE(kClassUnits.at(cls).contains(unit)) << cls << " in " << unit;
        }
    } else if (c.component == "binary_sensor") {
        EXPECT_TRUE(cls.empty() || kBinaryClasses.contains(cls)) << cls;
    } else if (c.component == "switch") {
        EXPECT_TRUE(cls.empty() || kSwitchClasses.contains(cls)) << cls;
    }
    if (o.contains("state_class")) {
        EXPECT_TRUE(
            kClassStates.at(kClassStates.contains(cls) ? cls : "").contains(text(o["state_class"])))
            << cls << " with " << text(o["state_class"]);
    }
    if (o.contains("command_topic")) {
        EXPECT_TRUE(text(o["command_topic"]).starts_with(topics.prefix + "/"));
    }
    // The bridge's own entity reads its availability, not the state.
    if (!o.contains("value_template")) {
        EXPECT_EQ(text(o["state_topic"]).find("/state"), std::string::npos);
        return;
    }
    const std::string shown = render(text(o["value_template"]), state);
    if (c.component == "sensor") {
        const size_t dot = shown.find('.');
        const int decimals =
            dot == std::string::npos ? 0 : static_cast<int>(shown.size() - dot - 1);
        EXPECT_LE(decimals, o["suggested_display_precision"].toInt(-1)) << shown;
    } else if (c.component == "binary_sensor") {
        EXPECT_TRUE(shown == text(o["payload_on"]) || shown == text(o["payload_off"])) << shown;
    } else if (c.component == "switch") {
        EXPECT_TRUE(shown == text(o["state_on"]) || shown == text(o["state_off"])) << shown;
    } else if (c.component == "number") {
        const double value = std::stod(shown);
        EXPECT_GE(value, o["min"].toDouble());
        EXPECT_LE(value, o["max"].toDouble());
        EXPECT_GT(o["step"].toDouble(), 0.0);
    } else if (c.component == "select") {
        // Each entry is sent as its position in the list: the wire value.
        const std::string command = text(o["command_template"]);
        EXPECT_EQ(
            command,
            "{{ " +
                QJsonDocument(o["options"].toArray()).toJson(QJsonDocument::Compact).toStdString() +
                ".index(value) }}");
        bool listed = false;
        for (const QJsonValue& option : o["options"].toArray()) {
            listed = listed || text(option) == shown;
        }
        EXPECT_TRUE(listed) << shown;
    }
}

// Both families, everything allowed and nothing allowed: every config holds
// only documented keys, classes, units and state classes, and each template
// finds its value in the state, no finer than it is shown.
TEST(MonitorDiscovery, EveryConfigAsHomeAssistantDocumentsIt) {
    const Topics topics{"zorvane", "host-1", "ha"};
    for (const Family family : {Family::Kx, Family::Qm}) {
        DeviceState state;
        fill(state, family == Family::Kx ? 24 : 48);
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(cli::device_state_json(state, true)))
                .object();
        const DeviceIdentity device{family == Family::Kx ? "kx24_com5" : "qm48_00042",
                                    family == Family::Kx ? "KX-24" : "QM-48",
                                    family == Family::Kx ? "" : "00042", family};
        const std::vector<PublishedValue> values = published_values(family);
        std::set<std::string> every_setting = {kGenerationName};
        for (const PublishedValue& value : values) {
            if (value.kind == ValueKind::Setting) {
                every_setting.insert(value.name);
            }
        }
        for (const auto& allowed : {std::set<std::string>{}, every_setting}) {
            std::vector<RetainedMessage> messages =
                discovery_messages(device, values, topics, allowed);
            for (RetainedMessage& bridge : bridge_messages(topics)) {
                messages.push_back(std::move(bridge));
            }
            Names entity_ids;
            Names names;
            for (const Config& c : configs(messages, topics)) {
                check_config(c, json, topics);
                EXPECT_TRUE(entity_ids.insert(text(c.object["default_entity_id"])).second)
                    << c.topic;
                EXPECT_TRUE(names.insert(text(c.object["name"])).second) << c.topic;
            }
            EXPECT_GT(entity_ids.size(), values.size());
        }
    }
}

// What a dashboard relies on beyond the schema: the ids the README promised,
// the classes of the status bits, what is primary and what diagnostic, the
// choice as a select and the output as a switch, and the monitor's own
// device and availability.
TEST(MonitorDiscovery, EntitiesOfAUnit) {
    const Topics topics{"zorvane", "host-1", "homeassistant"};
    const DeviceIdentity qm{"qm48_00042", "QM-48", "00042", Family::Qm};
    const std::vector<PublishedValue> values = published_values(Family::Qm);
    const std::vector<RetainedMessage> messages =
        discovery_messages(qm, values, topics, {"EGenUbat", "UbatLow", "gen"});
    std::map<std::string, QJsonObject> by_topic;
    Names cleared;
    for (const RetainedMessage& m : messages) {
        if (m.payload.empty()) {
            cleared.insert(m.topic);
        } else {
            by_topic[m.topic] =
                QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
        }
    }
    const auto config = [&](const std::string& component, const std::string& name) {
        const std::string topic = "homeassistant/" + component + "/qm48_00042/" + name + "/config";
        EXPECT_TRUE(by_topic.contains(topic)) << topic;
        return by_topic[topic];
    };
    const QJsonObject low = config("number", "UbatLow");
    EXPECT_EQ(text(low["default_entity_id"]), "number.qm48_00042_ubatlow");
    EXPECT_EQ(text(low["name"]), "Battery low voltage");
    EXPECT_EQ(text(low["entity_category"]), "config");
    const QJsonArray availability = low["availability"].toArray();
    ASSERT_EQ(availability.size(), 2);
    EXPECT_EQ(text(availability[0]["topic"]), "zorvane/bridge/host-1/availability");
    EXPECT_EQ(text(availability[1]["topic"]), "zorvane/qm48_00042/link");
    EXPECT_EQ(text(low["device"]["via_device"]), "zorvane_bridge_host-1");

    const QJsonObject start = config("select", "EGenUbat");
    EXPECT_EQ(start["options"].toArray().size(), 2);
    EXPECT_EQ(text(start["command_topic"]), "zorvane/qm48_00042/set/EGenUbat");
    EXPECT_TRUE(cleared.contains("homeassistant/number/qm48_00042/EGenUbat/config"));
    EXPECT_TRUE(cleared.contains("homeassistant/sensor/qm48_00042/EGenUbat/config"));
    EXPECT_EQ(text(config("switch", "gen")["command_topic"]), "zorvane/qm48_00042/set/gen");

    EXPECT_EQ(text(config("binary_sensor", "battery_low")["device_class"]), "battery");
    EXPECT_EQ(text(config("binary_sensor", "overheat")["device_class"]), "heat");
    EXPECT_EQ(text(config("binary_sensor", "overload")["device_class"]), "problem");
    EXPECT_EQ(text(config("binary_sensor", "source_present")["device_class"]), "power");
    EXPECT_EQ(text(config("sensor", "temperatures_2")["name"]),
              "Right inner heat sink temperature");
    EXPECT_FALSE(config("sensor", "temperatures_2").contains("entity_category"));
    EXPECT_EQ(config("sensor", "temperatures_2")["suggested_display_precision"].toInt(), 1);
    const QJsonObject raw = config("sensor", "temp_raw_2");
    EXPECT_EQ(text(raw["entity_category"]), "diagnostic");
    EXPECT_FALSE(raw["enabled_by_default"].toBool(true));
    EXPECT_EQ(text(config("sensor", "switch_ons")["entity_category"]), "diagnostic");
    EXPECT_EQ(text(config("sensor", "Pmax")["entity_category"]), "diagnostic");

    const QJsonObject link = config("binary_sensor", "link");
    EXPECT_EQ(text(link["state_topic"]), "zorvane/qm48_00042/link");
    EXPECT_EQ(link["availability"].toArray().size(), 1);  // shown while the unit is away

    const std::vector<RetainedMessage> bridge = bridge_messages(topics);
    ASSERT_EQ(bridge.size(), 1u);
    EXPECT_EQ(bridge[0].topic,
              "homeassistant/binary_sensor/zorvane_bridge_host-1/connection/config");
    const QJsonObject connection =
        QJsonDocument::fromJson(QByteArray::fromStdString(bridge[0].payload)).object();
    EXPECT_EQ(text(connection["state_topic"]), "zorvane/bridge/host-1/availability");
    EXPECT_EQ(text(connection["device"]["identifiers"][0]), "zorvane_bridge_host-1");
}

TEST(MonitorDiscovery, InstanceNames) {
    EXPECT_EQ(instance_id("Pump-House_2"), "pump-house_2");
    EXPECT_EQ(instance_id("host.lan"), "host_lan");
    EXPECT_EQ(instance_id("a/b+#"), "a_b__");
    EXPECT_EQ(instance_id(""), "");
    EXPECT_EQ(instance_id("///"), "");
    EXPECT_FALSE(default_instance().empty());
}

}  // namespace
}  // namespace zorvane::monitor
