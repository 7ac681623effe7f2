// Parts of the Windows serial backend that can be checked without a device.
#pragma once

#include <windows.h>

namespace zorvane {

// Turns the line state a port reports into the tool's line: 57600 baud, 8
// data bits, even parity checked, one stop bit, raw bytes, no handshake.
void set_line_dcb(DCB& dcb);

}  // namespace zorvane
