// A monitor run as a child process, and a folder of its own for each test.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "broker_rig.h"
#include "sim/simulated_port.h"

namespace zorvane::testing {

class MonitorRun {
  public:
    MonitorRun(const std::filesystem::path& dir, const std::filesystem::path& ports,
               std::vector<std::string> args) {
        args.insert(args.begin(), {ZORVANE_CLI, "monitor"});
        m_log = dir / "monitor.log";
        m_pid = spawn(args, {"ZORVANE_PORT_DIR=" + ports.string()}, m_log);
    }
    ~MonitorRun() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            wait_exit(m_pid);
        }
    }
    int stop(int signal) {
        kill(m_pid, signal);
        return wait();
    }
    // Waits for a monitor that ends by itself.
    int wait() {
        const int status = wait_exit(m_pid);
        m_pid = -1;
        return status;
    }
    std::string log() const {
        std::ifstream in(m_log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    pid_t m_pid = -1;
    std::filesystem::path m_log;
};

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/zorvane-monitor-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

// Whether the device received exactly this frame.
inline bool holds_frame(sim::SimulatedPort& device, const std::vector<uint8_t>& frame) {
    for (const auto& received : device.received()) {
        if (received == frame) {
            return true;
        }
    }
    return false;
}

}  // namespace zorvane::testing
