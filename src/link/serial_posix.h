// Parts of the POSIX serial backend that can be checked without a device, and
// the waits it shares with the network backend.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace zorvane {

// Turns the terminal settings a port reports into the tool's line: 57600
// baud, 8 data bits, even parity checked, one stop bit, raw bytes, no
// handshake, no driver-side read timer.
void set_line_termios(termios& tio);

// Milliseconds left until `deadline` for poll(), rounded up so that a wait
// never ends before its deadline; 0 once it has passed.
int poll_timeout(std::chrono::steady_clock::time_point deadline);

// Writes all bytes to a non-blocking descriptor (a terminal, or a socket),
// waiting for room until `deadline`; false when the write fails or does not
// complete in time.
bool write_all_before(int fd, const uint8_t* data, size_t size,
                      std::chrono::steady_clock::time_point deadline, bool socket);

}  // namespace zorvane
