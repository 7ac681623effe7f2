// zorvane-cli scan: the device search the window runs at start, one line per
// device found, "COM<n>\t<caption>", in port order.
#include <cstdio>

#include "app/cli/cli_commands.h"
#include "device/device_state.h"
#include "link/discovery.h"
#include "link/serial_port.h"

namespace zorvane::cli {

int cmd_scan(int argc, char**) {
    if (argc > 0) {
        std::fprintf(stderr, "usage: zorvane-cli scan\n");
        return 2;
    }
    const std::vector<FoundDevice> found = scan_devices(serial_port(), device_state);
    for (const FoundDevice& device : found) {
        std::printf("COM%d\t%s\n", device.port, device.caption.c_str());
    }
    std::fflush(stdout);
    return found.empty() ? 1 : 0;
}

}  // namespace zorvane::cli
