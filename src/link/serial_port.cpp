#include "link/serial_port.h"

#include <algorithm>
#include <mutex>

#include "link/frame.h"
#include "link/wire_tap.h"
#include "state/device_state.h"

namespace zorvane {

namespace {

void tap_frame(const std::string& port, WireDirection direction, const uint8_t* data, size_t size) {
    if (const auto listener = wire_listener()) {
        listener->frame(port, direction, std::span<const uint8_t>(data, size));
    }
}

void tap_event(const std::string& port, std::string_view what) {
    if (const auto listener = wire_listener()) {
        listener->event(port, what);
    }
}

}  // namespace

SerialPort::SerialPort(std::unique_ptr<PortBackend> backend) : m_backend(std::move(backend)) {}

PortOpen SerialPort::open(int com_port) {
    const std::string path = resolve_port_path(com_port);
    if (path.empty()) {
        m_path.clear();
        return PortOpen::failed(PortAccess::Missing, 0,
                                "no device for COM" + std::to_string(com_port));
    }
    return open_path(path);
}

PortOpen SerialPort::open_path(const std::string& path) {
    m_path = path;
    m_link_failed = false;
    PortOpen result = m_backend->open(m_path);
    if (result) {
        m_backend->apply_line_settings();
        tap_event(m_path, "open");
    } else {
        tap_event(m_path, std::string("open-failed ") + access_name(result.access) +
                              (result.error_text.empty() ? "" : ": " + result.error_text));
    }
    return result;
}

void SerialPort::close() {
    if (m_backend->is_open()) {
        m_backend->close();
        tap_event(m_path, "close");
    }
}

bool SerialPort::is_open() const {
    return m_backend->is_open();
}

void SerialPort::apply_line_settings() {
    m_backend->apply_line_settings();
}

SerialPort& serial_port() {
    static SerialPort port;
    return port;
}

namespace {

std::mutex g_handler_mutex;
LinkFailureHandler g_handler;

int link_failure(SerialPort& port) {
    port.mark_link_failed();
    tap_event(port.path(), "failure");
    // The quit request goes nowhere until the window has finished the device
    // search: a probe that fails must not end the program.
    const bool quit = device_state.g_main_thread_id.load() != 0;
    LinkFailureHandler handler;
    {
        std::lock_guard lock(g_handler_mutex);
        handler = g_handler;
    }
    if (handler) {
        handler(quit);
    }
    return 0;
}

constexpr int kMaxReads = 10;

}  // namespace

void set_link_failure_handler(LinkFailureHandler handler) {
    std::lock_guard lock(g_handler_mutex);
    g_handler = std::move(handler);
}

namespace {

// Write, then reads into the buffer until `done(total)`, at most ten reads,
// each limited to the room left in the buffer (and to 100 bytes), so that a
// device that talks too much cannot write past the buffer.
template <typename Done>
int write_and_read(SerialPort& port, std::span<uint8_t> buffer, int write_length, Done done) {
    if (!port.is_open()) {
        return -1;
    }
    PortBackend& io = port.backend();
    tap_frame(port.path(), WireDirection::Tx, buffer.data(), static_cast<size_t>(write_length));
    if (!io.write(buffer.data(), static_cast<size_t>(write_length))) {
        return link_failure(port);
    }
    size_t total = 0;
    for (int reads = 0; reads < kMaxReads && !done(total); ++reads) {
        if (total >= buffer.size()) {
            break;
        }
        const size_t limit = std::min(buffer.size() - total, kFrameBufferSize);
        const int count = io.read(buffer.data() + total, limit);
        if (count < 0) {
            if (total > 0) {
                tap_frame(port.path(), WireDirection::Rx, buffer.data(), total);
            }
            return link_failure(port);
        }
        total += static_cast<size_t>(count);
    }
    tap_frame(port.path(), WireDirection::Rx, buffer.data(), total);
    return static_cast<int>(total);
}

}  // namespace

int transact(SerialPort& port, std::span<uint8_t> buffer, int write_length, int expected_length,
             const std::function<bool(size_t total)>& keep_reading) {
    if (expected_length == 0) {
        if (!port.is_open()) {
            return -1;
        }
        PortBackend& io = port.backend();
        tap_frame(port.path(), WireDirection::Tx, buffer.data(), static_cast<size_t>(write_length));
        if (!io.write(buffer.data(), static_cast<size_t>(write_length))) {
            return link_failure(port);
        }
        const int count = io.read(buffer.data(), std::min(buffer.size(), kFrameBufferSize));
        if (count < 0) {
            return link_failure(port);
        }
        tap_frame(port.path(), WireDirection::Rx, buffer.data(), static_cast<size_t>(count));
        return count;
    }
    // Ends only on an exact match: a reply longer than expected runs out the
    // ten reads, unless the caller gives up after one of them.
    const auto expected = static_cast<size_t>(expected_length);
    bool first_read = true;
    return write_and_read(port, buffer, write_length, [&](size_t total) {
        if (total == expected) {
            return true;
        }
        if (first_read) {
            first_read = false;
            return false;
        }
        return keep_reading && !keep_reading(total);
    });
}

int transact_until(SerialPort& port, std::span<uint8_t> buffer, int write_length,
                   ReplyComplete complete) {
    return write_and_read(port, buffer, write_length, [&](size_t total) {
        return total > 0 && complete(buffer.data(), static_cast<int>(total));
    });
}

}  // namespace zorvane
