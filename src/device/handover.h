// Handing the one serial port between the polling worker and the window.
//
// The window raises g_poll_pause and waits for g_worker_idle; the worker
// starts no pass while the pause is raised and reports itself idle whenever it
// holds no port. Both flags are sequentially consistent atomics: a store to
// one flag and the following load of the other are never reordered, in either
// thread, so the two can never both decide the port is theirs. The window's
// wait yields the processor on every turn; a parked worker sleeps until the
// pause is dropped.
#pragma once

#include <stop_token>

#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane {

// One turn of a flag wait: give the processor away for at most a millisecond,
// so that a waiting or parked tool does not burn a core.
void wait_turn();

// Borrow the port for one user action: raise the pause, wait until the worker
// is idle, open the port of g_com_port. The destructor closes the port and
// drops the pause, whatever happened in between — unless the pause was already
// raised when the loan began (the worker parked for the close or for a change
// of device): then it stays raised, so a late write cannot wake the worker.
class PortLoan {
  public:
    PortLoan(SerialPort& port, DeviceState& state);
    ~PortLoan();
    PortLoan(const PortLoan&) = delete;
    PortLoan& operator=(const PortLoan&) = delete;

    bool opened() const { return m_opened; }

  private:
    SerialPort& m_port;
    DeviceState& m_state;
    bool m_opened = false;
    bool m_was_paused = false;
};

// Raise the pause and wait until the worker is idle (the close sequence and
// the change of the polled device use this without opening the port).
void park_worker(DeviceState& state);
// Drop the pause and wake a parked worker at once.
void release_worker(DeviceState& state);

// The worker's side while parked: sleeps until release_worker drops the pause
// or a stop is requested, and looks at the flag again at least every
// kParkedLookMs whatever happens (a pause dropped by a plain store is seen
// then). True when the pause is down.
inline constexpr int kParkedLookMs = 50;
bool sleep_while_paused(DeviceState& state, const std::stop_token& stop);

}  // namespace zorvane
