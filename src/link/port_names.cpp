// COMn, the port number the whole tool works with, to a device path.
#include <cstdlib>
#include <string>

#include "link/serial_port.h"

namespace zorvane {

namespace {

#ifdef _WIN32
// Windows names its serial ports itself; the device namespace reaches COM10
// and above, which the bare name "COM10" does not.
constexpr const char* kDevicePrefix = "\\\\.\\COM";
constexpr int kLastDevicePort = 255;
constexpr char kDirSeparator = '\\';
#else
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
constexpr char kDirSeparator = '/';
#endif

}  // namespace

std::string resolve_port_path(int com_port) {
    // A directory of links named COMn replaces the whole table, so that tests
    // and the simulated devices never reach the machine's own serial lines.
    if (const char* dir = std::getenv("ZORVANE_PORT_DIR")) {
        if (com_port < 1) {
            return {};
        }
        std::string path = dir;
        if (path.empty() || (path.back() != '/' && path.back() != kDirSeparator)) {
            path += kDirSeparator;
        }
        return path + "COM" + std::to_string(com_port);
    }
#ifdef _WIN32
    if (com_port >= 1 && com_port <= kLastDevicePort) {
        return kDevicePrefix + std::to_string(com_port);
    }
#else
    for (const PortRange& range : kDefaultPorts) {
        const int index = com_port - range.first_com;
        if (index >= 0 && index < kPortsPerRange) {
            return range.device_prefix + std::to_string(index);
        }
    }
#endif
    return {};
}

}  // namespace zorvane
