// zorvane-cli poll [--count N] [--follow-serial]: the device (found by the
// search, or on --port), then N complete passes (1 by default), one JSON
// object on a line after each. The passes run on a session: a link failure
// is told once on standard error, nothing is printed while the link is down,
// and polling resumes when the same unit answers again.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/cli_options.h"
#include "app/cli/state_json.h"
#include "device/device_session.h"
#include "state/device_state.h"

namespace zorvane::cli {

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: zorvane-cli poll [--count N] [--follow-serial] [--port COMn|PATH]\n");
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
    const std::optional<FoundDevice> device = find_polled_device();
    if (!device) {
        return no_device_status();
    }
    PollingSession polling(*device);
    DeviceSession& session = polling.session;
    session.on_pass([](const DeviceState& state) {
        std::printf("%s\n", device_state_json(state).c_str());
        std::fflush(stdout);
    });
    session.run(count);
    return 0;
}

}  // namespace zorvane::cli
