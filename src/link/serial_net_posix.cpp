// A serial line behind a network bridge, over POSIX sockets: raw TCP, or
// Telnet with the COM-PORT-OPTION (RFC 2217) through which the tool sets the
// line on the bridge.
//
// A read here returns as soon as bytes have come (or after a short slice
// without any): over a network the timing of the bytes says nothing about
// where a reply ends, so transact reads on until the reply is whole
// (net_reply_rule) or the network time-out has passed.
//
// The worker opens and closes its port once per pass. A bridge serves one
// client at a time and may still be busy with the last one when the next
// connects, so a connection that has worked is kept when the port closes and
// taken again by the next open of the same address.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/net_port.h"
#include "link/serial_port.h"
#include "link/serial_posix.h"

namespace zorvane {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one read waits for the first byte; transact asks again until its
// own deadline.
constexpr int kReadSliceMs = 20;
// A kept connection unused for longer than this is not trusted again: a
// bridge or a router on the way may have dropped it without a word.
constexpr auto kKeptIdleLimit = std::chrono::seconds(10);

PortOpen net_error(int error, const std::string& what) {
    PortAccess access = PortAccess::OtherError;
    switch (error) {
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ETIMEDOUT:
            access = PortAccess::Missing;  // no bridge answers at that address
            break;
        case EACCES:
        case EPERM:
            access = PortAccess::NoPermission;
            break;
        default:
            break;
    }
    return PortOpen::failed(access, error, what);
}

// One TCP connection to a bridge, with the Telnet state of an RFC 2217 one.
struct Connection {
    int fd = -1;
    bool telnet = false;
    telnet::Decoder decoder;
    std::vector<uint8_t> pending;  // line data decoded and not yet read
    bool sent_will[256] = {};
    bool sent_do[256] = {};
    // The bridge's answers to the COM-PORT-OPTION commands, by command code.
    std::map<uint8_t, std::vector<uint8_t>> answers;
    bool refused_com_port = false;
    bool broken = false;  // the bridge closed the connection or it failed
    Clock::time_point idle_since = Clock::now();

    ~Connection() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    bool send_all(const uint8_t* data, size_t size, Clock::time_point deadline) {
        // A write that cannot finish within the network time-out has lost
        // the bridge as surely as one that fails.
        if (!broken && !write_all_before(fd, data, size, deadline, true)) {
            broken = true;
        }
        return !broken;
    }

    void send_negotiation(uint8_t verb, uint8_t option) {
        const uint8_t bytes[] = {telnet::kIac, verb, option};
        send_all(bytes, sizeof bytes, Clock::now() + milliseconds(net_timeout_ms()));
    }

    // The options this client speaks: binary both ways (the frames are
    // binary), no go-ahead, and the COM-PORT-OPTION. Every other is refused.
    static bool ours(uint8_t option) {
        return option == telnet::kBinary || option == telnet::kSuppressGoAhead ||
               option == telnet::kComPort;
    }

    void answer(const telnet::Negotiation& n) {
        using namespace telnet;
        switch (n.verb) {
            case kDo:
                if (ours(n.option)) {
                    if (!sent_will[n.option]) {
                        sent_will[n.option] = true;
                        send_negotiation(kWill, n.option);
                    }
                } else {
                    send_negotiation(kWont, n.option);
                }
                break;
            case kDont:
                if (n.option == kComPort) {
                    refused_com_port = true;
                }
                break;
            case kWill:
                if (ours(n.option) && n.option != kComPort) {
                    if (!sent_do[n.option]) {
                        sent_do[n.option] = true;
                        send_negotiation(kDo, n.option);
                    }
                } else {
                    send_negotiation(kDont, n.option);
                }
                break;
            default:
                break;
        }
    }

