// The real serial backend on a pseudo-terminal: line settings, the read
// time-outs (as byte counts, never as durations), and the link failure when
// the other end goes away. Port names last.
#include "link/serial_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/serial_port.h"
#include "scoped_env.h"
#include "state/device_state.h"

namespace zorvane {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

using testing::ScopedEnv;

Bytes all_byte_values() {
    Bytes bytes(256);
    for (int i = 0; i < 256; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
    return bytes;
}

class PtyLink : public ::testing::Test {
  protected:
    void SetUp() override {
        std::array<char, 128> name{};
        ASSERT_EQ(::openpty(&m_master, &m_slave, name.data(), nullptr, nullptr), 0);
        m_slave_path = name.data();
        ASSERT_TRUE(backend->open(m_slave_path));
        backend->apply_line_settings();
    }
    void TearDown() override {
        backend->close();
        close_master();
        if (m_slave >= 0) {
            ::close(m_slave);
        }
    }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Whatever the device side receives within `wait`, up to `max` bytes.
    Bytes receive(size_t max, std::chrono::milliseconds wait = 1000ms) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (got.size() < max && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, 10) <= 0) {
                continue;
            }
            uint8_t chunk[512];
            const ssize_t n = ::read(m_master, chunk, std::min(sizeof chunk, max - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }
    int read_into(Bytes& out, size_t n) {
        out.assign(n, 0);
        const int count = backend->read(out.data(), n);
        out.resize(count > 0 ? static_cast<size_t>(count) : 0);
        return count;
    }
    void close_master() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    std::unique_ptr<PortBackend> backend = make_posix_backend();
    int m_master = -1;
    int m_slave = -1;  // kept open to look at the terminal's settings
    std::string m_slave_path;
};

// A pseudo-terminal keeps no parity setting: what it cannot show is checked
// on the settings themselves, starting from a port left with every option on.
TEST(LineSettings, ParityStopBitsAndHandshakeThatAPseudoTerminalDrops) {
    termios tio{};
    tio.c_iflag = tio.c_oflag = tio.c_cflag = tio.c_lflag = ~tcflag_t{0};
    set_line_termios(tio);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS),
              static_cast<tcflag_t>(CS8 | PARENB))
        << "8 data bits, even parity, one stop bit, no RTS/CTS";
    EXPECT_EQ(tio.c_iflag & (INPCK | IGNPAR | PARMRK), static_cast<tcflag_t>(INPCK))
        << "parity checked; a bad byte is neither dropped nor marked";
}

