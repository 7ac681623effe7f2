// The serial port object, its line settings and the one request/reply
// transaction through which every byte goes to and from a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "link/port_list.h"

namespace zorvane {

// What the platform gives us: a byte stream with the line time-outs of the
// tool (a read of up to n bytes ends when n bytes have arrived, 5 ms after the
// latest byte once one has arrived, or 50 + 5·n ms after it began).
class PortBackend {
  public:
    virtual ~PortBackend() = default;
    // Opens the port for reading and writing, exclusively; when it cannot,
    // says why (no permission, held by another program, missing, other).
    virtual PortOpen open(const std::string& path) = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // 57600 baud, 8 data bits, even parity checked, 1 stop bit, raw; the
    // read and write time-outs. A setting the port refuses is not an error.
    virtual void apply_line_settings() = 0;
    // Writes all bytes; false when the write fails or does not complete.
    virtual bool write(const uint8_t* data, size_t size) = 0;
    // One read with the time-outs above: the byte count (0 on a time-out), or
    // -1 when the port reports an error (unplugged adapter, hang-up).
    virtual int read(uint8_t* data, size_t size) = 0;
    // Drops what has arrived and not been read, without waiting. Only a
    // network bridge needs it before a request (a late reply of an earlier
    // one may be waiting there); a local line keeps its reads as they are.
    virtual void discard_input() {}
};

std::unique_ptr<PortBackend> make_posix_backend();  // POSIX systems only
// The serial line of the platform the tool runs on (termios, or the Win32 COM
// API); nothing above this layer knows which.
std::unique_ptr<PortBackend> make_local_backend();
// A serial line behind a network bridge (link/net_port.h): the path is
// tcp://HOST:PORT or rfc2217://HOST:PORT.
std::unique_ptr<PortBackend> make_network_backend();
// The backend every port is opened with: the local line, or the network
// bridge when the path names one.
std::unique_ptr<PortBackend> make_serial_backend();
using BackendFactory = std::function<std::unique_ptr<PortBackend>()>;

// COMn to a device path: $ZORVANE_PORT_DIR/COMn when that variable is set,
// otherwise the default table (COM1-32 ttyS0-31, COM33-64 ttyUSB0-31,
// COM65-96 ttyACM0-31); empty when COMn has no device.
std::string resolve_port_path(int com_port);

class SerialPort {
  public:
    explicit SerialPort(std::unique_ptr<PortBackend> backend = make_serial_backend());

    // Formats the path from the port number, opens it for reading and
    // writing and applies the line settings. A failure leaves the port
    // closed and says why (COMn without a device is Missing).
    PortOpen open(int com_port);
    // The same for a device path (a by-id link, a port outside the table).
    PortOpen open_path(const std::string& path);
    void close();  // closing a closed port does nothing
    bool is_open() const;
    void apply_line_settings();

    const std::string& path() const { return m_path; }
    // Whether a transaction has met a link failure since the port was last
    // opened: what the worker and a session look at after a pass, whatever
    // the process's link-failure handler does.
    bool link_failed() const { return m_link_failed; }
    void mark_link_failed() { m_link_failed = true; }
    PortBackend& backend() { return *m_backend; }

  private:
    std::string m_path;
    std::unique_ptr<PortBackend> m_backend;
    bool m_link_failed = false;
};

// The one port object of the process.
SerialPort& serial_port();

// Write `write_length` bytes of `buffer`, then read the reply into `buffer`
// from its first byte. Expected length 0: one read. Otherwise reads until the
// total equals the expected length, at most 10 reads, each limited to the room
// left in the buffer (and to 100 bytes). Returns the byte count; -1 when the
// port is not open (no I/O); 0 after a link failure.
// `keep_reading`, when given, is asked after each read of that loop with the
// total so far; false ends the loop there (a caller that has given up on a
// device gone quiet).
// On a network port (net_port.h) the reads of either length end instead when
// the reply the request asks for is whole, or once the network time-out has
// passed; bytes left over from an earlier request are dropped first.
int transact(SerialPort& port, std::span<uint8_t> buffer, int write_length, int expected_length,
             const std::function<bool(size_t total)>& keep_reading = {});

// The same reads, ending instead after the read at which `complete` says the
// bytes so far (from the buffer's start) are a whole reply; at most 10 reads.
using ReplyComplete = bool (*)(const uint8_t* reply, int count);
int transact_until(SerialPort& port, std::span<uint8_t> buffer, int write_length,
                   ReplyComplete complete);

// Link failure: the core shows nothing itself. The handler gets whether a quit
// is requested (false while g_main_thread_id is 0, during the device search).
inline constexpr const char* kLinkLostCaption = "Ошибка";
inline constexpr const char* kLinkLostText =
    "Потеряна связь с устройством. Проверьте соединительный кабель, перезапустите программу";
using LinkFailureHandler = std::function<void(bool quit_requested)>;
void set_link_failure_handler(LinkFailureHandler handler);

}  // namespace zorvane
