#include "app/cli/cli_device.h"

#include <cstdio>

#include "app/cli/cli_link.h"
#include "device/poll_cycle.h"
#include "link/discovery.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::cli {

namespace {
FoundDevice g_polled;
}

const FoundDevice& polled_device() {
    return g_polled;
}

bool search_polled_device() {
    const std::vector<FoundDevice> found = scan_devices(serial_port(), device_state);
    if (found.empty()) {
        std::fprintf(stderr, "zorvane-cli: no device found\n");
        return false;
    }
    for (const FoundDevice& device : found) {
        if (device.port == device_state.g_com_port.load()) {
            g_polled = device;
            std::fprintf(stderr, "zorvane-cli: device on COM%d: %s\n", device.port,
                         device.caption.c_str());
        }
    }
    // From here on a lost link ends the command, as it ends the window once
    // its search is over. No worker runs here, so nothing holds the port.
    device_state.g_main_thread_id.store(1);
    device_state.g_worker_idle.store(1);
    return true;
}

bool poll_pass() {
    SerialPort& port = serial_port();
    if (!port.open(device_state.g_com_port.load())) {
        std::fprintf(stderr, "zorvane-cli: COM%d does not open\n", device_state.g_com_port.load());
        return false;
    }
    poll_cycle_of_kind(port, device_state);
    port.close();
    return !quit_requested();
}

int report_write(const SettingDecision& decision) {
    switch (decision.kind) {
        case SettingDecision::Kind::Refused:
            std::fprintf(stderr, "%s\n", decision.refusal.c_str());
            return 2;
        case SettingDecision::Kind::Unchanged:
            std::printf("unchanged\n");
            return 0;
        case SettingDecision::Kind::Send:
            break;
    }
    if (!decision.sent) {
        std::fprintf(stderr, "zorvane-cli: COM%d does not open; nothing was sent\n",
                     device_state.g_com_port.load());
        return 1;
    }
    for (int i = 0; i < decision.frame_length; ++i) {
        std::printf(i == 0 ? "%02X" : " %02X", decision.frame[i]);
    }
    std::printf("\n");
    return quit_requested() ? 1 : 0;
}

}  // namespace zorvane::cli
