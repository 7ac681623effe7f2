// COMn, the port number the whole tool works with, to a device path and back.
#include "link/port_names.h"

#include <charconv>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

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

// A decimal number without sign or leading zero, or -1.
int plain_number(std::string_view digits) {
    if (digits.empty() || (digits.size() > 1 && digits[0] == '0') || digits.size() > 6) {
        return -1;
    }
    int n = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return error == std::errc{} && end == digits.data() + digits.size() ? n : -1;
}

// Ports outside the table, numbered from kLastListedCom + 1 in the order
// they were named.
std::mutex g_extra_mutex;
std::vector<std::string> g_extra_ports;

std::string extra_port_path(int com_port) {
    std::lock_guard lock(g_extra_mutex);
    const int index = com_port - kLastListedCom - 1;
    return index >= 0 && index < static_cast<int>(g_extra_ports.size()) ? g_extra_ports[index]
                                                                        : std::string();
}

}  // namespace

int com_port_for_path(const std::string& path) {
    if (const int com = com_port_of_path(path); com > 0) {
        return com;
    }
    std::lock_guard lock(g_extra_mutex);
    for (size_t i = 0; i < g_extra_ports.size(); ++i) {
        if (g_extra_ports[i] == path) {
            return kLastListedCom + 1 + static_cast<int>(i);
        }
    }
    g_extra_ports.push_back(path);
    return kLastListedCom + static_cast<int>(g_extra_ports.size());
}

std::string resolve_port_path(int com_port) {
    if (com_port > kLastListedCom) {
        return extra_port_path(com_port);
    }
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

int com_number_of_name(std::string_view name) {
    if (name.size() < 4) {
        return 0;
    }
    const std::string_view head = name.substr(0, 3);
    for (size_t i = 0; i < 3; ++i) {
        if ((head[i] & ~0x20) != "COM"[i]) {
            return 0;
        }
    }
    const int n = plain_number(name.substr(3));
    return n > 0 ? n : 0;
}

int com_number_typed(std::string_view name) {
    // Leading zeros are a way of typing the number, not another port.
    size_t zeros = 3;
    while (zeros + 1 < name.size() && name[zeros] == '0') ++zeros;
    if (name.size() < 4 || zeros == 3)
        return com_number_of_name(name);
    return com_number_of_name(std::string(name.substr(0, 3)) + std::string(name.substr(zeros)));
}

int com_port_of_device_name(std::string_view name) {
#ifdef _WIN32
    // The system's own name is the COM name.
    const int com = com_number_of_name(name);
    return com <= kLastDevicePort ? com : 0;
#else
    for (const PortRange& range : kDefaultPorts) {
        const std::string_view prefix = std::string_view(range.device_prefix).substr(5);  // "/dev/"
        if (!name.starts_with(prefix)) {
            continue;
        }
        const int index = plain_number(name.substr(prefix.size()));
        if (index >= 0 && index < kPortsPerRange) {
            return range.first_com + index;
        }
    }
    return 0;
#endif
}

}  // namespace zorvane
