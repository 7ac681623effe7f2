#include "device/handover.h"

#include <chrono>
#include <thread>

namespace zorvane {

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
    state.g_poll_pause.store(0);
}

PortLoan::PortLoan(SerialPort& port, DeviceState& state)
    : m_port(port), m_state(state), m_was_paused(state.g_poll_pause.load() != 0) {
    park_worker(m_state);
    m_opened = m_port.open(m_state.g_com_port.load());
}

PortLoan::~PortLoan() {
    m_port.close();
    if (!m_was_paused) {
        release_worker(m_state);
    }
}

}  // namespace zorvane
