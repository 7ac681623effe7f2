#include "sim/simulated_port.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zorvane::sim {

namespace {

using Clock = std::chrono::steady_clock;

// While nobody has the terminal open, the master reports a hang-up on every
// poll. An open of the terminal is noticed through inotify; we also look
// again after kOpenWatchSafety, or every kReopenCheck where inotify fails.
constexpr std::chrono::milliseconds kReopenCheck{1};
constexpr std::chrono::milliseconds kOpenWatchSafety{100};

timespec to_timespec(std::chrono::nanoseconds d) {
    if (d.count() < 0) {
        d = std::chrono::nanoseconds{0};
    }
    return timespec{static_cast<time_t>(d.count() / 1'000'000'000),
                    static_cast<long>(d.count() % 1'000'000'000)};
}

}  // namespace

SimulatedPort::SimulatedPort(const DeviceConfig& config, PortOptions options)
    : m_device(config), m_options(options) {
    int slave = -1;
    char name[128] = {};
    if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    // Raw from the start: nothing the device sends is echoed back to it or
    // translated (CR/LF, 0x11/0x13 flow control, 0x03 signals) on the way.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    // We keep no slave descriptor: with none open, the master sees a hang-up,
    // which is how we notice that the tool has closed the port.
    ::close(slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_terminal = name;
    m_open_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_open_watch >= 0 && inotify_add_watch(m_open_watch, name, IN_OPEN) < 0) {
        ::close(m_open_watch);
        m_open_watch = -1;
    }
    m_created = true;
    m_last_tick = Clock::now();
    m_thread = std::thread(&SimulatedPort::run, this);
}

SimulatedPort::~SimulatedPort() {
    stop();
    close_master();
    if (m_wake >= 0) {
        ::close(m_wake);
    }
    if (m_open_watch >= 0) {
        ::close(m_open_watch);
    }
}

void SimulatedPort::stop() {
    m_stop = true;
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SimulatedPort::wake() {
    if (m_wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
    }
}

void SimulatedPort::inject(Fault fault) {
    std::lock_guard lock(m_mutex);
    m_device.faults().add(std::move(fault));
}

void SimulatedPort::clear_faults() {
    std::lock_guard lock(m_mutex);
    m_device.faults().clear();
}

std::vector<std::vector<uint8_t>> SimulatedPort::received() {
    std::lock_guard lock(m_mutex);
    return m_device.received();
}

size_t SimulatedPort::received_bytes() {
    std::lock_guard lock(m_mutex);
    return m_device.received_bytes();
}

void SimulatedPort::clear_log() {
    std::lock_guard lock(m_mutex);
    m_device.clear_log();
}

void SimulatedPort::hang_up() {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable() || m_stop) {
        return;
    }
    m_hang_up_requested = true;
    wake();
    m_hung_up_cv.wait(lock, [this] { return m_hung_up || m_stop; });
}

void SimulatedPort::close_master() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void SimulatedPort::run() {
    while (!m_stop) {
        auto now = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            m_device.advance(std::chrono::duration<double>(now - m_last_tick).count());
            m_last_tick = now;
            if (m_hang_up_requested && !m_hung_up) {
                m_output.clear();
                close_master();
                m_hung_up = true;
                m_hung_up_cv.notify_all();
            }
        }
        const auto next_due = pump_output(now);

        // Connected: wait for requests. Closed by the tool: the master can
        // only report the hang-up, so wait for the terminal to be opened.
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_master, POLLIN, 0}};
        nfds_t count = 1;
        auto wait_until = next_due;
        const bool connected = m_master >= 0 && slave_connected();
        if (connected) {
            count = 2;
        } else if (m_master >= 0) {
            if (m_open_watch >= 0) {
                fds[1] = {m_open_watch, POLLIN, 0};
                count = 2;
            }
            wait_until =
                std::min(wait_until, now + (m_open_watch >= 0 ? kOpenWatchSafety : kReopenCheck));
        }
        timespec timeout{};
        const timespec* timeout_ptr = nullptr;
        if (wait_until != Clock::time_point::max()) {
            timeout = to_timespec(wait_until - Clock::now());
            timeout_ptr = &timeout;
        }
        if (ppoll(fds, count, timeout_ptr, nullptr) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t drained = 0;
            [[maybe_unused]] const auto n = ::read(m_wake, &drained, sizeof drained);
        }
        if (count < 2 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            continue;
        }
        if (connected) {
            read_requests(Clock::now());
        } else {
            char events[4096];
            while (::read(m_open_watch, events, sizeof events) > 0) {
            }
        }
    }
    std::lock_guard lock(m_mutex);
    m_hung_up_cv.notify_all();
}

