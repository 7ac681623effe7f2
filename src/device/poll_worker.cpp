#include "device/poll_worker.h"

#include <chrono>

#include "device/handover.h"
#include "device/poll_cycle.h"

namespace zorvane {

PollWorker::PollWorker(SerialPort& port, DeviceState& state) : m_port(port), m_state(state) {}

PollWorker::~PollWorker() {
    stop();
}

void PollWorker::start() {
    if (m_thread.joinable()) {
        return;
    }
    // Idle before the thread exists: a pause raised right after start must
    // not wait for a worker that has not yet looked at the flags.
    m_state.g_worker_idle.store(1);
    m_thread = std::jthread([this](std::stop_token stop) { poll_worker(std::move(stop)); });
}

void PollWorker::stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_thread.request_stop();
    m_thread.join();
}

void PollWorker::poll_worker(std::stop_token stop) {
    while (!stop.stop_requested()) {
        if (m_state.g_poll_pause.load() != 0) {
            sleep_while_paused(m_state, stop);
            continue;
        }
        // Declare the port taken, then look at the pause once more: a pause
        // raised between the first look and this store would otherwise see the
        // worker idle while it goes on to open the port.
        m_state.g_worker_idle.store(0);
        if (m_state.g_poll_pause.load() != 0) {
            m_state.g_worker_idle.store(1);
            continue;
        }
        const bool opened = m_port.open(m_state.g_com_port.load()).ok();
        bool failed = !opened;
        if (opened) {
            poll_cycle_of_kind(m_port, m_state, stop);
            // A port that opens but fails its transactions (an adapter whose
            // cable is cut) rests like one that does not open.
            failed = m_port.link_failed();
            m_port.close();
        }
        m_state.g_worker_idle.store(1);
        if (failed) {
            pause_before_reopen(stop);
        }
    }
}

// A port that will not open is tried again after a short rest rather than at
// once, so a tool without its device uses no processor to speak of. A stop
// request ends the rest at once.
void PollWorker::pause_before_reopen(const std::stop_token& stop) {
    std::unique_lock lock(m_sleep_mutex);
    m_sleep.wait_for(lock, stop, std::chrono::milliseconds(kReopenDelayMs), [] { return false; });
}

}  // namespace zorvane
