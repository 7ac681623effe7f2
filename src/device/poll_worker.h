// The background thread that polls the device pass after pass.
//
// Between passes it honours the hand-over of handover.h: it starts no pass
// while g_poll_pause is raised and reports g_worker_idle whenever it holds no
// port. A stop request ends it promptly: a running pass is cut short between
// two transactions, the port is closed and the thread is joined.
//
// A port that fails (it will not open, or a transaction meets a link failure:
// an adapter unplugged, a cable pulled) is waited out as a session does: the
// values are marked not current, the time of the loss is published in
// g_link_lost_ms, and the port is probed once a reopen interval. The unit the
// worker follows (model and serial number) resumes polling; another unit that
// answers there is reported and not polled until the owner follows it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "device/device_session.h"
#include "link/discovery.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane {

// How long the worker waits before it tries again a port that would not open
// (unplugged, held by another program, no device known) or whose pass ended
// on a link failure (an adapter whose cable is cut).
inline constexpr int kReopenDelayMs = 75;

class PollWorker {
  public:
    PollWorker(SerialPort& port, DeviceState& state);
    ~PollWorker();  // stops and joins

    // Marks the worker idle (it holds no port yet) and starts the thread.
    void start();
    // Asks the worker to end, even in the middle of a pass, and joins it.
    // The worker is left idle with the port closed. Does nothing when not
    // running.
    void stop();
    bool running() const { return m_thread.joinable(); }

    // Called on the worker's thread after every pass that ran all its steps
    // (neither a stop nor a link failure cut it short), while the worker still holds the port (so
    // the polled device cannot change under it). For those who follow the passes (charts,
    // recordings) without a transaction of their own. Set before start().
    using PassListener = std::function<void(const DeviceState&)>;
    void set_pass_listener(PassListener listener) { m_pass_listener = std::move(listener); }

    // Told on the worker's thread when the link is lost, when the unit is
    // back, and when another unit answers on its port (once per unit and
    // outage). Set before start().
    using EventListener = std::function<void(const SessionEvent&)>;
    void set_event_listener(EventListener listener) { m_event_listener = std::move(listener); }

    // The unit on g_com_port that the worker polls and waits for after a
    // loss. Called before start() or while the worker is parked; ends an
    // outage in progress (the new unit has not been lost yet).
    void follow(FoundDevice unit);
    // Between probes the worker's rest is this long (tests shorten it).
    void set_reopen_interval(std::chrono::milliseconds interval) { m_reopen_interval = interval; }

  private:
    void poll_worker(std::stop_token stop);
    void pause_before_reopen(const std::stop_token& stop);
    void rest_until(std::chrono::steady_clock::time_point until, const std::stop_token& stop);
    void lose_link(const PortOpen& open);
    // One probe of the lost unit's port; true when it is back.
    bool look_for_unit(const std::stop_token& stop);
    void tell(SessionEvent::Kind kind, const FoundDevice& device, const PortOpen& open = {});

    SerialPort& m_port;
    DeviceState& m_state;
    std::mutex m_sleep_mutex;
    std::condition_variable_any m_sleep;
    PassListener m_pass_listener;
    EventListener m_event_listener;
    std::chrono::milliseconds m_reopen_interval = kReopenInterval;
    // The followed unit; written by follow() while the worker is parked.
    std::mutex m_unit_mutex;
    FoundDevice m_unit;
    bool m_unit_known = false;
    // The outage, on the worker's thread only.
    bool m_lost = false;
    std::chrono::steady_clock::time_point m_next_try{};
    std::vector<std::string> m_others_told;
    std::atomic<bool> m_unit_changed{false};
    std::jthread m_thread;
};

}  // namespace zorvane