bool SimulatedPort::slave_connected() {
    pollfd p{m_master, POLLIN, 0};
    const bool hung = poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN);
    if (hung && m_connected) {
        on_disconnect();
    }
    m_connected = !hung;
    return m_connected;
}

// The tool closed the port. A real line has nobody listening now: what the
// device was still sending is lost, and it must not greet the next opener.
void SimulatedPort::on_disconnect() {
    m_output.clear();
    {
        std::lock_guard lock(m_mutex);
        m_device.drop_partial_frame();
    }
    // Bytes already written sit in the terminal's input queue; only a
    // descriptor of the slave side can flush them.
    const int fd = ::open(m_terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        tcflush(fd, TCIFLUSH);
        ::close(fd);
    }
}

void SimulatedPort::read_requests(Clock::time_point now) {
    uint8_t buf[256];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (m_connected) {
                on_disconnect();
            }
            m_connected = false;
        }
        return;
    }
    // With pacing, the request has only fully arrived once its bytes have
    // crossed the line.
    const auto byte_time = m_options.pace ? kByteTime : std::chrono::nanoseconds{0};
    m_input_end = std::max(now, m_input_end) + byte_time * n;
    std::vector<ReplyPlan> plans;
    {
        std::lock_guard lock(m_mutex);
        plans = m_device.receive(std::span<const uint8_t>(buf, static_cast<size_t>(n)));
    }
    for (ReplyPlan& plan : plans) {
        Segment first;
        first.earliest = m_input_end + plan.delay;
        if (plan.hang_up) {
            first.hang_up = true;
            m_output.push_back(std::move(first));
            continue;
        }
        const size_t cut = plan.first_burst ? plan.first_burst : plan.bytes.size();
        first.bytes.assign(plan.bytes.begin(), plan.bytes.begin() + static_cast<long>(cut));
        m_output.push_back(std::move(first));
        if (cut < plan.bytes.size()) {
            Segment second;
            second.bytes.assign(plan.bytes.begin() + static_cast<long>(cut), plan.bytes.end());
            second.earliest = m_output.back().earliest;
            second.gap_before = plan.gap;
            m_output.push_back(std::move(second));
        }
    }
}

Clock::time_point SimulatedPort::pump_output(Clock::time_point now) {
    const auto byte_time = m_options.pace ? kByteTime : std::chrono::nanoseconds{0};
    while (!m_output.empty() && m_master >= 0) {
        Segment& seg = m_output.front();
        if (!seg.started) {
            seg.start = std::max(seg.earliest, m_line_free + seg.gap_before);
            seg.started = true;
        }
        if (now < seg.start) {
            return seg.start;
        }
        if (seg.hang_up) {
            std::lock_guard lock(m_mutex);
            m_output.clear();
            close_master();
            m_hung_up = true;
            m_hung_up_cv.notify_all();
            break;
        }
        // A burst is handed over whole once its last byte has crossed the
        // line. A UART sends a burst without pauses; handing it over byte by
        // byte would let a scheduling hiccup of ours (a few ms on a busy
        // machine) look like a gap that the reader's 5 ms rule cuts in two.
        const auto done_at = seg.start + byte_time * static_cast<long>(seg.bytes.size());
        if (now < done_at) {
            return done_at;
        }
        if (seg.sent < seg.bytes.size()) {
            const ssize_t n =
                ::write(m_master, seg.bytes.data() + seg.sent, seg.bytes.size() - seg.sent);
            if (n > 0) {
                seg.sent += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_output.clear();  // nobody listening: the bytes are lost
                break;
            }
        }
        if (seg.sent < seg.bytes.size()) {
            return now + std::chrono::microseconds{100};  // terminal full: try again soon
        }
        m_line_free = done_at;
        m_output.pop_front();
    }
    return Clock::time_point::max();
}

}  // namespace zorvane::sim
