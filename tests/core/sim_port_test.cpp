// The simulated device on a pseudo-terminal, seen from the tool's side of the
// terminal: bytes pass unchanged, faults arrive as a real line would deliver
// them, and the device goes away cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "sim/port_directory.h"

namespace zorvane::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The tool's end of the line, kept minimal: raw terminal, and a read that
// ends `idle` after the latest byte (or `first` after it began), like the
// serial reads of the tool.
class Terminal {
  public:
    explicit Terminal(const std::filesystem::path& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Terminal() { close(); }
    void close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    bool ok() const { return m_fd >= 0; }

    bool send(const Bytes& bytes) {
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // The bytes of one read; sets `failed` when the terminal reports an error.
    Bytes read(std::chrono::milliseconds idle = 20ms, std::chrono::milliseconds first = 600ms,
               bool* failed = nullptr) {
        Bytes out;
        auto deadline = std::chrono::steady_clock::now() + first;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return out;
            }
            uint8_t buf[256];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n < 0 && errno == EAGAIN) {
                continue;
            }
            if (n <= 0) {
                // A terminal whose other side has gone reads as end of file
                // (or EIO): the line is lost.
                if (failed != nullptr) {
                    *failed = true;
                }
                return out;
            }
            out.insert(out.end(), buf, buf + n);
            deadline = std::chrono::steady_clock::now() + idle;
        }
    }
    Bytes ask(const Bytes& request) {
        send(request);
        return read();
    }

  private:
    int m_fd;
};

Bytes read_request(uint8_t code) {
    return {0xBE, code, 0xAA};
}

TEST(SimPort, BytesCrossTheTerminalUnchanged) {
    for (bool pace : {false, true}) {
        SCOPED_TRACE(pace ? "paced" : "at once");
        PortDirectory dir;
        SimulatedPort* port =
            dir.add(3, DeviceConfig{.model = DeviceModel::QM48, .serial = "12345", .battery = {}},
                    PortOptions{.pace = pace});
        ASSERT_NE(port, nullptr);
        ASSERT_TRUE(std::filesystem::is_symlink(dir.path() / "COM3"));
        EXPECT_EQ(std::filesystem::read_symlink(dir.path() / "COM3"), port->terminal_path());

        Terminal tool(dir.path() / "COM3");
        ASSERT_TRUE(tool.ok());
        // The wake-up zeros get no answer.
        tool.send(Bytes(13, 0));
        EXPECT_TRUE(tool.read(20ms, 100ms).empty());
        EXPECT_EQ(tool.ask(read_request(0x45)), (Bytes{0xBE, 0xC5, 0x02, 0x10, 0xAA}));
        EXPECT_EQ(tool.ask(read_request(0x4A)).size(), 6u);
        // Bytes a cooked terminal would eat or change: CR LF, XON/XOFF, ^C, ^D.
        for (const Bytes& value : {Bytes{0x0D, 0x0A}, Bytes{0x11, 0x13}, Bytes{0x03, 0x04}}) {
            EXPECT_EQ(tool.ask(Bytes{0xBE, 0x75, value[0], value[1], 0xAA}),
                      (Bytes{0xBE, 0xF5, value[0], value[1], 0xAA}));
            EXPECT_EQ(tool.ask(read_request(0x76)), (Bytes{0xBE, 0xF6, value[0], value[1], 0xAA}));
        }
        // Everything the tool sent is on record, frame by frame; the zeros
        // were received but are no frame.
        const auto frames = port->received();
        ASSERT_EQ(frames.size(), 8u);
        EXPECT_EQ(frames[0], read_request(0x45));
        EXPECT_EQ(frames[2], (Bytes{0xBE, 0x75, 0x0D, 0x0A, 0xAA}));
        EXPECT_EQ(port->received_bytes(), 13u + 3 + 3 + 3 * (5 + 3));
        EXPECT_EQ(port->with_device([](SimDevice& d) { return d.value(0x76); }), 0x0304);
    }
}

