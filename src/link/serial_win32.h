// Parts of the Windows serial backend that can be checked without a device.
#pragma once

#include <windows.h>

#include "link/port_list.h"

namespace zorvane {

// What a failed CreateFile of a COM port means for the user, with the
// system's own words for the error.
PortOpen open_failure(unsigned long error);

// Turns the line state a port reports into the tool's line: 57600 baud, 8
// data bits, even parity checked, one stop bit, raw bytes, no handshake.
void set_line_dcb(DCB& dcb);

}  // namespace zorvane
