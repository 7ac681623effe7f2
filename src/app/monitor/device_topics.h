// The names a monitored device is published under, and the retained
// discovery messages that describe its values to Home Assistant.
//
//   zorvane/bridge/HOST/availability  online | offline (retained; offline is the will)
//   zorvane/qm48_00042/state          one JSON object per pass
//   zorvane/qm48_00042/link           up | down (retained)
//   zorvane/qm48_00042/set/NAME       commands, for allowed names only
//   zorvane/qm48_00042/result         the outcome of each command
//   homeassistant/sensor/qm48_00042/UbatLow/config
//   homeassistant/binary_sensor/zorvane_bridge_HOST/connection/config
//
// Each monitor (an instance, by default its host's name) has an
// availability of its own, so that one stopping says nothing of the units
// another one publishes.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "app/monitor/published_values.h"
#include "link/discovery.h"

namespace zorvane::monitor {

struct DeviceIdentity {
    std::string id;      // "qm48_00042"; "kx24_com5" without a serial number
    std::string model;   // "QM-48"
    std::string serial;  // empty when the device has none
    Family family = Family::Kx;
};

DeviceIdentity device_identity(const FoundDevice& found);

// The name a command uses for the output switch.
inline constexpr const char* kGenerationName = "gen";

struct Topics {
    std::string prefix = "zorvane";
    std::string instance = "default";         // topic-safe: see instance_id()
    std::string discovery = "homeassistant";  // Home Assistant's discovery prefix
    std::string availability() const { return prefix + "/bridge/" + instance + "/availability"; }
    std::string discovery_status() const { return discovery + "/status"; }
    // The monitor's own device in Home Assistant.
    std::string bridge_id() const { return "zorvane_bridge_" + instance; }
    std::string state(const DeviceIdentity& d) const { return device(d) + "/state"; }
    std::string link(const DeviceIdentity& d) const { return device(d) + "/link"; }
    std::string result(const DeviceIdentity& d) const { return device(d) + "/result"; }
    std::string command(const DeviceIdentity& d, const std::string& name) const {
        return device(d) + "/set/" + name;
    }
    std::string device(const DeviceIdentity& d) const { return prefix + "/" + d.id; }
};

// An instance name as a topic level and id: letters, digits, '-' and '_'
// kept (lower case), anything else '_'; empty when nothing is left.
std::string instance_id(std::string_view name);

struct RetainedMessage {
    std::string topic;
    std::string payload;  // empty: removes what an earlier run left there
};

// One config per value, and the output switch; a setting whose entity kind
// changed with the allow-list (sensor, number or select) also gets its other
// topics cleared, so that no entity from an earlier run stays behind.
std::vector<RetainedMessage> discovery_messages(const DeviceIdentity& device,
                                                const std::vector<PublishedValue>& values,
                                                const Topics& topics,
                                                const std::set<std::string>& allowed);

// The monitor's own device: whether it is connected to the broker.
std::vector<RetainedMessage> bridge_messages(const Topics& topics);

// A string as a JSON string literal, quotes included.
std::string json_string(std::string_view text);

}  // namespace zorvane::monitor
