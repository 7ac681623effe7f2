// zorvane-cli scan: the device search the window runs at start (or the probe
// of the --port), one line per device found, "COM<n>\t<caption>", in port
// order.
#include <cstdio>
#include <string>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/cli_options.h"
#include "link/discovery.h"
#include "link/file_access.h"
#include "link/port_report.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::cli {

std::string scan_listing_line(const FoundDevice& device) {
    // The serial number is whatever bytes the device sent; a tab or line
    // break in it must not split or merge the lines of the listing, nor an
    // escape sequence reach the terminal.
    const std::string caption = printable(device.caption);
    // A port outside the table is named by its path.
    const std::string port = device.port > 0 && device.port <= kLastComPort
                                 ? "COM" + std::to_string(device.port)
                                 : device.path;
    return port + "\t" + caption;
}

int cmd_scan(int argc, char**) {
    if (argc > 0) {
        std::fprintf(stderr, "usage: zorvane-cli scan [--port COMn|PATH] [--serial S/N]\n");
        return 2;
    }
    std::vector<FoundDevice> found;
    if (common_options().port || common_options().serial) {
        if (auto device = find_polled_device()) {
            found.push_back(std::move(*device));
        }
    } else {
        SearchResult result = search_devices(device_state);
        tell_search(result);
        found = std::move(result.found);
    }
    for (const FoundDevice& device : found) {
        std::printf("%s\n", scan_listing_line(device).c_str());
    }
    std::fflush(stdout);
    return found.empty() ? no_device_status() : 0;
}

}  // namespace zorvane::cli
