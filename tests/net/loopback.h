// What the network tests stand on: Debian's ser2net bridging a simulated
// unit's pseudo-terminal on a loopback port, and plain loopback sockets for
// the relay and the fake bridge written in the tests. Nothing leaves
// 127.0.0.1.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace zorvane::testing {

// A listening socket on 127.0.0.1 with a port the system chose.
struct Listener {
    int fd = -1;
    uint16_t port = 0;

    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
            port = ntohs(a.sin_port);
        }
    }
    ~Listener() { close(); }
    void close() {
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            fd = -1;
        }
    }
    int accept_one() const { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
};

// A port on 127.0.0.1 that was free a moment ago (for ser2net, which binds
// its own).
inline uint16_t free_loopback_port() {
    Listener probe;
    return probe.port;
}

inline int connect_loopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// ser2net with a raw and an RFC 2217 accepter, each on a serial line of its
// own (a bridge serves one client per line), until destroyed.
class Ser2net {
  public:
    Ser2net(const std::filesystem::path& raw_line, const std::filesystem::path& telnet_line,
            const std::filesystem::path& dir)
        : raw_port(free_loopback_port()), telnet_port(free_loopback_port()) {
        const std::filesystem::path config = dir / "ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\n"
                              << "connection: &raw\n"
                              << "  accepter: tcp,127.0.0.1," << raw_port << "\n"
                              << "  connector: serialdev," << raw_line.string()
                              << ",57600e81,local\n"
                              << "connection: &rfc2217\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnet_port << "\n"
                              << "  connector: serialdev," << telnet_line.string()
                              << ",9600n81,local\n";
        const std::string pid_file = (dir / "ser2net.pid").string();
        const std::string config_text = config.string();
        m_pid = ::fork();
        if (m_pid == 0) {
            // -n: in the foreground, -u: no UUCP lock files outside the test.
            ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-u", "-c", config_text.c_str(), "-P",
                    pid_file.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Up once both accepters take a connection (at most 5 s).
        for (int i = 0; i < 250 && !ready(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Ser2net() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool running() const { return m_ready; }

    uint16_t raw_port;
    uint16_t telnet_port;

  private:
    bool ready() {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) != 0) {
            m_pid = -1;  // it did not start, or it ended
            return true;
        }
        const int a = connect_loopback(raw_port);
        const int b = a >= 0 ? connect_loopback(telnet_port) : -1;
        for (const int fd : {a, b}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        m_ready = a >= 0 && b >= 0;
        if (m_ready) {
            // Let it take back the lines those probes opened.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return m_ready;
    }

    pid_t m_pid = -1;
    bool m_ready = false;
};

}  // namespace zorvane::testing
