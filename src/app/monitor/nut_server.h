// The monitor's NUT server: each polled unit served as a NUT UPS to upsc,
// upsmon, NAS boxes and Home Assistant, on a TCP port of its own thread
// (one poll() loop for every connection). The monitor hands over each
// unit after each pass and carries out the writes clients ask for through
// its own write routine; this side never touches a device.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/monitor/device_topics.h"
#include "app/monitor/nut_protocol.h"
#include "state/device_state.h"

namespace zorvane::monitor {

inline constexpr int kNutDefaultPort = 3493;

struct NutOptions {
    std::string host = "127.0.0.1";
    int port = kNutDefaultPort;  // 0: any free port (tests)
    std::string single_name;     // served under this name instead of its id (one unit)
    bool serve_kx = false;       // KX units have no mains input: only when asked
    NutUsers users;
    std::set<std::string> allowed;  // as the monitor's --allow-writes
};

// "[ADDR][:PORT]", "[::1]:3493"; false when it is none.
bool parse_nut_address(const std::string& text, std::string& host, int& port);

// A upsd.users file, read only when nobody but its owner may read it.
bool read_nut_users(const std::string& path, NutUsers& users, std::string& error);

// The unit as NUT sees it: standard names only, the values of the state,
// its settings read-only unless allowed.
NutUnit nut_unit(const std::string& name, const DeviceIdentity& identity, const DeviceState& state,
                 bool current, const std::set<std::string>& allowed);

class NutServer {
  public:
    explicit NutServer(NutOptions options);
    ~NutServer();
    NutServer(const NutServer&) = delete;
    NutServer& operator=(const NutServer&) = delete;

    // Listens and starts the connection thread; false with a reason.
    bool start(std::string& error);
    int port() const { return m_port; }

    // Called by the monitor after each pass of a unit and when it stops
    // answering. Units the options do not serve are left out.
    void update(const DeviceIdentity& identity, const DeviceState& state, bool current);
    // Writes asked for since the last call, `ups` as the unit's id.
    std::vector<NutRequest> take_requests();
    // Called (from the connection thread) when a request is queued.
    void on_request(std::function<void()> wake) { m_wake = std::move(wake); }

  private:
    struct Client;
    void run();
    void serve(Client& client);
    std::string served_name(const DeviceIdentity& identity);

    NutOptions m_options;
    int m_listen = -1;
    int m_wake_pipe[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    std::function<void()> m_wake;

    std::mutex m_mutex;  // guards what follows
    NutContext m_context;
    std::map<std::string, std::string> m_ids;  // served name -> unit id
    std::vector<NutRequest> m_requests;
};

}  // namespace zorvane::monitor