    // Takes what the socket holds, waiting up to `wait_ms` for the first
    // bytes. False when the connection has ended.
    bool receive(int wait_ms) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, wait_ms);
        if (ready < 0) {
            if (errno != EINTR) {
                broken = true;
            }
            return !broken;
        }
        if (ready == 0) {
            return true;
        }
        uint8_t chunk[1024];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            broken = true;  // closed by the bridge, reset, unreachable
            return false;
        }
        if (n < 0) {
            return true;
        }
        if (!telnet) {
            pending.insert(pending.end(), chunk, chunk + n);
            return true;
        }
        std::vector<telnet::Negotiation> negotiations;
        std::vector<telnet::Subnegotiation> subs;
        decoder.feed(chunk, static_cast<size_t>(n), pending, negotiations, subs);
        for (const telnet::Negotiation& negotiation : negotiations) {
            answer(negotiation);
        }
        for (telnet::Subnegotiation& sub : subs) {
            if (sub.option == telnet::kComPort && !sub.data.empty() &&
                sub.data[0] > telnet::kServerOffset) {
                const uint8_t code = static_cast<uint8_t>(sub.data[0] - telnet::kServerOffset);
                answers[code].assign(sub.data.begin() + 1, sub.data.end());
            }
            // Line-state and modem-state notices carry nothing the tool uses.
        }
        return true;
    }

    // Whether the connection still stands: a bridge that has closed it
    // shows an end of file at once.
    bool alive() {
        if (broken) {
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) <= 0) {
            return true;
        }
        uint8_t byte = 0;
        return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
    }
};

// Connections that have worked, by address, for the next open.
std::mutex g_kept_mutex;
std::multimap<std::string, std::unique_ptr<Connection>> g_kept;

std::unique_ptr<Connection> take_kept(const std::string& path) {
    std::lock_guard lock(g_kept_mutex);
    auto [first, last] = g_kept.equal_range(path);
    for (auto it = first; it != last;) {
        std::unique_ptr<Connection> connection = std::move(it->second);
        it = g_kept.erase(it);
        if (Clock::now() - connection->idle_since < kKeptIdleLimit && connection->alive()) {
            return connection;
        }
    }
    return nullptr;
}

void keep(const std::string& path, std::unique_ptr<Connection> connection) {
    connection->idle_since = Clock::now();
    std::lock_guard lock(g_kept_mutex);
    g_kept.emplace(path, std::move(connection));
}

PortOpen connect_to(const NetAddress& address, Connection& connection) {
    const auto deadline = Clock::now() + milliseconds(net_timeout_ms());
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.port);
    const int rc = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        return PortOpen::failed(PortAccess::Missing, 0,
                                "no such host " + address.host + ": " + ::gai_strerror(rc));
    }
    int last_error = ECONNREFUSED;
    for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                ai->ai_protocol);
        if (fd < 0) {
            last_error = errno;
            continue;
        }
        int error = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd pfd{fd, POLLOUT, 0};
                int ready = 0;
                do {
                    ready = ::poll(&pfd, 1, poll_timeout(deadline));
                } while (ready < 0 && errno == EINTR);
                socklen_t length = sizeof error;
                if (ready <= 0) {
                    error = ETIMEDOUT;
                } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
            }
        }
        if (error != 0) {
            ::close(fd);
            last_error = error;
            continue;
        }
        // Each request goes out at once, not held back to be joined with
        // the next; the keep-alive notices a bridge that has vanished.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        connection.fd = fd;
        ::freeaddrinfo(found);
        return PortOpen::usable();
    }
    ::freeaddrinfo(found);
    return net_error(last_error, std::strerror(last_error));
}

std::string parity_name(uint8_t value) {
    switch (value) {
        case 1:
            return "none";
        case 2:
            return "odd";
        case 3:
            return "even";
        case 4:
            return "mark";
        case 5:
            return "space";
        default:
            return "value " + std::to_string(value);
    }
}

std::string control_name(uint8_t value) {
    switch (value) {
        case 1:
            return "no flow control";
        case 2:
            return "XON/XOFF flow control";
        case 3:
            return "RTS/CTS flow control";
        default:
            return "flow control " + std::to_string(value);
    }
}

uint32_t number_of(const std::vector<uint8_t>& bytes) {
    uint32_t n = 0;
    for (const uint8_t b : bytes) {
        n = n << 8 | b;
    }
    return n;
}