TEST_F(PtyLink, LineIsRawBothWaysAndExclusiveWhileOpen) {
    termios tio{};
    ASSERT_EQ(::tcgetattr(m_slave, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B57600));

    // Every byte value crosses unchanged: no CR/NL translation, no 7-bit
    // stripping, no XON/XOFF swallowed, no parity marks added.
    const Bytes values = all_byte_values();
    send(values);
    Bytes got;
    EXPECT_EQ(read_into(got, 256), 256);
    EXPECT_EQ(got, values);

    ASSERT_TRUE(backend->write(values.data(), values.size()));
    EXPECT_EQ(receive(256), values);
    // Nothing echoed back to the device.
    EXPECT_TRUE(receive(1, 50ms).empty());

    // The line is ours alone while open, and free again once closed.
    int exclusive = 0;
    ASSERT_EQ(::ioctl(m_slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    backend->close();
    EXPECT_FALSE(backend->is_open());
    ASSERT_EQ(::ioctl(m_slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(backend->open(m_slave_path)) << "reopened for the next pass";
}

TEST_F(PtyLink, ReadEndsAtItsCountOrAfterTheLineFallsSilent) {
    Bytes got;
    EXPECT_EQ(read_into(got, 5), 0) << "a silent device is a time-out, not a failure";

    send(Bytes(12, 0x42));
    EXPECT_EQ(read_into(got, 5), 5) << "stops at the count asked";
    EXPECT_EQ(read_into(got, 100), 7) << "the rest waited in the driver";

    send({0xBE, 0xC5, 0x01});
    EXPECT_EQ(read_into(got, 100), 3) << "ends once the line is quiet";

    // A read waits for a device that answers late rather than giving up at
    // once.
    std::thread late([this] {
        std::this_thread::sleep_for(20ms);
        send(Bytes(100, 0x33));
    });
    EXPECT_EQ(read_into(got, 100), 100);
    late.join();

    // A pause inside a reply ends the read: the second burst is held back
    // until the first read has returned (or far longer than the 5 ms gap), so
    // a read that ignored the gap would gather both.
    std::atomic<bool> first_read_done{false};
    std::thread bursts([&] {
        send(Bytes(8, 0x11));
        const auto give_up = std::chrono::steady_clock::now() + 300ms;
        while (!first_read_done.load() && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(1ms);
        }
        send(Bytes(5, 0x22));
    });
    EXPECT_EQ(read_into(got, 100), 8);
    first_read_done.store(true);
    EXPECT_EQ(read_into(got, 100), 5);
    bursts.join();
}

TEST_F(PtyLink, AHangUpIsALinkFailure) {
    backend->close();
    SerialPort port(make_posix_backend());
    ASSERT_TRUE(port.backend().open(m_slave_path));
    port.apply_line_settings();

    // The device goes away while the reply is awaited: the handler hears of
    // it and the caller gets 0.
    std::vector<bool> quits;
    set_link_failure_handler([&](bool quit) { quits.push_back(quit); });
    std::array<uint8_t, kFrameBufferSize> buffer{};
    const int length = build_request(buffer, 0x41);
    std::thread pull([this] {
        receive(3);
        close_master();
    });
    EXPECT_EQ(transact(port, buffer, length, 11), 0);
    pull.join();
    set_link_failure_handler(nullptr);
    EXPECT_EQ(quits, std::vector<bool>{false});

    // Everything after fails at once, and the port stays open until closed.
    uint8_t byte = 0;
    EXPECT_EQ(port.backend().read(&byte, 1), -1);
    EXPECT_FALSE(port.backend().write(buffer.data(), 3));
    EXPECT_TRUE(port.is_open());
    port.close();
    EXPECT_FALSE(port.is_open());
}

TEST(PortNames, DefaultTableAndThePortDirectory) {
    {
        ScopedEnv env("ZORVANE_PORT_DIR", nullptr);
        const std::pair<int, const char*> table[] = {
            {1, "/dev/ttyS0"},
            {32, "/dev/ttyS31"},
            {33, "/dev/ttyUSB0"},
            {64, "/dev/ttyUSB31"},
            {65, "/dev/ttyACM0"},
            {96, "/dev/ttyACM31"},
            {97, ""},
            {0, ""},
        };
        for (const auto& [com, path] : table) {
            EXPECT_EQ(resolve_port_path(com), path) << "COM" << com;
        }
    }
    ScopedEnv env("ZORVANE_PORT_DIR", "/tmp/ports/");
    EXPECT_EQ(resolve_port_path(255), "/tmp/ports/COM255") << "the folder replaces the table";
    ::setenv("ZORVANE_PORT_DIR", "/tmp/ports", 1);
    EXPECT_EQ(resolve_port_path(3), "/tmp/ports/COM3");

    // Only a terminal is a port: a plain file would read as endless end-of-file.
    auto backend = make_posix_backend();
    EXPECT_FALSE(backend->open(resolve_port_path(3)));
    const std::string file = ::testing::TempDir() + "zorvane-not-a-port";
    if (std::FILE* f = std::fopen(file.c_str(), "w")) {
        std::fclose(f);
    }
    EXPECT_FALSE(backend->open(file));
    std::remove(file.c_str());
    uint8_t byte = 0;
    EXPECT_EQ(backend->read(&byte, 1), -1);
    EXPECT_FALSE(backend->write(&byte, 1));
}

}  // namespace
}  // namespace zorvane
