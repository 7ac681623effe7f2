// The serial ports of a Linux machine: the terminals of /sys/class/tty that
// have a device behind them, under their COM numbers, with the stable names
// of /dev/serial/by-id.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

#include "link/port_list.h"
#include "link/port_names.h"
#include "link/serial_port.h"

namespace zorvane {

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(d);
    return names;
}

std::string canonical(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string out = resolved;
    std::free(resolved);
    return out;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// A terminal of the class is a serial port when a device stands behind it
// (virtual consoles and pseudo-terminals have none). The legacy 8250 driver
// registers its ports whether or not a UART answers there; the kernel calls
// those of type 0 unknown, and they are left out.
bool is_serial_port(const std::string& sys_tty, const std::string& name) {
    const std::string dir = sys_tty + "/" + name;
    if (!exists(dir + "/device")) {
        return false;
    }
    std::ifstream type(dir + "/type");
    int uart = -1;
    if (type >> uart && uart == 0) {
        return false;
    }
    return true;
}

void sort_ports(std::vector<PortInfo>& ports) {
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        if ((a.com == 0) != (b.com == 0)) {
            return a.com != 0;
        }
        return a.com != b.com ? a.com < b.com : a.path < b.path;
    });
}

}  // namespace

std::vector<PortInfo> list_system_ports(const std::string& sys_tty, const std::string& dev) {
    // Stable names first, so each port can carry its own.
    std::map<std::string, std::string> by_id;
    const std::string by_id_dir = dev + "/serial/by-id";
    for (const std::string& name : entries(by_id_dir)) {
        const std::string link = by_id_dir + "/" + name;
        const std::string target = canonical(link);
        if (!target.empty()) {
            by_id.emplace(target, link);
        }
    }
    std::vector<PortInfo> ports;
    for (const std::string& name : entries(sys_tty)) {
        if (!is_serial_port(sys_tty, name)) {
            continue;
        }
        PortInfo port;
        port.path = dev + "/" + name;
        port.com = com_port_of_device_name(name);
        const std::string target = canonical(port.path);
        if (const auto it = by_id.find(target.empty() ? port.path : target); it != by_id.end()) {
            port.by_id = it->second;
        }
        ports.push_back(std::move(port));
    }
    sort_ports(ports);
    return ports;
}

std::vector<PortInfo> list_ports() {
    if (const char* dir = std::getenv("ZORVANE_PORT_DIR")) {
        std::vector<PortInfo> ports;
        for (const std::string& name : entries(dir)) {
            const int com = com_number_of_name(name);
            if (com >= kFirstListedCom && com <= kLastListedCom) {
                PortInfo port;
                port.com = com;
                port.path = resolve_port_path(com);
                ports.push_back(std::move(port));
            }
        }
        sort_ports(ports);
        return ports;
    }
    return list_system_ports("/sys/class/tty", "/dev");
}

int com_port_of_path(const std::string& path) {
    if (std::getenv("ZORVANE_PORT_DIR") != nullptr) {
        const size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        const int com = com_number_of_name(name);
        return com > 0 && resolve_port_path(com) == path ? com : 0;
    }
    const std::string target = canonical(path);
    const std::string& device = target.empty() ? path : target;
    if (!device.starts_with("/dev/")) {
        return 0;
    }
    return com_port_of_device_name(device.substr(5));
}

}  // namespace zorvane