// The line of the protocol, one COM-PORT-OPTION command per setting, with
// what the bridge must answer and how a refusal is told.
struct LineSetting {
    uint8_t code;
    std::vector<uint8_t> value;
    std::string wanted;
    std::string (*answered)(const std::vector<uint8_t>&);
};

std::vector<LineSetting> line_settings() {
    constexpr uint32_t kBaud = 57600;
    return {
        {telnet::kSetBaudRate,
         {static_cast<uint8_t>(kBaud >> 24), static_cast<uint8_t>(kBaud >> 16),
          static_cast<uint8_t>(kBaud >> 8), static_cast<uint8_t>(kBaud)},
         "57600 baud",
         [](const std::vector<uint8_t>& v) { return std::to_string(number_of(v)) + " baud"; }},
        {telnet::kSetDataSize,
         {8},
         "8 data bits",
         [](const std::vector<uint8_t>& v) { return std::to_string(number_of(v)) + " data bits"; }},
        {telnet::kSetParity,
         {telnet::kParityEven},
         "even parity",
         [](const std::vector<uint8_t>& v) {
             const auto parity = static_cast<uint8_t>(number_of(v));
             return parity == 1 ? std::string("no parity") : parity_name(parity) + " parity";
         }},
        {telnet::kSetStopSize,
         {1},
         "1 stop bit",
         [](const std::vector<uint8_t>& v) {
             const uint32_t n = number_of(v);
             return n == 3 ? std::string("1.5 stop bits") : std::to_string(n) + " stop bits";
         }},
        {telnet::kSetControl,
         {telnet::kNoFlowControl},
         "no flow control",
         [](const std::vector<uint8_t>& v) {
             return control_name(static_cast<uint8_t>(number_of(v)));
         }},
    };
}

// Sets the line through the bridge and checks each answer. The line can be
// right only when every setting is confirmed: a refusal (the bridge answers
// with another value) or a missing answer leaves the port unusable, and
// the reason names the setting.
PortOpen set_line(Connection& c) {
    using namespace telnet;
    const int timeout = net_timeout_ms();
    const auto deadline = Clock::now() + milliseconds(timeout);
    const uint8_t offers[] = {kIac, kWill, kComPort,        kIac, kWill, kBinary,
                              kIac, kDo,   kBinary,         kIac, kWill, kSuppressGoAhead,
                              kIac, kDo,   kSuppressGoAhead};
    c.sent_will[kComPort] = c.sent_will[kBinary] = c.sent_will[kSuppressGoAhead] = true;
    c.sent_do[kBinary] = c.sent_do[kSuppressGoAhead] = true;
    if (!c.send_all(offers, sizeof offers, deadline)) {
        return PortOpen::failed(PortAccess::OtherError, 0, "the bridge closed the connection");
    }
    // The settings go out right away: a bridge that takes the option takes
    // its commands once it has agreed, and answers each.
    const std::vector<LineSetting> settings = line_settings();
    std::vector<uint8_t> commands;
    for (const LineSetting& s : settings) {
        const std::vector<uint8_t> one = com_port_command(s.code, s.value);
        commands.insert(commands.end(), one.begin(), one.end());
    }
    const std::vector<uint8_t> purge = com_port_command(kPurgeData, {kPurgeBoth});
    commands.insert(commands.end(), purge.begin(), purge.end());
    if (!c.send_all(commands.data(), commands.size(), deadline)) {
        return PortOpen::failed(PortAccess::OtherError, 0, "the bridge closed the connection");
    }
    auto all_answered = [&] {
        return std::all_of(settings.begin(), settings.end(),
                           [&](const LineSetting& s) { return c.answers.count(s.code) > 0; }) &&
               c.answers.count(kPurgeData) > 0;
    };
    while (!all_answered() && !c.refused_com_port && Clock::now() < deadline) {
        if (!c.receive(std::min(poll_timeout(deadline), kReadSliceMs))) {
            return PortOpen::failed(PortAccess::OtherError, 0,
                                    "the bridge closed the connection while the line was set");
        }
    }
    if (c.refused_com_port) {
        return PortOpen::failed(PortAccess::OtherError, 0,
                                "the bridge does not take line settings (no RFC 2217 "
                                "COM-PORT-OPTION); if its line is fixed at 57600 baud 8E1, "
                                "name it tcp://");
    }
    std::string refused;
    for (const LineSetting& s : settings) {
        const auto answer = c.answers.find(s.code);
        std::string what;
        if (answer == c.answers.end()) {
            what = s.wanted + " (no answer in " + std::to_string(timeout) + " ms)";
        } else if (answer->second != s.value) {
            what = s.wanted + " (it keeps " + s.answered(answer->second) + ")";
        } else {
            continue;
        }
        refused += refused.empty() ? what : ", " + what;
    }
    if (!refused.empty()) {
        return PortOpen::failed(PortAccess::OtherError, 0,
                                "the bridge refuses " + refused + ": the line cannot be right");
    }
    // Whatever came from the line before the purge is not a reply.
    c.pending.clear();
    return PortOpen::usable();
}

