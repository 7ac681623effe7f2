#include "link/serial_port.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "link/frame.h"
#include "link/net_port.h"
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

// The same exchange over a network bridge, where a reply may come split over
// several packets with any pause between them: the reads go on until the
// reply of `rule` is whole or the network time-out has passed, each limited
// to what the reply still lacks, so that nothing of a later reply is taken.
// What is left over from an earlier request is dropped before the write.
int net_write_and_read(SerialPort& port, std::span<uint8_t> buffer, int write_length,
                       const NetReplyRule& rule,
                       const std::function<bool(size_t total)>& keep_reading) {
    using Clock = std::chrono::steady_clock;
    if (!port.is_open()) {
        return -1;
    }
    PortBackend& io = port.backend();
    io.discard_input();
    if (!io.write(buffer.data(), static_cast<size_t>(write_length))) {
        return link_failure(port);
    }
    const auto timeout = std::chrono::milliseconds(net_timeout_ms());
    // How long a reply that is whole in the short status form may wait for
    // the sixth byte of the long one; also all that a request nobody
    // answers (the wake-up line) waits.
    const auto settle = timeout / 10;
    const auto start = Clock::now();
    const auto end = start + (rule.reply_code == 0 ? settle : timeout);
    constexpr size_t kLongStatus = 6;
    // Since when the bytes have looked like a whole short status reply.
    Clock::time_point short_form_since = start;
    bool short_form = false;
    auto whole = [&](size_t total) {
        if (rule.length > 0) {
            return total >= static_cast<size_t>(rule.length);
        }
        if (!rule.status_forms) {
            return false;
        }
        if (total >= kLongStatus) {
            return true;
        }
        if (total + 1 == kLongStatus && buffer[total - 1] == kFrameEnd) {
            if (!short_form) {
                short_form = true;
                short_form_since = Clock::now();
            }
            return Clock::now() - short_form_since >= settle;
        }
        short_form = false;
        return false;
    };
    size_t total = 0;
    while (!whole(total) && Clock::now() < end && total < buffer.size()) {
        size_t limit = std::min(buffer.size() - total, kFrameBufferSize);
        if (rule.length > 0) {
            limit = std::min(limit, static_cast<size_t>(rule.length) - total);
        } else if (rule.status_forms) {
            limit = std::min(limit, kLongStatus - total);
        }
        const int count = io.read(buffer.data() + total, limit);
        if (count < 0) {
            return link_failure(port);
        }
        total = align_net_reply(rule, buffer.data(), total + static_cast<size_t>(count));
        if (keep_reading && !keep_reading(total)) {
            break;
        }
    }
    return static_cast<int>(total);
}

bool over_network(const SerialPort& port) {
    return is_network_port(port.path());
}

}  // namespace

int transact(SerialPort& port, std::span<uint8_t> buffer, int write_length, int expected_length,
             const std::function<bool(size_t total)>& keep_reading) {
    if (over_network(port)) {
        return net_write_and_read(port, buffer, write_length,
                                  net_reply_rule(buffer.data(), write_length, expected_length),
                                  expected_length > 0 ? keep_reading : nullptr);
    }
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
    if (over_network(port)) {
        return net_write_and_read(port, buffer, write_length,
                                  net_reply_rule(buffer.data(), write_length, 0), nullptr);
    }
    return write_and_read(port, buffer, write_length, [&](size_t total) {
        return total > 0 && complete(buffer.data(), static_cast<int>(total));
    });
}

}  // namespace zorvane
