// zorvane-cli gen on|off: the device search, then the generation command
// (0x48 switches the output on, 0x49 off), as the window's button sends it.
#include <cstdio>
#include <cstring>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "device/setting_write.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane::cli {

int cmd_gen(int argc, char** argv) {
    const bool on = argc == 1 && std::strcmp(argv[0], "on") == 0;
    const bool off = argc == 1 && std::strcmp(argv[0], "off") == 0;
    if (!on && !off) {
        std::fprintf(stderr, "usage: zorvane-cli gen on|off\n");
        return 2;
    }
    if (!search_polled_device()) {
        return 1;
    }
    return report_write(
        send_action(serial_port(), device_state, on ? cmd::kGenerationOn : cmd::kGenerationOff));
}

}  // namespace zorvane::cli
