// The background thread that polls the device pass after pass.
#pragma once

#include <atomic>
#include <thread>

#include "device/device_state.h"
#include "link/serial_port.h"

namespace zorvane {

class PollWorker {
  public:
    PollWorker(SerialPort& port, DeviceState& state);
    ~PollWorker();  // stops and joins

    void start();
    // Asks the worker to end, even in the middle of a pass, and joins it.
    void stop();

  private:
    void poll_worker();

    SerialPort& m_port;
    DeviceState& m_state;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Whether a stop has been requested of the worker running on this thread;
// the cycles test it between transactions so a stop is prompt.
bool poll_stop_requested();

}  // namespace zorvane