class NetBackend final : public PortBackend {
  public:
    ~NetBackend() override { close(); }

    PortOpen open(const std::string& path) override {
        close();
        std::string why;
        const std::optional<NetAddress> address = parse_network_port(path, &why);
        if (!address) {
            return PortOpen::failed(PortAccess::Missing, 0, path + ": " + why);
        }
        if (std::unique_ptr<Connection> kept = take_kept(path)) {
            m_connection = std::move(kept);
            m_path = path;
            m_heard = false;
            return PortOpen::usable();
        }
        auto connection = std::make_unique<Connection>();
        connection->telnet = address->mode == NetMode::Rfc2217;
        PortOpen result = connect_to(*address, *connection);
        if (result && connection->telnet) {
            result = set_line(*connection);
        }
        if (!result) {
            return result;
        }
        m_connection = std::move(connection);
        m_path = path;
        m_heard = true;  // a fresh connection is worth keeping
        return result;
    }

    void close() override {
        if (!m_connection) {
            return;
        }
        // Only a connection that has carried a reply since it was taken is
        // kept: one that went quiet is dropped, so that the next open
        // connects again.
        if (m_heard && !m_connection->broken) {
            keep(m_path, std::move(m_connection));
        }
        m_connection.reset();
    }

    bool is_open() const override { return m_connection != nullptr; }

    // The line of a raw bridge is fixed on the bridge; an RFC 2217 one was
    // set when it was opened.
    void apply_line_settings() override {}

    bool write(const uint8_t* data, size_t size) override {
        if (!m_connection || m_connection->broken) {
            return false;
        }
        const auto deadline = Clock::now() + milliseconds(net_timeout_ms());
        if (!m_connection->telnet) {
            return m_connection->send_all(data, size, deadline);
        }
        std::vector<uint8_t> escaped;
        telnet::escape(data, size, escaped);
        return m_connection->send_all(escaped.data(), escaped.size(), deadline);
    }

    int read(uint8_t* data, size_t size) override {
        if (!m_connection) {
            return -1;
        }
        Connection& c = *m_connection;
        if (c.pending.empty()) {
            if (c.broken || !c.receive(kReadSliceMs)) {
                return -1;
            }
        }
        const size_t n = std::min(size, c.pending.size());
        std::copy_n(c.pending.begin(), n, data);
        c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<long>(n));
        if (n > 0) {
            m_heard = true;
        }
        return static_cast<int>(n);
    }

    void discard_input() override {
        if (!m_connection) {
            return;
        }
        Connection& c = *m_connection;
        c.pending.clear();
        // Whatever the socket holds now, without waiting.
        for (int rounds = 0; rounds < 64 && !c.broken; ++rounds) {
            pollfd pfd{c.fd, POLLIN, 0};
            if (::poll(&pfd, 1, 0) <= 0 || !c.receive(0)) {
                break;
            }
            c.pending.clear();
        }
    }

  private:
    std::unique_ptr<Connection> m_connection;
    std::string m_path;
    bool m_heard = false;
};

}  // namespace

std::unique_ptr<PortBackend> make_network_backend() {
    return std::make_unique<NetBackend>();
}

}  // namespace zorvane
