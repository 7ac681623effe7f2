// A polling session over one device for the long-running commands: pass
// after pass, surviving a link failure.
//
// On a link failure the session closes the port, marks the values as not
// current (g_values_read cleared: nothing stale is ever reported as fresh)
// and tries the same port again every second. When something answers there
// it is identified: the same model and serial number resume polling; another
// device is reported and not polled. With follow_serial, a unit with a serial
// number that comes back on another port (USB adapters renumber) is found
// there. Subscribers hear of completed passes and of outages, one event per
// change, never one per transaction. (The process's link-failure handler
// still hears every failed transaction: a program that runs sessions leaves
// it unset and listens to the session instead.)
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

#include "link/discovery.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane {

struct SessionEvent {
    enum class Kind {
        LinkLost,     // the link failed; values are not current until Resumed
        Resumed,      // the same unit answers again (on `device.path`)
        OtherDevice,  // something else answers on the port: not polled
        Moved,        // the unit answered on another port (follow_serial); Resumed follows
    };
    Kind kind;
    FoundDevice device;  // the session's unit; for OtherDevice, what answered
    PortOpen open;       // LinkLost: empty; otherwise what the last open said
};

// How often the port of a lost unit is tried again.
inline constexpr std::chrono::milliseconds kReopenInterval{1000};

// One look at the port of a lost unit: true when the same unit (model and
// serial number) answers there again. Another unit that answers is handed to
// `other` the first time its caption is seen this outage (`told` keeps the
// captions already handed on, so a unit left plugged in is not reported at
// every try).
using OtherUnitHandler = std::function<void(const FoundDevice& other, const PortOpen& open)>;
bool unit_answers_again(SerialPort& port, const FoundDevice& unit, std::vector<std::string>& told,
                        const OtherUnitHandler& other, const std::stop_token& stop);

struct SessionOptions {
    bool follow_serial = false;
    std::chrono::milliseconds reopen_interval = kReopenInterval;
    BackendFactory backend = make_serial_backend;  // for the ports searched when following
};

class DeviceSession {
  public:
    // `device` is what the search (or a probe of the port the user named)
    // identified; `port` is the session's own port object, closed.
    DeviceSession(SerialPort& port, DeviceState& state, FoundDevice device,
                  SessionOptions options = {});
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    using PassHandler = std::function<void(const DeviceState&)>;
    using EventHandler = std::function<void(const SessionEvent&)>;
    // Called on the thread that runs the session, in subscription order.
    void on_pass(PassHandler handler);
    void on_event(EventHandler handler);

    enum class Step {
        Pass,     // a complete pass; the pass handlers have run
        Outage,   // the link is down (lost now, or still); nothing was polled
        Stopped,  // a stop was requested
    };
    // One pass while the link is up; during an outage, one attempt to get the
    // unit back, at most one a reopen interval: `wait` waits for the next
    // one to be due, otherwise a step before then returns Outage at once (a
    // caller that takes several sessions in turn is not held up by one).
    Step step(std::stop_token stop = {}, bool wait = true);
    // Steps until `passes` complete passes (0: until stopped). Returns the
    // number of complete passes.
    int run(int passes, std::stop_token stop = {});

    bool link_up() const { return m_link_up; }
    const FoundDevice& device() const { return m_device; }

  private:
    void announce(SessionEvent::Kind kind, const FoundDevice& device, const PortOpen& open = {});
    void lose_link(const PortOpen& open);
    bool wait_for_retry(const std::stop_token& stop);
    bool try_reconnect(const std::stop_token& stop);

    SerialPort& m_port;
    DeviceState& m_state;
    FoundDevice m_device;
    SessionOptions m_options;
    std::vector<PassHandler> m_pass_handlers;
    std::vector<EventHandler> m_event_handlers;
    bool m_link_up = true;
    std::chrono::steady_clock::time_point m_next_try{};
    std::vector<std::string> m_others_told;  // captions already reported this outage
    std::mutex m_sleep_mutex;
    std::condition_variable_any m_sleep;
};

}  // namespace zorvane
