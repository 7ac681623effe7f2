// Parts of the Windows serial backend that can be checked without a device.
#pragma once

#include <windows.h>

#include <string>

#include "link/port_list.h"

namespace zorvane {

// What a failed CreateFile of a COM port means for the user, with the
// system's own words for the error.
PortOpen open_failure(unsigned long error);

// Turns the line state a port reports into the tool's line: 57600 baud, 8
// data bits, even parity checked, one stop bit, raw bytes, no handshake.
void set_line_dcb(DCB& dcb);

// A UTF-8 path as the wide-character calls take it; empty when it is no
// UTF-8 text.
std::wstring wide_path(const std::string& utf8);
// The system's own words for an error, in UTF-8, without the final period.
std::string system_text(DWORD error);

}  // namespace zorvane
