// A real Mosquitto broker on a free loopback port with a configuration of
// its own, a subscriber that records everything it is sent, and the monitor
// as a child process of the test.
#pragma once

#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zorvane::testing {

// Generous: a loaded machine may take seconds for a search or a pass.
inline constexpr std::chrono::seconds kPatience{60};

inline pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::filesystem::path& log) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // The environment of the test, with the given variables replacing theirs.
    std::vector<std::string> env_text = env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry = *e;
        const std::string_view name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : env) {
            replaced = replaced || given.starts_with(name);
        }
        if (!replaced) {
            env_text.emplace_back(entry);
        }
    }
    std::vector<char*> envp;
    for (const std::string& e : env_text) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status of `pid`, waiting at most `patience`; -1 when it did not
// end (it is then killed).
inline int wait_exit(pid_t pid, std::chrono::seconds patience = kPatience) {
    const auto until = std::chrono::steady_clock::now() + patience;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int free_loopback_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class Broker {
  public:
    explicit Broker(const std::filesystem::path& dir) : m_dir(dir), m_port(free_loopback_port()) {
        std::ofstream(m_dir / "mosquitto.conf") << "listener " << m_port << " 127.0.0.1\n"
                                                << "allow_anonymous true\n"
                                                << "persistence false\n";
        start();
    }
    ~Broker() { stop(); }

    int port() const { return m_port; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(m_port); }

    void start() {
        m_pid = spawn({"mosquitto", "-c", (m_dir / "mosquitto.conf").string()}, {},
                      m_dir / "broker.log");
    }
    void stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            wait_exit(m_pid);
            m_pid = -1;
        }
    }

  private:
    std::filesystem::path m_dir;
    int m_port;
    pid_t m_pid = -1;
};

struct Received {
    std::string topic;
    std::string payload;
    bool retained;
};

// Subscribes to everything and keeps it, reconnecting as the broker comes
// and goes.
class Subscriber {
  public:
    explicit Subscriber(int port) {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto* m, void*, int rc) {
            if (rc == 0) {
                mosquitto_subscribe(m, nullptr, "#", 1);
            }
        });
        mosquitto_message_callback_set(
            m_mosq, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto* sub = static_cast<Subscriber*>(self);
                std::lock_guard lock(sub->m_mutex);
                sub->m_received.push_back({message->topic,
                                           std::string(static_cast<const char*>(message->payload),
                                                       static_cast<size_t>(message->payloadlen)),
                                           message->retain});
                sub->m_cv.notify_all();
            });
        mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
        // The broker may still be starting: try until it listens.
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        mosquitto_loop_start(m_mosq);
    }
    ~Subscriber() {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, true);
        mosquitto_destroy(m_mosq);
        mosquitto_lib_cleanup();
    }

    void publish(const std::string& topic, const std::string& payload, bool retain = false) {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, retain);
    }

    // The first message from `from` on (an index into what has arrived) that
    // satisfies `match`, waiting for it; nothing after kPatience.
    std::optional<Received> wait_for(const std::function<bool(const Received&)>& match,
                                     size_t from = 0) {
        std::unique_lock lock(m_mutex);
        std::optional<Received> found;
        m_cv.wait_for(lock, kPatience, [&] {
            for (size_t i = from; i < m_received.size(); ++i) {
                if (match(m_received[i])) {
                    found = m_received[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<Received> wait_for(const std::string& topic, const std::string& payload,
                                     size_t from = 0) {
        return wait_for([&](const Received& r) { return r.topic == topic && r.payload == payload; },
                        from);
    }
    std::optional<Received> wait_for_topic(const std::string& topic, size_t from = 0) {
        return wait_for([&](const Received& r) { return r.topic == topic; }, from);
    }

    // The first `n` messages on `topic` from `from` on, waiting for them;
    // fewer after kPatience.
    std::vector<Received> wait_for_n(const std::string& topic, size_t n, size_t from = 0) {
        std::unique_lock lock(m_mutex);
        std::vector<Received> found;
        m_cv.wait_for(lock, kPatience, [&] {
            found.clear();
            for (size_t i = from; i < m_received.size() && found.size() < n; ++i) {
                if (m_received[i].topic == topic) {
                    found.push_back(m_received[i]);
                }
            }
            return found.size() == n;
        });
        return found;
    }

    size_t count() {
        std::lock_guard lock(m_mutex);
        return m_received.size();
    }
    std::vector<Received> all() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

  private:
    mosquitto* m_mosq = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Received> m_received;
};

}  // namespace zorvane::testing
