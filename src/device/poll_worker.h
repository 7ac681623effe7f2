// The background thread that polls the device pass after pass.
//
// Between passes it honours the hand-over of handover.h: it starts no pass
// while g_poll_pause is raised and reports g_worker_idle whenever it holds no
// port. A stop request ends it promptly: a running pass is cut short between
// two transactions, the port is closed and the thread is joined.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

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

  private:
    void poll_worker(std::stop_token stop);
    void pause_before_reopen(const std::stop_token& stop);

    SerialPort& m_port;
    DeviceState& m_state;
    std::mutex m_sleep_mutex;
    std::condition_variable_any m_sleep;
    std::jthread m_thread;
};

}  // namespace zorvane