TEST(SimPort, FaultsArriveAsTheLineDeliversThem) {
    PortDirectory dir;
    SimulatedPort* port = dir.add(5, DeviceConfig{}, PortOptions{.pace = true});
    ASSERT_NE(port, nullptr);
    Terminal tool(dir.path() / "COM5");
    ASSERT_TRUE(tool.ok());

    // Two bursts with a pause far longer than the reader's 5 ms: two reads.
    port->inject(fault::split(0x56, 8, Micros{60000}, 1));
    tool.send(read_request(0x56));
    const Bytes first = tool.read(15ms);
    const Bytes second = tool.read(15ms);
    ASSERT_EQ(first.size(), 8u);
    ASSERT_EQ(second.size(), 5u);
    EXPECT_EQ(first[0], 0xBE);
    EXPECT_EQ(second[4], 0xAA);

    // A late reply misses its read and comes in front of the next reply.
    port->inject(fault::late(0x41, Micros{300000}));
    EXPECT_TRUE(tool.send(read_request(0x41)));
    EXPECT_TRUE(tool.read(20ms, 100ms).empty());
    tool.send(read_request(0x40));
    const Bytes both = tool.read(20ms, 600ms);
    ASSERT_EQ(both.size(), 11u + 5u);
    EXPECT_EQ(both[1], 0xC1);
    EXPECT_EQ(both[12], 0xC0);

    // Extra bytes follow the reply; the silent device answers nothing.
    port->inject(fault::extra_bytes(0x4E, {0x00, 0xFF}, 1));
    EXPECT_EQ(tool.ask(read_request(0x4E)).size(), 7u);
    port->inject(fault::silence(0x4E, 1));
    EXPECT_TRUE(tool.ask(read_request(0x4E)).empty());
    EXPECT_EQ(tool.ask(read_request(0x4E)).size(), 5u);
}

TEST(SimPort, WhatTheDeviceSaysToAClosedPortIsLost) {
    PortDirectory dir;
    SimulatedPort* port = dir.add(2, DeviceConfig{});
    ASSERT_NE(port, nullptr);
    {
        Terminal tool(dir.path() / "COM2");
        port->inject(fault::late(0x41, Micros{100000}));
        tool.send(read_request(0x41));
        // Hand the request over before closing, as a real write would.
        while (port->received().empty()) {
            std::this_thread::sleep_for(1ms);
        }
    }
    std::this_thread::sleep_for(200ms);  // the late reply would have gone out by now
    Terminal again(dir.path() / "COM2");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.ask(read_request(0x40)), (Bytes{0xBE, 0xC0, 0x00, 0xF0, 0xAA}));
}

TEST(SimPort, HangUpFailsTheToolsNextReadAndWrite) {
    PortDirectory dir;
    SimulatedPort* on_demand = dir.add(1, DeviceConfig{});
    SimulatedPort* on_request = dir.add(2, DeviceConfig{});
    ASSERT_NE(on_demand, nullptr);
    ASSERT_NE(on_request, nullptr);

    Terminal first(dir.path() / "COM1");
    EXPECT_EQ(first.ask(read_request(0x40)).size(), 5u);
    on_demand->hang_up();
    bool failed = false;
    first.send(read_request(0x40));
    EXPECT_TRUE(first.read(20ms, 100ms, &failed).empty());
    EXPECT_TRUE(failed);
    EXPECT_FALSE(first.send(read_request(0x40)));
    on_demand->hang_up();  // twice is harmless

    // The cable pulled in the middle of a pass: the status request is the last.
    on_request->inject(fault::hang_up(0x4A));
    Terminal second(dir.path() / "COM2");
    EXPECT_EQ(second.ask(read_request(0x41)).size(), 11u);
    failed = false;
    second.send(read_request(0x4A));
    EXPECT_TRUE(second.read(20ms, 600ms, &failed).empty());
    EXPECT_TRUE(failed);
}

int open_descriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

TEST(SimPort, StopsCleanlyInTheMiddleOfAReply) {
    const int before = open_descriptors();
    std::filesystem::path path;
    {
        PortDirectory dir;
        path = dir.path();
        for (int n = 1; n <= 4; ++n) {
            ASSERT_NE(dir.add(n, DeviceConfig{}, PortOptions{.pace = true}), nullptr);
        }
        dir.port(4)->inject(fault::late({}, Micros{5'000'000}));
        Terminal tool(path / "COM1");
        Terminal waiting(path / "COM4");
        tool.send(Bytes(40, 0xBE));        // noise
        tool.send(read_request(0x53));     // a long paced reply under way
        waiting.send(read_request(0x53));  // a reply held back for seconds
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(open_descriptors(), before);

    // A directory we were given stays, without our links.
    const auto given = std::filesystem::temp_directory_path() / "zorvane-sim-test-given";
    std::filesystem::create_directories(given);
    {
        PortDirectory dir(given);
        ASSERT_NE(dir.add(7, DeviceConfig{}), nullptr);
        EXPECT_EQ(dir.add(7, DeviceConfig{}), nullptr);  // COM7 is taken
        EXPECT_TRUE(std::filesystem::is_symlink(given / "COM7"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(given));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(given / "COM7")));
    std::filesystem::remove_all(given);
}

}  // namespace
}  // namespace zorvane::sim
