// zorvane-cli ports: the serial ports that exist, one line each:
// "COMn<TAB>path<TAB>by-id name or -<TAB>access", access being usable, no
// permission, busy, missing or "error: <the system's words>".
#include <cstdio>
#include <string>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_options.h"
#include "link/port_list.h"
#include "link/port_report.h"

namespace zorvane::cli {

std::string ports_listing_line(const PortInfo& port) {
    std::string line = port.com > 0 && port.com <= kLastComPort ? "COM" + std::to_string(port.com)
                                                                : std::string("-");
    line += "\t" + port.path + "\t" + (port.by_id.empty() ? std::string("-") : port.by_id) + "\t";
    line += access_name(port.access.access);
    if (port.access.access == PortAccess::OtherError) {
        line += ": " + port.access.error_text;
    }
    return line;
}

int cmd_ports(int argc, char**) {
    if (argc > 0) {
        std::fprintf(stderr, "usage: zorvane-cli ports [--port COMn|PATH]\n");
        return 2;
    }
    std::vector<PortInfo> ports;
    if (const auto& named = common_options().port) {
        PortInfo port = port_from_text(*named);
        if (port.path.empty()) {
            std::fprintf(stderr, "zorvane-cli: no port %s\n", named->c_str());
            return 2;
        }
        ports.push_back(std::move(port));
    } else {
        ports = list_ports();
    }
    check_access(ports);
    for (const PortInfo& port : ports) {
        std::printf("%s\n", ports_listing_line(port).c_str());
    }
    std::fflush(stdout);
    const std::string report = unusable_ports_report(ports, Language::English);
    if (!report.empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n", report.c_str());
    }
    if (ports.empty()) {
        std::fprintf(stderr, "zorvane-cli: no serial port was seen\n");
        return 1;
    }
    return 0;
}

}  // namespace zorvane::cli
