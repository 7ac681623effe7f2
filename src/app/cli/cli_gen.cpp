// zorvane-cli gen on|off: the device search, then the generation command
// (0x48 switches the output on, 0x49 off), as the window's button sends it,
// and a pass whose status reply says whether the device did it: exit 0 when
// it did, 3 when it did not, 1 when it does not answer.
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
        return no_device_status();
    }
    return gen_after_search(on);
}

int gen_after_search(bool on) {
    const int status = report_write(
        send_action(serial_port(), device_state, on ? cmd::kGenerationOn : cmd::kGenerationOff));
    if (status != 0) {
        return status;
    }
    // Bit 2 of the first status byte, in the polled family's form.
    return read_back(
        [] {
            const StatusBits& bits = device_state.g_device_kind.load() == 1
                                         ? device_state.kx_status1
                                         : device_state.qm_status1;
            return static_cast<long>(bits[2].load() != 0);
        },
        on ? 1 : 0,
        [](long held) { return std::string(held ? "generation on" : "generation off"); });
}

}  // namespace zorvane::cli
