#include "app/monitor/device_topics.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "state/version.h"

namespace zorvane::monitor {

namespace {

// Topic levels and Home Assistant ids take letters, digits, '_' and '-';
// a serial number is whatever bytes the device sent.
std::string topic_safe(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x80 && (std::isalnum(byte) || c == '-' || c == '_')
                   ? static_cast<char>(std::tolower(byte))
                   : '_';
    }
    return out;
}

std::string number_text(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    (void)error;
    return std::string(text, end);
}

const char* device_class(const PublishedValue& value) {
    if (!value.has_measure) {
        return nullptr;
    }
    switch (value.measure) {
        case Measure::Voltage:
            return "voltage";
        case Measure::Current:
            return "current";
        case Measure::ApparentPower:
            return "apparent_power";
        case Measure::Temperature:
            return "temperature";
        case Measure::Duration:
            return "duration";
        case Measure::Count:
            break;
    }
    return nullptr;
}

// A JSON object written key by key.
class Object {
  public:
    Object& raw(std::string_view key, std::string_view json) {
        m_text += m_text.size() > 1 ? "," : "";
        m_text += json_string(key);
        m_text += ':';
        m_text += json;
        return *this;
    }
    Object& text(std::string_view key, std::string_view value) {
        return raw(key, json_string(value));
    }
    std::string done() const { return m_text + "}"; }

  private:
    std::string m_text = "{";
};

std::string device_block(const DeviceIdentity& device) {
    Object block;
    block.raw("identifiers", "[" + json_string(device.id) + "]")
        .text("name", device.serial.empty() ? device.model : device.model + " " + device.serial)
        .text("model", device.model)
        .text("manufacturer", "Zorvane")
        .text("sw_version", std::string("Zorvane ") + kToolVersion);
    if (!device.serial.empty()) {
        block.text("serial_number", device.serial);
    }
    return block.done();
}

// What every entity of the device shares: its state, both availabilities
// (the monitor is running and the device link is up), the device block.
Object entity(const DeviceIdentity& device, const Topics& topics, const std::string& name,
              const std::string& unique_suffix) {
    Object object;
    object.text("name", name)
        .text("unique_id", device.id + "_" + unique_suffix)
        .text("object_id", device.id + "_" + unique_suffix)
        .text("state_topic", topics.state(device))
        .raw("availability", "[" + Object{}.text("topic", topics.availability()).done() + "," +
                                 Object{}
                                     .text("topic", topics.link(device))
                                     .text("payload_available", "up")
                                     .text("payload_not_available", "down")
                                     .done() +
                                 "]")
        .text("availability_mode", "all")
        .raw("device", device_block(device))
        .raw("origin", Object{}.text("name", "Zorvane").text("sw", kToolVersion).done());
    return object;
}

std::string config_topic(const char* component, const DeviceIdentity& device,
                         const std::string& name) {
    return std::string(kDiscoveryPrefix) + "/" + component + "/" + device.id + "/" + name +
           "/config";
}

std::string value_template(const std::string& path) {
    return "{{ value_json." + path + " }}";
}

}  // namespace

DeviceIdentity device_identity(const FoundDevice& found) {
    DeviceIdentity identity;
    identity.family = found.family();
    identity.model = model_profile(found.model).name;
    if (found.has_serial()) {
        identity.serial = found.serial;
    }
    std::string model_id;
    for (const char c : identity.model) {
        if (c != '-') {
            model_id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    identity.id = model_id + "_" +
                  (identity.serial.empty() ? "com" + std::to_string(found.port)
                                           : topic_safe(identity.serial));
    return identity;
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::vector<RetainedMessage> discovery_messages(const DeviceIdentity& device,
                                                const std::vector<PublishedValue>& values,
                                                const Topics& topics,
                                                const std::set<std::string>& allowed) {
    std::vector<RetainedMessage> out;
    for (const PublishedValue& value : values) {
        Object object = entity(device, topics, value.label, value.name);
        object.text("value_template", value_template(value.json_path));
        if (value.kind == ValueKind::StatusBit) {
            object.text("payload_on", "1").text("payload_off", "0");
            out.push_back({config_topic("binary_sensor", device, value.name), object.done()});
            continue;
        }
        if (!value.unit.empty()) {
            object.text("unit_of_measurement", value.unit);
        }
        if (const char* cls = device_class(value)) {
            object.text("device_class", cls);
        }
        const bool writable = value.kind == ValueKind::Setting && allowed.contains(value.name);
        if (writable) {
            // What a unit of the model's voltage class may be set to, where
            // the setting has such a span; the payload's range otherwise.
            const std::optional<DeviceModel> model = find_model(device.model);
            const Plausible span =
                value.setting != nullptr && model
                    ? value.setting->variable->plausible(model_profile(*model).battery_volts)
                    : Plausible{};
            object.text("command_topic", topics.command(device, value.name))
                .raw("min", number_text(span.set() ? span.low : value.min))
                .raw("max", number_text(span.set() ? span.high : value.max))
                .raw("step", number_text(value.step))
                .text("mode", "box")
                .text("entity_category", "config");
            out.push_back({config_topic("number", device, value.name), object.done()});
            out.push_back({config_topic("sensor", device, value.name), {}});
            continue;
        }
        if (value.kind == ValueKind::Counter) {
            object.text("state_class", "total_increasing");
        } else if (value.kind == ValueKind::Reading) {
            object.text("state_class", "measurement");
        } else {
            object.text("entity_category", "diagnostic");
        }
        out.push_back({config_topic("sensor", device, value.name), object.done()});
        if (value.kind == ValueKind::Setting) {
            out.push_back({config_topic("number", device, value.name), {}});
        }
    }
    const std::string gen_topic = config_topic("switch", device, kGenerationName);
    if (allowed.contains(kGenerationName)) {
        Object object = entity(device, topics, "output generation", kGenerationName);
        object.text("value_template", value_template(generation_path(device.family)))
            .text("state_on", "1")
            .text("state_off", "0")
            .text("command_topic", topics.command(device, kGenerationName))
            .text("payload_on", "on")
            .text("payload_off", "off");
        out.push_back({gen_topic, object.done()});
    } else {
        out.push_back({gen_topic, {}});
    }
    return out;
}

}  // namespace zorvane::monitor
