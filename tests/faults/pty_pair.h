// A pseudo-terminal whose terminal end is port COMn of a private port
// directory, with the device end in the test's hands.
#pragma once

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace zorvane::testing {

class PtyPair {
  public:
    explicit PtyPair(int com_port) {
        std::array<char, 128> name{};
        if (::openpty(&m_master, &m_slave, name.data(), nullptr, nullptr) != 0) {
            return;
        }
        m_slave_path = name.data();
        char pattern[] = "/tmp/zorvane-faults-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            return;
        }
        m_dir = pattern;
        std::filesystem::create_directory_symlink(m_slave_path,
                                                  m_dir / ("COM" + std::to_string(com_port)));
    }
    ~PtyPair() {
        close_master();
        if (m_slave >= 0) {
            ::close(m_slave);
        }
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && !m_dir.empty(); }
    std::string dir() const { return m_dir.string(); }
    int master() const { return m_master; }
    int slave() const { return m_slave; }

    // Whatever reaches the device end within `wait`, until `max` bytes.
    std::vector<uint8_t> receive(size_t max, std::chrono::milliseconds wait) {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (got.size() < max && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, 10) <= 0) {
                continue;
            }
            uint8_t chunk[256];
            const ssize_t n = ::read(m_master, chunk, std::min(sizeof chunk, max - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    void close_master() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slave_path;
    std::filesystem::path m_dir;
};

// Waits until `done()` holds, giving up after `limit` (a guard against a
// hang, not a measurement). Returns whether it held.
template <typename Pred>
bool eventually(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace zorvane::testing
