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
#include <vector>

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
    // Each send goes out as a packet of its own, not held back for the
    // peer's acknowledgement.
    int accept_one() const {
        const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return client;
    }
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

// ser2net with one accepter per serial line (a bridge serves one client per
// line), raw or RFC 2217, until destroyed.
class Ser2net {
  public:
    struct Line {
        std::filesystem::path path;
        bool rfc2217 = false;
    };
    Ser2net(const std::vector<Line>& lines, const std::filesystem::path& dir) {
        const std::filesystem::path config = dir / "ser2net.yaml";
        std::ofstream yaml(config);
        yaml << "%YAML 1.1\n---\n";
        for (size_t i = 0; i < lines.size(); ++i) {
            ports.push_back(free_loopback_port());
            // An RFC 2217 line starts wrong: the tool must set it.
            yaml << "connection: &line" << i << "\n"
                 << "  accepter: " << (lines[i].rfc2217 ? "telnet(rfc2217)," : "")
                 << "tcp,127.0.0.1," << ports.back() << "\n"
                 << "  connector: serialdev," << lines[i].path.string()
                 << (lines[i].rfc2217 ? ",9600n81,local\n" : ",57600e81,local\n");
        }
        yaml.close();
        const std::string pid_file = (dir / "ser2net.pid").string();
        const std::string config_text = config.string();
        m_pid = ::fork();
        if (m_pid == 0) {
            // -n: in the foreground, -u: no UUCP lock files outside the test.
            ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-u", "-c", config_text.c_str(), "-P",
                    pid_file.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Up once every accepter takes a connection (at most 5 s).
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

    std::vector<uint16_t> ports;  // one per line, in order

  private:
    bool ready() {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) != 0) {
            m_pid = -1;  // it did not start, or it ended
            return true;
        }
        m_ready = true;
        for (const uint16_t port : ports) {
            const int fd = connect_loopback(port);
            m_ready = m_ready && fd >= 0;
            if (fd >= 0) {
                ::close(fd);
            }
        }
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
