#include "device/device_session.h"

#include <algorithm>

#include "device/poll_cycle.h"

namespace zorvane {

DeviceSession::DeviceSession(SerialPort& port, DeviceState& state, FoundDevice device,
                             SessionOptions options)
    : m_port(port), m_state(state), m_device(std::move(device)), m_options(std::move(options)) {
    store_polled_device(m_state, m_device);
}

DeviceSession::~DeviceSession() {
    m_port.close();
}

void DeviceSession::on_pass(PassHandler handler) {
    m_pass_handlers.push_back(std::move(handler));
}

void DeviceSession::on_event(EventHandler handler) {
    m_event_handlers.push_back(std::move(handler));
}

void DeviceSession::announce(SessionEvent::Kind kind, const FoundDevice& device,
                             const PortOpen& open) {
    const SessionEvent event{kind, device, open};
    for (const EventHandler& handler : m_event_handlers) {
        handler(event);
    }
}

DeviceSession::Step DeviceSession::step(std::stop_token stop, bool wait) {
    if (stop.stop_requested()) {
        return Step::Stopped;
    }
    if (!m_link_up) {
        if (!wait && std::chrono::steady_clock::now() < m_next_try) {
            return Step::Outage;
        }
        if (!wait_for_retry(stop)) {
            return Step::Stopped;
        }
        m_next_try = std::chrono::steady_clock::now() + m_options.reopen_interval;
        if (try_reconnect(stop)) {
            m_link_up = true;
            announce(SessionEvent::Kind::Resumed, m_device);
        }
        return stop.stop_requested() ? Step::Stopped : Step::Outage;
    }
    if (!m_port.is_open()) {
        const PortOpen open = m_port.open_path(m_device.path);
        if (!open) {
            lose_link(open);
            return Step::Outage;
        }
    }
    run_poll_cycle(m_port, m_state, poll_cycle_of(m_device.family()), stop);
    if (m_port.link_failed()) {
        lose_link({});
        return Step::Outage;
    }
    if (stop.stop_requested()) {
        return Step::Stopped;  // a pass cut short is no pass
    }
    // The pass itself marks the values read when the device answered it; a
    // pass without a single accepted reply read nothing.
    for (const PassHandler& handler : m_pass_handlers) {
        handler(m_state);
    }
    return Step::Pass;
}

int DeviceSession::run(int passes, std::stop_token stop) {
    int done = 0;
    while (passes == 0 || done < passes) {
        const Step step_result = step(stop);
        if (step_result == Step::Stopped) {
            break;
        }
        if (step_result == Step::Pass) {
            ++done;
        }
    }
    return done;
}

void DeviceSession::lose_link(const PortOpen& open) {
    m_port.close();
    // Whatever is stored now belongs to the last good pass: from here on it
    // is no reading of the device.
    m_state.g_values_read.store(0);
    m_link_up = false;
    m_others_told.clear();
    m_next_try = std::chrono::steady_clock::now() + m_options.reopen_interval;
    announce(SessionEvent::Kind::LinkLost, m_device, open);
}

bool DeviceSession::wait_for_retry(const std::stop_token& stop) {
    std::unique_lock lock(m_sleep_mutex);
    m_sleep.wait_until(lock, stop, m_next_try, [] { return false; });
    return !stop.stop_requested();
}

bool unit_answers_again(SerialPort& port, const FoundDevice& unit, std::vector<std::string>& told,
                        const OtherUnitHandler& other, const std::stop_token& stop) {
    PortInfo own;
    own.com = unit.port;
    own.path = unit.path.empty() ? resolve_port_path(unit.port) : unit.path;
    const ProbeResult here = probe(port, own, stop);
    if (!here.device) {
        return false;
    }
    if (here.device->same_unit(unit)) {
        return true;
    }
    const std::string& caption = here.device->caption;
    if (std::find(told.begin(), told.end(), caption) == told.end()) {
        told.push_back(caption);
        if (other) {
            other(*here.device, here.open);
        }
    }
    return false;
}

bool DeviceSession::try_reconnect(const std::stop_token& stop) {
    const auto other = [this](const FoundDevice& found, const PortOpen& open) {
        announce(SessionEvent::Kind::OtherDevice, found, open);
    };
    if (unit_answers_again(m_port, m_device, m_others_told, other, stop)) {
        return true;
    }
    // A unit without a serial number cannot be told from another of its
    // model: it is only ever taken back on its own port.
    if (!m_options.follow_serial || !m_device.has_serial() || stop.stop_requested()) {
        return false;
    }
    std::vector<PortInfo> others;
    for (PortInfo& port : list_ports()) {
        if (port.path != m_device.path) {
            others.push_back(std::move(port));
        }
    }
    DeviceState scratch;  // the search's choice of a polled device is not ours
    SearchOptions options;
    options.ports = std::move(others);
    options.backend = m_options.backend;
    options.stop = stop;
    for (const FoundDevice& found : search_devices(scratch, options).found) {
        if (found.same_unit(m_device)) {
            // A port outside the table is kept by a number of its own.
            m_device.port = found.port > 0 ? found.port : com_port_for_path(found.path);
            m_device.path = found.path;
            m_state.g_com_port.store(m_device.port);
            announce(SessionEvent::Kind::Moved, m_device);
            return true;
        }
    }
    return false;
}

}  // namespace zorvane
