// COMn, the port number the whole tool works with, to a device path.
#include <cstdlib>
#include <string>

#include "link/serial_port.h"

namespace zorvane {

namespace {

// COM1 is the first device of the first row; each row holds 32 devices.
struct PortRange {
    int first_com;
    const char* device_prefix;
};
constexpr PortRange kDefaultPorts[] = {
    {1, "/dev/ttyS"},
    {33, "/dev/ttyUSB"},
    {65, "/dev/ttyACM"},
};
constexpr int kPortsPerRange = 32;

}  // namespace

std::string resolve_port_path(int com_port) {
    // A directory of links named COMn replaces the whole table, so that tests
    // and the simulated devices never reach the machine's own serial lines.
    if (const char* dir = std::getenv("ZORVANE_PORT_DIR")) {
        if (com_port < 1) {
            return {};
        }
        std::string path = dir;
        if (path.empty() || path.back() != '/') {
            path += '/';
        }
        return path + "COM" + std::to_string(com_port);
    }
    for (const PortRange& range : kDefaultPorts) {
        const int index = com_port - range.first_com;
        if (index >= 0 && index < kPortsPerRange) {
            return range.device_prefix + std::to_string(index);
        }
    }
    return {};
}

}  // namespace zorvane
