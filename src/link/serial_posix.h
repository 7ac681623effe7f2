// Parts of the POSIX serial backend that can be checked without a device.
#pragma once

#include <termios.h>

namespace zorvane {

// Turns the terminal settings a port reports into the tool's line: 57600
// baud, 8 data bits, even parity checked, one stop bit, raw bytes, no
// handshake, no driver-side read timer.
void set_line_termios(termios& tio);

}  // namespace zorvane
