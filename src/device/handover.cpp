#include "device/handover.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zorvane {

namespace {
// Rings when the pause is dropped. A parked worker sleeps on it rather than
// waking every millisecond to look at the flag: a millisecond's wake-up costs
// some 15 µs of processor on a virtual machine, 1.5 % of a core while parked.
std::mutex g_bell_mutex;
std::condition_variable_any g_bell;
}  // namespace

void wait_turn() {
    std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void park_worker(DeviceState& state) {
    state.g_poll_pause.store(1);
    while (state.g_worker_idle.load() == 0) {
        wait_turn();
    }
}

void release_worker(DeviceState& state) {
    {
        // Under the bell's lock, so the drop cannot fall between a parked
        // worker's look at the flag and its sleep.
        std::lock_guard lock(g_bell_mutex);
        state.g_poll_pause.store(0);
    }
    g_bell.notify_all();
}

bool sleep_while_paused(DeviceState& state, const std::stop_token& stop) {
    std::unique_lock lock(g_bell_mutex);
    return g_bell.wait_for(lock, stop, std::chrono::milliseconds(kParkedLookMs),
                           [&state] { return state.g_poll_pause.load() == 0; });
}

PortLoan::PortLoan(SerialPort& port, DeviceState& state)
    : m_port(port), m_state(state), m_was_paused(state.g_poll_pause.load() != 0) {
    park_worker(m_state);
    m_opened = m_port.open(m_state.g_com_port.load()).ok();
}

PortLoan::~PortLoan() {
    m_port.close();
    if (!m_was_paused) {
        release_worker(m_state);
    }
}

}  // namespace zorvane
