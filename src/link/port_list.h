// The serial ports that exist on this machine, and whether each can be used.
//
// The listing is the platform's (port_list_posix.cpp here); what a port's open
// said is the backend's (PortBackend::open). Everything above speaks of ports
// only through these two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvane {

// Why a port can or cannot be used.
enum class PortAccess : uint8_t {
    Usable,        // it opened
    NoPermission,  // the account may not open it (not in the dialout group …)
    Busy,          // another program holds it
    Missing,       // nothing behind the name (unplugged, renumbered)
    OtherError,    // anything else; see the error text
};

// The outcome of one open: usable, or the reason with the system's error
// number and its own words for it.
struct PortOpen {
    PortAccess access = PortAccess::Usable;
    int error = 0;           // errno (GetLastError on Windows); 0 when usable
    std::string error_text;  // strerror of it, as the system says it

    static PortOpen usable() { return {}; }
    static PortOpen failed(PortAccess access, int error, std::string text) {
        return {access, error, std::move(text)};
    }
    bool ok() const { return access == PortAccess::Usable; }
    explicit operator bool() const { return ok(); }
};

// One port that exists.
struct PortInfo {
    int com = 0;        // COMn of the default table; 0 when it has none
    std::string path;   // what is opened: /dev/ttyUSB0, $ZORVANE_PORT_DIR/COM3
    std::string by_id;  // a name that survives renumbering
                        // (/dev/serial/by-id/usb-…), empty when there is none
    PortOpen access;    // Usable until checked
};

// The serial ports that exist, in COM order; ports without a COM number come
// last, in path order. With ZORVANE_PORT_DIR set: the COM1…COM255 entries of
// that directory, and nothing else.
std::vector<PortInfo> list_ports();

// Opens and closes each port once (with the platform's backend) and stores
// what the open said. Opening a serial port changes nothing on the line.
void check_access(std::vector<PortInfo>& ports);

// The port that `text` names: "COMn" (any case) through the port table, or a
// device path (a by-id link included), with its COM number when the path is
// one of the table's; a network bridge (tcp://HOST:PORT, rfc2217://HOST:PORT)
// is a path too. An empty path when the text names nothing.
PortInfo port_from_text(const std::string& text);

// COMn of a device path through the port table, following links; 0 when the
// path is no port of the table.
int com_port_of_path(const std::string& path);

// A COM number for any device path: the table's own, or, for a port outside
// the table, one above it (256 on) that stands for the path as long as the
// process runs, so that everything that keeps a device by its number
// (the polling, the setting writes) reaches it.
int com_port_for_path(const std::string& path);

// "COM34 (/dev/ttyUSB1)", or the path alone for a port outside the table.
std::string port_label(const PortInfo& port);

// "usable", "no permission", "busy", "missing", "error".
const char* access_name(PortAccess access);

}  // namespace zorvane
