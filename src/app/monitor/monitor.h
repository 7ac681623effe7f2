// zorvane-cli monitor: polls devices in turn and publishes each pass to an
// MQTT broker, with Home Assistant discovery and, for allowed names only,
// setting writes from the broker.
#pragma once

#include <optional>
#include <set>
#include <stop_token>
#include <string>

#include "app/monitor/mqtt_client.h"
#include "app/monitor/nut_server.h"

namespace zorvane::monitor {

struct MonitorOptions {
    BrokerOptions broker;           // no broker when its host is empty
    std::optional<NutOptions> nut;  // the NUT server, when asked for
    std::string prefix = "zorvane";
    std::string instance;                     // empty: the host's name
    std::string discovery = "homeassistant";  // Home Assistant's discovery prefix
    std::set<std::string> allowed;            // setting names, and "gen" for the output switch
    int interval_ms = 5000;                   // from the start of one pass of a device to its next
    int count = 0;                            // passes per device; 0 runs until stopped
};

// Runs until a stop is requested (or every device has had `count` passes),
// then publishes every device's link down and the instance offline, and
// disconnects. Returns the exit status.
// The instance name by default: the host's, made topic-safe ("default"
// when it has none).
std::string default_instance();

int run_monitor(const MonitorOptions& options, std::stop_token stop);

}  // namespace zorvane::monitor
