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

std::string json_list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const std::string& item : items) {
        out += (out.size() > 1 ? "," : "") + json_string(item);
    }
    return out + "]";
}

// An entity id's object part as Home Assistant writes it.
std::string slug(std::string text) {
    for (char& c : text) {
        c = c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The unit as Home Assistant lists it, reached through the monitor that
// publishes it. Nothing tells the unit's firmware, so none is claimed.
std::string device_block(const DeviceIdentity& device, const Topics& topics) {
    Object block;
    block.raw("identifiers", json_list({device.id}))
        .text("name", device.serial.empty() ? device.model : device.model + " " + device.serial)
        .text("model", device.model)
        .text("manufacturer", "Zorvane");
    if (!device.serial.empty()) {
        block.text("serial_number", device.serial);
    }
    block.text("via_device", topics.bridge_id());
    return block.done();
}

std::string availability_of(const Topics& topics) {
    return Object{}.text("topic", topics.availability()).done();
}

// What every entity shares: its name and ids, its state, its device and
// where it comes from. The entity id is the one earlier versions promised
// through object_id: COMPONENT.ID_NAME as a slug.
Object entity(const char* component, const std::string& id, const std::string& name,
              const std::string& unique_suffix, const std::string& state_topic,
              const std::string& device) {
    Object object;
    object.text("name", name)
        .text("unique_id", id + "_" + unique_suffix)
        .text("default_entity_id", std::string(component) + "." + slug(id + "_" + unique_suffix))
        .text("state_topic", state_topic)
        .raw("device", device)
        .raw("origin", Object{}.text("name", "Zorvane").text("sw", kToolVersion).done());
    return object;
}

// A unit's entity: available while its monitor runs and the unit answers.
Object unit_entity(const char* component, const DeviceIdentity& device, const Topics& topics,
                   const std::string& name, const std::string& unique_suffix) {
    Object object = entity(component, device.id, name, unique_suffix, topics.state(device),
                           device_block(device, topics));
    object
        .raw("availability", "[" + availability_of(topics) + "," +
                                 Object{}
                                     .text("topic", topics.link(device))
                                     .text("payload_available", "up")
                                     .text("payload_not_available", "down")
                                     .done() +
                                 "]")
        .text("availability_mode", "all");
    return object;
}

std::string config_topic(const Topics& topics, const char* component, const std::string& node,
                         const std::string& name) {
    return topics.discovery + "/" + component + "/" + node + "/" + name + "/config";
}

std::string value_template(const std::string& path) {
    return "{{ value_json." + path + " }}";
}

const char* binary_device_class(StatusBit::Meaning meaning) {
    switch (meaning) {
        case StatusBit::Meaning::Heat:
            return "heat";
        case StatusBit::Meaning::Problem:
            return "problem";
        case StatusBit::Meaning::BatteryLow:
            return "battery";
        case StatusBit::Meaning::Power:
            return "power";
        case StatusBit::Meaning::State:
            break;
    }
    return nullptr;
}

// The unit and class of a number or sensor; a sensor's shown decimals (a
// number's follow from its step).
void describe_measure(Object& object, const PublishedValue& value, bool sensor) {
    if (!value.unit.empty()) {
        object.text("unit_of_measurement", value.unit);
    }
    if (const char* cls = device_class(value)) {
        object.text("device_class", cls);
    }
    if (sensor) {
        object.raw("suggested_display_precision", std::to_string(value.decimals));
    }
}

// A choice: the entries by name, the state's wire value shown as its entry,
// the chosen entry sent as its wire value.
void describe_select(Object& object, const PublishedValue& value) {
    const std::string options = json_list(value.options);
    object.raw("options", options)
        .text("value_template", "{{ " + options + "[value_json." + value.json_path + " | int] }}")
        .text("command_template", "{{ " + options + ".index(value) }}");
}

}  // namespace

std::string instance_id(std::string_view name) {
    const std::string id = topic_safe(name);
    return id.find_first_not_of('_') == std::string::npos ? std::string() : id;
}

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
    const auto put = [&](const char* component, const std::string& name, std::string payload) {
        out.push_back({config_topic(topics, component, device.id, name), std::move(payload)});
    };
    for (const PublishedValue& value : values) {
        if (value.kind == ValueKind::StatusBit) {
            Object object = unit_entity("binary_sensor", device, topics, value.label, value.name);
            object.text("value_template", value_template(value.json_path))
                .text("payload_on", "1")
                .text("payload_off", "0");
            if (const char* cls = binary_device_class(value.meaning)) {
                object.text("device_class", cls);
            }
            put("binary_sensor", value.name, object.done());
            continue;
        }
        const bool setting = value.kind == ValueKind::Setting;
        const bool writable = setting && allowed.contains(value.name);
        const char* component = !writable ? "sensor" : value.options.empty() ? "number" : "select";
        Object object = unit_entity(component, device, topics, value.label, value.name);
        if (writable && !value.options.empty()) {
            describe_select(object, value);
        } else {
            object.text("value_template", value_template(value.json_path));
            describe_measure(object, value, !writable);
        }
        if (writable) {
            object.text("command_topic", topics.command(device, value.name))
                .text("entity_category", "config");
        }
        if (writable && value.options.empty()) {
            // What a unit of the model's voltage class may be set to.
            const std::optional<DeviceModel> model = find_model(device.model);
            const NumberRange range =
                value.setting != nullptr && model
                    ? number_range(*value.setting->variable, model_profile(*model).battery_volts)
                    : NumberRange{value.min, value.max, value.step};
            object.raw("min", number_text(range.min))
                .raw("max", number_text(range.max))
                .raw("step", number_text(value.step))
                .text("mode", "box");
        }
        if (value.kind == ValueKind::Counter) {
            object.text("state_class", "total_increasing").text("entity_category", "diagnostic");
        } else if (value.kind == ValueKind::Reading) {
            object.text("state_class", "measurement");
            if (value.raw) {
                object.text("entity_category", "diagnostic").raw("enabled_by_default", "false");
            }
        } else if (!writable) {
            // A setting that may not be changed from here is shown for reference.
            object.text("entity_category", "diagnostic");
        }
        put(component, value.name, object.done());
        if (setting) {
            for (const char* other : {"sensor", "number", "select"}) {
                if (std::string_view(other) != component) {
                    put(other, value.name, {});
                }
            }
        }
    }

    // Whether the unit answers, shown while the monitor runs.
    Object link = entity("binary_sensor", device.id, "Link", "link", topics.link(device),
                         device_block(device, topics));
    link.raw("availability", "[" + availability_of(topics) + "]")
        .text("payload_on", "up")
        .text("payload_off", "down")
        .text("device_class", "connectivity")
        .text("entity_category", "diagnostic");
    put("binary_sensor", "link", link.done());

    if (allowed.contains(kGenerationName)) {
        Object object = unit_entity("switch", device, topics, "Output", kGenerationName);
        object.text("value_template", value_template(generation_path(device.family)))
            .text("state_on", "1")
            .text("state_off", "0")
            .text("command_topic", topics.command(device, kGenerationName))
            .text("payload_on", "on")
            .text("payload_off", "off")
            .text("device_class", "outlet");
        put("switch", kGenerationName, object.done());
    } else {
        put("switch", kGenerationName, {});
    }
    return out;
}

std::vector<RetainedMessage> bridge_messages(const Topics& topics) {
    const std::string block = Object{}
                                  .raw("identifiers", json_list({topics.bridge_id()}))
                                  .text("name", "Zorvane monitor " + topics.instance)
                                  .text("model", "zorvane-cli monitor")
                                  .text("manufacturer", "Zorvane")
                                  .text("sw_version", kToolVersion)
                                  .done();
    // No availability of its own: when the monitor is gone it shows off.
    Object object = entity("binary_sensor", topics.bridge_id(), "Broker connection", "connection",
                           topics.availability(), block);
    object.text("payload_on", "online")
        .text("payload_off", "offline")
        .text("device_class", "connectivity")
        .text("entity_category", "diagnostic");
    return {
        {config_topic(topics, "binary_sensor", topics.bridge_id(), "connection"), object.done()}};
}

}  // namespace zorvane::monitor
