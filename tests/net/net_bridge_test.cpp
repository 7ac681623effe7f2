// The tool over network bridges: Debian's ser2net in front of simulated
// units (raw and RFC 2217 accepters), a relay that splits and delays the
// replies, and a fake RFC 2217 bridge that refuses a setting or drops the
// connection. Loopback only.
#include <gtest/gtest.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <random>
#include <regex>
#include <thread>

#include "cli_run.h"
#include "link/frame.h"
#include "link/net_port.h"
#include "link/reply_catalogue.h"
#include "link/serial_port.h"
#include "loopback.h"
#include "sim/port_directory.h"

namespace zorvane::testing {
namespace {

using Frames = std::vector<std::vector<uint8_t>>;

std::string url(const char* scheme, uint16_t port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

// A poll's JSON without what differs between two polls of one unit by
// itself (the time, the port number, the counters that run with time).
std::string steady_part(const std::string& json) {
    static const std::regex moving(
        R"("g_com_port":\d+,|"last_answer":"[^"]*",|"lifetime_counters":\[[^\]]*\])");
    return std::regex_replace(json, moving, "");
}

struct Bridged {
    const char* scheme;
    int com;
    const char* caption;
};

class NetBridge : public ::testing::Test {
  protected:
    NetBridge()
        : qm(dir.add(3, {DeviceModel::QM48, "12345", {}})),
          kx(dir.add(5, {DeviceModel::KX24, "777", {}})),
          bridge({{dir.path() / "COM3", false}, {dir.path() / "COM5", true}}, dir.path()) {}

    uint16_t port_of(const Bridged& b) const { return bridge.ports[b.com == 3 ? 0 : 1]; }
    sim::SimulatedPort* unit(const Bridged& b) { return b.com == 3 ? qm : kx; }

    // A zorvane-cli run against a port; a local port is tried again while the
    // bridge may still be letting go of the line after its last client.
    CliOutcome run(std::vector<std::string> args, const std::string& port) {
        args.push_back("--port");
        args.push_back(port);
        CliOutcome outcome;
        for (int attempt = 0; attempt < 5; ++attempt) {
            outcome = run_cli(args);
            if (outcome.err.find("busy") == std::string::npos) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return outcome;
    }

    sim::PortDirectory dir;
    sim::SimulatedPort* qm;
    sim::SimulatedPort* kx;
    Ser2net bridge;
};

// scan, poll and set over each accepter: the unit sees exactly the frames a
// local port gives it, and the poll reads the same values.
TEST_F(NetBridge, ScanPollAndSetOverBothAccepters) {
    ASSERT_TRUE(bridge.running()) << "ser2net did not start (scripts/install-deps.sh installs it)";
    for (const Bridged b :
         {Bridged{"tcp", 3, "QM-48. S/N: 12345"}, Bridged{"rfc2217", 5, "KX-24. S/N: 777"}}) {
        SCOPED_TRACE(b.scheme);
        const std::string address = url(b.scheme, port_of(b));
        const std::string local = (dir.path() / ("COM" + std::to_string(b.com))).string();

        const CliOutcome scan = run({"scan"}, address);
        EXPECT_EQ(scan.status, 0) << scan.err;
        EXPECT_EQ(scan.out, address + "\t" + b.caption + "\n");

        unit(b)->clear_log();
        const CliOutcome net_poll = run({"poll"}, address);
        const Frames net_frames = unit(b)->received();
        unit(b)->clear_log();
        const CliOutcome local_poll = run({"poll"}, local);
        const Frames local_frames = unit(b)->received();
        ASSERT_EQ(net_poll.status, 0) << net_poll.err;
        ASSERT_EQ(local_poll.status, 0) << local_poll.err;
        EXPECT_EQ(net_frames, local_frames);
        EXPECT_EQ(steady_part(net_poll.out), steady_part(local_poll.out));

        unit(b)->clear_log();
        // A threshold inside the unit's class: 45.0 V (450) on the 48 V
        // unit, 22.5 V (225) on the 24 V one.
        const bool volts48 = b.com == 3;
        const CliOutcome set = run({"set", "UbatLow", volts48 ? "45.0" : "22.5"}, address);
        EXPECT_EQ(set.status, 0) << set.err;
        const Frames sent = unit(b)->received();
        const std::vector<uint8_t> write = volts48
                                               ? std::vector<uint8_t>{0xBE, 0x4D, 0x01, 0xC2, 0xAA}
                                               : std::vector<uint8_t>{0xBE, 0x4D, 0x00, 0xE1, 0xAA};
        EXPECT_NE(std::find(sent.begin(), sent.end(), write), sent.end());
        EXPECT_NE(set.out.find(volts48 ? "BE 4D 01 C2 AA" : "BE 4D 00 E1 AA"), std::string::npos)
            << set.out;
    }
}

// Between the tool and the raw accepter: each reply comes late and in up to
// two packets with pauses longer than a local read waits between bytes.
class SplittingRelay {
  public:
    explicit SplittingRelay(uint16_t upstream) : m_upstream(upstream) {
        m_thread = std::thread([this] { run(); });
    }
    ~SplittingRelay() {
        m_stop = true;
        m_thread.join();
    }
    uint16_t port() const { return m_listener.port; }

  private:
    void pause(int low_ms, int high_ms) {
        std::uniform_int_distribution<int> ms(low_ms, high_ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms(m_random)));
    }
    void run() {
        pollfd wait{m_listener.fd, POLLIN, 0};
        while (!m_stop && ::poll(&wait, 1, 50) == 0) {
        }
        if (m_stop) {
            return;
        }
        const int client = m_listener.accept_one();
        const int up = connect_loopback(m_upstream);
        pollfd fds[2] = {{client, POLLIN, 0}, {up, POLLIN, 0}};
        while (!m_stop && client >= 0 && up >= 0) {
            if (::poll(fds, 2, 50) <= 0) {
                continue;
            }
            uint8_t bytes[256];
            if (fds[0].revents != 0) {
                const ssize_t n = ::recv(client, bytes, sizeof bytes, 0);
                if (n <= 0 || ::send(up, bytes, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
                    break;
                }
            }
            if (fds[1].revents != 0) {
                const ssize_t n = ::recv(up, bytes, sizeof bytes, 0);
                if (n <= 0) {
                    break;
                }
                pause(0, 4);
                std::uniform_int_distribution<ssize_t> cut(1, n);
                ssize_t sent = 0;
                for (int piece = 0; piece < 2 && sent < n; ++piece) {
                    const ssize_t size = piece == 1 ? n - sent : std::min(cut(m_random), n - sent);
                    ::send(client, bytes + sent, static_cast<size_t>(size), MSG_NOSIGNAL);
                    sent += size;
                    if (sent < n) {
                        pause(6, 8);
                    }
                }
            }
        }
        for (const int fd : {client, up}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    Listener m_listener;
    uint16_t m_upstream;
    std::mt19937 m_random{26};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(NetBridge, SplitAndDelayedRepliesStayWithTheirRequests) {
    ASSERT_TRUE(bridge.running());
    SplittingRelay relay(bridge.ports[0]);
    SerialPort port(make_serial_backend());
    ASSERT_TRUE(port.open_path(url("tcp", relay.port())));

    // Reads of every length and form the QM cycle meets.
    const std::array<uint8_t, 8> codes = {0x41, cmd::kStatus,      0x46,
                                          0x62, cmd::kCounters,    cmd::kSerialNumber,
                                          0x4C, cmd::kBatteryProbe};
    int wrong = 0;
    for (int i = 0; i < 1000 && !port.link_failed(); ++i) {
        const uint8_t code = codes[static_cast<size_t>(i) % codes.size()];
        std::array<uint8_t, kFrameBufferSize> buffer{};
        const int length = build_request(buffer, code);
        const int expected = code == cmd::kCounters ? 47 : 0;
        const int count = transact(port, buffer, length, expected);
        bool right = false;
        if (code == cmd::kStatus) {
            right = count == 6 && status_reply_valid(buffer.data(), count);
        } else if (code == cmd::kCounters) {
            right = count == 47 && buffer[1] == (cmd::kCounters | kReplyBit) && buffer[46] == 0xAA;
        } else if (code == cmd::kSerialNumber) {
            right = serial_reply_valid(buffer.data(), count);
        } else if (code == cmd::kBatteryProbe) {
            right = count == kBatteryProbeLength && battery_reply_valid(buffer.data(), count);
        } else {
            const int reply_length = find_reply(code)->length;
            right = count == reply_length && reply_valid(buffer.data(), count, code, reply_length);
        }
        if (!right) {
            ++wrong;
            ADD_FAILURE() << "transaction " << i << " (code " << int(code) << "): " << count
                          << " bytes";
        }
        if (wrong > 5) {
            break;
        }
    }
    EXPECT_FALSE(port.link_failed());
    EXPECT_EQ(wrong, 0);
    port.close();
}

// An RFC 2217 bridge written here: it agrees to the option and answers each
// setting, with no parity instead of even when told to refuse it, or drops
// the connection once the first request has come.
class FakeBridge {
  public:
    enum class Mode { RefuseParity, DropAfterRequest };
    explicit FakeBridge(Mode mode) : m_mode(mode) {
        m_thread = std::thread([this] { run(); });
    }
    ~FakeBridge() {
        m_stop = true;
        m_thread.join();
    }
    uint16_t port() const { return m_listener.port; }
    std::atomic<int> connections{0};

  private:
    void send(int fd, std::vector<uint8_t> bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void serve(int fd) {
        telnet::Decoder decoder;
        pollfd wait{fd, POLLIN, 0};
        while (!m_stop && ::poll(&wait, 1, 50) >= 0) {
            if (wait.revents == 0) {
                continue;
            }
            uint8_t in[256];
            const ssize_t n = ::recv(fd, in, sizeof in, 0);
            if (n <= 0) {
                return;
            }
            std::vector<uint8_t> data;
            std::vector<telnet::Negotiation> negotiations;
            std::vector<telnet::Subnegotiation> subs;
            decoder.feed(in, static_cast<size_t>(n), data, negotiations, subs);
            for (const telnet::Negotiation& asked : negotiations) {
                if (asked.verb == telnet::kWill && asked.option == telnet::kComPort) {
                    send(fd, {telnet::kIac, telnet::kDo, telnet::kComPort});
                }
            }
            for (telnet::Subnegotiation& sub : subs) {
                if (m_mode == Mode::RefuseParity && sub.data.size() == 2 &&
                    sub.data[0] == telnet::kSetParity) {
                    sub.data[1] = 1;  // none
                }
                sub.data[0] = static_cast<uint8_t>(sub.data[0] + telnet::kServerOffset);
                send(fd,
                     telnet::com_port_command(sub.data[0], {sub.data.begin() + 1, sub.data.end()}));
            }
            if (!data.empty() && m_mode == Mode::DropAfterRequest) {
                return;  // the bridge lost its power
            }
        }
    }
    void run() {
        while (!m_stop) {
            pollfd wait{m_listener.fd, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0) {
                continue;
            }
            const int fd = m_listener.accept_one();
            ++connections;
            serve(fd);
            ::close(fd);
        }
    }

    Mode m_mode;
    Listener m_listener;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(NetBridgeLine, ARefusedParityIsReportedAndThePortIsNotUsed) {
    FakeBridge fake(FakeBridge::Mode::RefuseParity);
    SerialPort port(make_serial_backend());
    const PortOpen opened = port.open_path(url("rfc2217", fake.port()));
    EXPECT_FALSE(opened.ok());
    EXPECT_FALSE(port.is_open());
    EXPECT_NE(opened.error_text.find("refuses even parity (it keeps no parity)"), std::string::npos)
        << opened.error_text;
    // Only the refused setting is named.
    EXPECT_EQ(opened.error_text.find("baud"), std::string::npos) << opened.error_text;

    // And zorvane-cli says so.
    const CliOutcome scan = run_cli({"scan", "--port", url("rfc2217", fake.port())});
    EXPECT_EQ(scan.status, 1);
    EXPECT_NE(scan.err.find("even parity"), std::string::npos) << scan.err;
}

TEST(NetBridgeLine, AMalformedAddressOrTimeOutIsRefusedBeforeAnythingIsSent) {
    const CliOutcome port = run_cli({"poll", "--port", "rfc2217://127.0.0.1:0"});
    EXPECT_EQ(port.status, 2);
    EXPECT_NE(port.err.find("from 1 to 65535"), std::string::npos) << port.err;
    const CliOutcome timeout =
        run_cli({"scan", "--net-timeout", "5", "--port", "tcp://127.0.0.1:1"});
    EXPECT_EQ(timeout.status, 2);
    EXPECT_NE(timeout.err.find("--net-timeout"), std::string::npos) << timeout.err;
}

TEST(NetBridgeLine, ALostConnectionIsALinkFailureAndTheNextOpenConnectsAgain) {
    FakeBridge fake(FakeBridge::Mode::DropAfterRequest);
    const std::string address = url("rfc2217", fake.port());
    SerialPort port(make_serial_backend());
    ASSERT_TRUE(port.open_path(address));
    std::array<uint8_t, kFrameBufferSize> buffer{};
    int count = transact(port, buffer, build_request(buffer, 0x41), 0);
    // The drop may be seen at the first request or at the next.
    if (!port.link_failed()) {
        count = transact(port, buffer, build_request(buffer, 0x41), 0);
    }
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(port.link_failed());
    port.close();

    ASSERT_TRUE(port.open_path(address));
    EXPECT_FALSE(port.link_failed());
    EXPECT_EQ(fake.connections.load(), 2);
    port.close();
}

}  // namespace
}  // namespace zorvane::testing
