// zorvane-cli monitor: polls every device on a session and a thread of its
// own, publishes each pass to an MQTT broker, with Home Assistant discovery
// and, for allowed names only, setting writes from the broker. Units that
// appear later (an adapter plugged after the start) are found by a search
// every few seconds of the ports no session owns.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "app/monitor/device_topics.h"
#include "app/monitor/mqtt_client.h"
#include "app/monitor/nut_server.h"
#include "state/device_state.h"

namespace zorvane::monitor {

// What an output on another thread (a network server) may know of a unit:
// as its own thread left it at the end of its last step.
struct UnitView {
    DeviceIdentity identity;
    // The unit's own record; it lives as long as the monitor runs. Each field
    // is an atomic of its own: read whole, never torn.
    const DeviceState* state = nullptr;
    bool link_up = false;
    // The last pass had an accepted reply: the values in `state` are fresh.
    // False while the unit does not answer (they are then not to be served).
    bool values_current = false;
    int passes = 0;                                   // passes tried, outages included
    std::chrono::steady_clock::time_point pass_at{};  // end of the last complete pass
};

// The units of a running monitor, readable from any thread. A task handed
// to `post` runs on the unit's own thread, between two of its passes, so
// that a write never races a pass.
class UnitBoard {
  public:
    using Task = std::function<void()>;
    using Poster = std::function<bool(Task)>;
    // A result as the broker is sent it on ID/result: {"name":…,"value":…,
    // "result":"confirmed|not_held|unchanged|refused|failed",…}.
    using Reply = std::function<void(const std::string& result_json)>;
    using Commander = std::function<bool(const std::string&, const std::string&, Reply)>;

    std::vector<UnitView> units() const;
    std::optional<UnitView> unit(const std::string& id) const;
    // False when there is no such unit, or it is no longer served; a task
    // still waiting when the monitor stops is dropped without running.
    bool post(const std::string& id, Task task) const;
    // A setting write (or "gen" on|off) exactly as a command from the broker:
    // on the unit's thread, only for names allowed with --allow-writes, read
    // back by the pass that follows. `reply` hears its result (on the unit's
    // thread) instead of the broker; false as for post.
    bool command(const std::string& id, const std::string& name, const std::string& text,
                 Reply reply) const;

    // Called by the monitor: a unit found, its step done, the run over (the
    // units' records are gone; nothing is served any more).
    void add(const UnitView& view, Poster poster, Commander commander);
    void update(const UnitView& view);
    void clear();

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, UnitView> m_units;
    std::map<std::string, Poster> m_posters;
    std::map<std::string, Commander> m_commanders;
};

struct MonitorOptions {
    BrokerOptions broker;           // no broker when its host is empty
    std::optional<NutOptions> nut;  // the NUT server, when asked for
    std::string prefix = "zorvane";
    std::string instance;                     // empty: the host's name
    std::string discovery = "homeassistant";  // Home Assistant's discovery prefix
    std::set<std::string> allowed;            // setting names, and "gen" for the output switch
    int interval_ms = 5000;                   // from the start of one pass of a device to its next
    int count = 0;                            // passes per device; 0 runs until stopped
    int search_every_ms = 5000;               // the search for units found later
    UnitBoard* board = nullptr;               // when set, kept up to date with every unit
};

// The instance name by default: the host's, made topic-safe ("default"
// when it has none).
std::string default_instance();

// Runs until a stop is requested (or every device has had `count` passes),
// then publishes every device's link down and the instance offline, and
// disconnects. Returns the exit status. A run without --count that finds no
// unit at its start keeps searching; a counted run exits 1.
int run_monitor(const MonitorOptions& options, std::stop_token stop);

}  // namespace zorvane::monitor
