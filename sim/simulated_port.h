// A simulated device on a pseudo-terminal: the tool opens the terminal's
// slave side as if it were a serial port, and a thread of ours answers on the
// master side.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/device_model.h"

namespace zorvane::sim {

// 11 bits a byte (start, 8 data, parity, stop) at 57600 baud.
inline constexpr std::chrono::nanoseconds kByteTime{11'000'000'000LL / 57600};

struct PortOptions {
    // Requests and replies take the time they would on a real cable (a
    // reply is handed over when its last byte would have arrived); otherwise
    // a reply goes out at once.
    bool pace = false;
};

class SimulatedPort {
  public:
    explicit SimulatedPort(const DeviceConfig& config, PortOptions options = {});
    ~SimulatedPort();
    SimulatedPort(const SimulatedPort&) = delete;
    SimulatedPort& operator=(const SimulatedPort&) = delete;

    // False when no pseudo-terminal could be had; the port then does nothing.
    bool ok() const { return m_created; }
    // The slave side, e.g. /dev/pts/7: what the tool opens.
    const std::string& terminal_path() const { return m_terminal; }

    // Runs `f` on the device while the line thread keeps off it.
    template <class F>
    decltype(auto) with_device(F&& f) {
        std::lock_guard lock(m_mutex);
        return std::forward<F>(f)(m_device);
    }
    void inject(Fault fault);
    void clear_faults();
    std::vector<std::vector<uint8_t>> received();
    size_t received_bytes();
    void clear_log();

    // The cable is pulled: the master side is closed, so the tool's next
    // read or write on the terminal fails. Returns once it is done.
    void hang_up();

    // Ends the line thread; the destructor does it too.
    void stop();

  private:
    using Clock = std::chrono::steady_clock;

    // A stretch of output: a burst of a reply, or the line dropping.
    struct Segment {
        std::vector<uint8_t> bytes;
        Clock::time_point earliest;
        std::chrono::nanoseconds gap_before{0};
        bool hang_up = false;
        bool started = false;
        Clock::time_point start;
        size_t sent = 0;
    };

    void run();
    void read_requests(Clock::time_point now);
    // Writes what is due; returns when the next byte is due (max() if none).
    Clock::time_point pump_output(Clock::time_point now);
    bool slave_connected();
    void on_disconnect();
    void close_master();
    void wake();

    SimDevice m_device;  // guarded by m_mutex
    const PortOptions m_options;
    std::string m_terminal;
    bool m_created = false;
    int m_master = -1;
    int m_wake = -1;        // eventfd: stop and hang-up requests
    int m_open_watch = -1;  // inotify on the terminal: the tool opens it

    std::mutex m_mutex;
    std::condition_variable m_hung_up_cv;
    bool m_hang_up_requested = false;  // guarded by m_mutex
    bool m_hung_up = false;            // guarded by m_mutex
    std::atomic<bool> m_stop{false};

    // Line thread only.
    std::deque<Segment> m_output;
    Clock::time_point m_line_free{};
    Clock::time_point m_input_end{};
    Clock::time_point m_last_tick{};
    bool m_connected = false;

    std::thread m_thread;
};

}  // namespace zorvane::sim
