// zorvane-cli scan: the device search the window runs at start, one line per
// device found, "COM<n>\t<caption>", in port order.
#include <cstdio>
#include <string>

#include "app/cli/cli_commands.h"
#include "link/discovery.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::cli {

std::string scan_listing_line(const FoundDevice& device) {
    // The serial number is whatever bytes the device sent; a tab or line
    // break in it must not split or merge the lines of the listing.
    std::string caption = device.caption;
    for (char& c : caption) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return "COM" + std::to_string(device.port) + "\t" + caption;
}

int cmd_scan(int argc, char**) {
    if (argc > 0) {
        std::fprintf(stderr, "usage: zorvane-cli scan\n");
        return 2;
    }
    const std::vector<FoundDevice> found = scan_devices(serial_port(), device_state);
    for (const FoundDevice& device : found) {
        std::printf("%s\n", scan_listing_line(device).c_str());
    }
    std::fflush(stdout);
    return found.empty() ? 1 : 0;
}

}  // namespace zorvane::cli
