// zorvane-cli poll [--count N]: the device search, then N passes over the
// polled device (1 by default), one JSON object on a line after each.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/state_json.h"
#include "state/device_state.h"

namespace zorvane::cli {

namespace {
int usage() {
    std::fprintf(stderr, "usage: zorvane-cli poll [--count N]\n");
    return 2;
}
}  // namespace

int cmd_poll(int argc, char** argv) {
    int count = 1;
    if (argc == 2 && std::strcmp(argv[0], "--count") == 0) {
        const char* end = argv[1] + std::strlen(argv[1]);
        const auto [last, error] = std::from_chars(argv[1], end, count);
        if (error != std::errc{} || last != end || count < 1) {
            return usage();
        }
    } else if (argc != 0) {
        return usage();
    }
    if (!search_polled_device()) {
        return 1;
    }
    for (int pass = 0; pass < count; ++pass) {
        if (!poll_pass()) {
            return 1;
        }
        std::printf("%s\n", device_state_json(device_state).c_str());
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace zorvane::cli
