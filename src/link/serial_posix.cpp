// The serial port on a POSIX terminal device (termios + poll).
//
// The tool's reads and writes were designed around the time-outs of a Windows
// serial port; the protocol relies on them (a reply ends 5 ms after its last
// byte, a silent device costs 50 + 5·n ms). The descriptor is non-blocking and
// every wait is a poll() against those deadlines, so that the emulation does
// not depend on VMIN/VTIME, whose timer only starts with the first byte.
#include "link/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "link/serial_port.h"

namespace zorvane {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The line time-outs, in milliseconds.
constexpr int kReadIntervalMs = 5;
constexpr int kReadTotalPerByteMs = 5;
constexpr int kReadTotalConstantMs = 50;
constexpr int kWriteTotalPerByteMs = 5;
constexpr int kWriteTotalConstantMs = 5;

PortOpen open_error(int error) {
    PortAccess access = PortAccess::OtherError;
    switch (error) {
        case EACCES:
        case EPERM:
            access = PortAccess::NoPermission;
            break;
        case EBUSY:  // a terminal another program took with TIOCEXCL
            access = PortAccess::Busy;
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:  // a node whose adapter has gone
            access = PortAccess::Missing;
            break;
        default:
            break;
    }
    return PortOpen::failed(access, error, std::strerror(error));
}

class PosixBackend final : public PortBackend {
  public:
    ~PosixBackend() override { close(); }

    PortOpen open(const std::string& path) override {
        close();
        // Non-blocking, so that a line without carrier does not hold the
        // open; the waits of read and write are done with poll().
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return open_error(errno);
        }
        // Only a terminal is a serial port: a plain file would read as an
        // endless end-of-file.
        if (!::isatty(fd)) {
            ::close(fd);
            return PortOpen::failed(PortAccess::OtherError, ENOTTY, std::strerror(ENOTTY));
        }
        // An exclusive terminal lets root in all the same, so the lock is
        // taken too: another of our processes (and any program that locks
        // its line) then sees the port as busy, whoever runs it.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return open_error(error == EWOULDBLOCK ? EBUSY : error);
        }
        // Nobody else may open the line while we talk on it (root excepted).
        ::ioctl(fd, TIOCEXCL);
        m_fd = fd;
        return PortOpen::usable();
    }

    void close() override {
        if (m_fd < 0) {
            return;
        }
        // Exclusive use belongs to the terminal, not to the descriptor: on a
        // pseudo-terminal it would outlive us and lock out the next open.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }

    bool is_open() const override { return m_fd >= 0; }

    void apply_line_settings() override {
        if (m_fd < 0) {
            return;
        }
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0) {
            return;  // a port that refuses its settings is used as it is
        }
        set_line_termios(tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
        // A freshly opened port starts with nothing pending from earlier use.
        ::tcflush(m_fd, TCIFLUSH);
    }

    bool write(const uint8_t* data, size_t size) override {
        if (m_fd < 0) {
            return false;
        }
        const auto deadline =
            Clock::now() +
            milliseconds(kWriteTotalConstantMs + kWriteTotalPerByteMs * static_cast<long>(size));
        return write_all_before(m_fd, data, size, deadline, false);
    }

    int read(uint8_t* data, size_t size) override {
        if (m_fd < 0) {
            return -1;
        }
        if (size == 0) {
            return 0;
        }
        const auto start = Clock::now();
        const auto total_deadline =
            start +
            milliseconds(kReadTotalConstantMs + kReadTotalPerByteMs * static_cast<long>(size));
        size_t got = 0;
        Clock::time_point deadline = total_deadline;
        for (;;) {
            pollfd pfd{m_fd, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, poll_timeout(deadline));
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return -1;
            }
            if (ready == 0) {
                // poll() may wake a little early; only a passed deadline ends
                // the read.
                if (Clock::now() < deadline) {
                    continue;
                }
                return static_cast<int>(got);  // a time-out is no error
            }
            if (!(pfd.revents & POLLIN)) {
                return -1;  // POLLHUP/POLLERR/POLLNVAL with nothing to read
            }
            const ssize_t n = ::read(m_fd, data + got, size - got);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                    continue;
                }
                return -1;
            }
            if (n == 0) {
                // Readable yet nothing to read: end of file, the terminal has
                // been hung up.
                return -1;
            }
            got += static_cast<size_t>(n);
            if (got == size) {
                return static_cast<int>(got);
            }
            // From now on the read also ends 5 ms after the latest byte.
            const auto interval_deadline = Clock::now() + milliseconds(kReadIntervalMs);
            deadline = std::min(interval_deadline, total_deadline);
        }
    }

  private:
    int m_fd = -1;
};

}  // namespace

int poll_timeout(std::chrono::steady_clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<milliseconds>(left).count();
    return static_cast<int>(ms);
}

bool write_all_before(int fd, const uint8_t* data, size_t size,
                      std::chrono::steady_clock::time_point deadline, bool socket) {
    size_t done = 0;
    while (done < size) {
        // A socket whose peer has gone must fail the write, not raise SIGPIPE.
        const ssize_t n = socket ? ::send(fd, data + done, size - done, MSG_NOSIGNAL)
                                 : ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;  // EIO after a hang-up, an unplugged adapter, a reset …
        }
        // The output queue is full: wait for room until the deadline.
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, poll_timeout(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            return false;  // time-out or the line has gone: not complete
        }
    }
    return true;
}

void set_line_termios(termios& tio) {
    // Raw bytes both ways: the frames are binary, so no byte may be
    // translated (CR/NL), stripped to 7 bits, echoed or taken as a
    // flow-control or signal character.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | IGNPAR);
    tio.c_iflag |= INPCK;  // parity is checked
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // 8 data bits, even parity, one stop bit. The link has no handshake
    // lines: a stale RTS/CTS setting would stall every write.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);  // mark/space parity is not even parity
#endif
    tio.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
    // Every wait is done with poll(); a read never blocks in the driver.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B57600);
    ::cfsetospeed(&tio, B57600);
}

std::unique_ptr<PortBackend> make_posix_backend() {
    return std::make_unique<PosixBackend>();
}

std::unique_ptr<PortBackend> make_local_backend() {
    return make_posix_backend();
}

}  // namespace zorvane
