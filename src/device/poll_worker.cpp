#include "device/poll_worker.h"

#include <chrono>

#include "device/handover.h"
#include "device/poll_cycle.h"

namespace zorvane {

namespace {
int64_t wall_clock_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
}  // namespace

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

void PollWorker::follow(FoundDevice unit) {
    {
        std::lock_guard lock(m_unit_mutex);
        m_unit = std::move(unit);
        m_unit_known = true;
    }
    // Not lost yet: whatever outage the previous unit had is not this one's.
    m_state.g_link_lost_ms.store(0);
    {
        std::lock_guard lock(m_sleep_mutex);
        m_unit_changed.store(true);
    }
    m_sleep.notify_all();
}

void PollWorker::poll_worker(std::stop_token stop) {
    while (!stop.stop_requested()) {
        if (m_state.g_poll_pause.load() != 0) {
            sleep_while_paused(m_state, stop);
            continue;
        }
        if (m_unit_changed.exchange(false)) {
            m_lost = false;
            m_others_told.clear();
        }
        // Between two probes of a lost unit the worker holds no port: the
        // window may park it (closing, another tab) at once.
        if (m_lost && std::chrono::steady_clock::now() < m_next_try) {
            rest_until(m_next_try, stop);
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
        if (m_lost) {
            look_for_unit(stop);
            m_state.g_worker_idle.store(1);
            continue;
        }
        const PortOpen open = m_port.open(m_state.g_com_port.load());
        bool failed = !open.ok();
        bool lost = failed;
        if (open.ok()) {
            const bool complete = poll_cycle_of_kind(m_port, m_state, stop);
            if (m_pass_listener && complete) {
                m_pass_listener(m_state);
            }
            lost = m_port.link_failed() && !stop.stop_requested();
            // A device that does not answer is asked again after a short
            // rest: each round is then a single request.
            failed = lost || m_state.g_device_answering.load() == 0;
            m_port.close();
        }
        // With no unit to wait for there is nothing to identify: the port is
        // simply tried again after the short rest.
        bool known = false;
        {
            std::lock_guard lock(m_unit_mutex);
            known = m_unit_known;
        }
        if (lost && known) {
            lose_link(open);
        }
        m_state.g_worker_idle.store(1);
        if (failed && !m_lost) {
            pause_before_reopen(stop);
        }
    }
}

void PollWorker::lose_link(const PortOpen& open) {
    m_port.close();
    // What is stored belongs to the last good pass: no reading of the device
    // from here on, and nothing is compared with it or written.
    m_state.g_values_read.store(0);
    m_state.g_device_answering.store(0);
    m_state.g_link_lost_ms.store(wall_clock_ms());
    m_lost = true;
    m_others_told.clear();
    m_next_try = std::chrono::steady_clock::now() + m_reopen_interval;
    FoundDevice unit;
    {
        std::lock_guard lock(m_unit_mutex);
        unit = m_unit;
    }
    tell(SessionEvent::Kind::LinkLost, unit, open);
}

bool PollWorker::look_for_unit(const std::stop_token& stop) {
    m_next_try = std::chrono::steady_clock::now() + m_reopen_interval;
    FoundDevice unit;
    {
        std::lock_guard lock(m_unit_mutex);
        unit = m_unit;
    }
    unit.port = m_state.g_com_port.load();
    const auto other = [this](const FoundDevice& found, const PortOpen& open) {
        tell(SessionEvent::Kind::OtherDevice, found, open);
    };
    if (!unit_answers_again(m_port, unit, m_others_told, other, stop)) {
        return false;
    }
    m_lost = false;
    // It has just answered the probe: the full pass follows at once.
    m_state.g_device_answering.store(1);
    m_state.g_link_lost_ms.store(0);
    tell(SessionEvent::Kind::Resumed, unit);
    return true;
}

void PollWorker::tell(SessionEvent::Kind kind, const FoundDevice& device, const PortOpen& open) {
    if (m_event_listener) {
        m_event_listener(SessionEvent{kind, device, open});
    }
}

// A port that will not open is tried again after a short rest rather than at
// once, so a tool without its device uses no processor to speak of. A stop
// request ends the rest at once.
void PollWorker::pause_before_reopen(const std::stop_token& stop) {
    rest_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(kReopenDelayMs), stop);
}

// A stop request, or a new unit to follow, ends the rest at once.
void PollWorker::rest_until(std::chrono::steady_clock::time_point until,
                            const std::stop_token& stop) {
    std::unique_lock lock(m_sleep_mutex);
    m_sleep.wait_until(lock, stop, until, [this] { return m_unit_changed.load(); });
}

}  // namespace zorvane
