// zorvane-cli poll [--count N] [--follow-serial]: the device (found by the
// search, or on --port), then N complete passes (1 by default), one JSON
// object on a line after each. The passes run on a session: a link failure
// is told once on standard error, nothing is printed while the link is down,
// and polling resumes when the same unit answers again.
#include <cstdio>
#include <cstring>
#include <stop_token>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_values.h"
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
    long long count = 1;
    OnceEach once;
    for (int i = 0; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--count") != 0 || i + 1 >= argc) {
            return usage();
        }
        if (!once.first(argv[i]) ||
            !whole_number_option(argv[i], argv[i + 1], 1, kMaxCount, count)) {
            return 2;
        }
    }
    const std::optional<FoundDevice> device = find_polled_device();
    if (!device) {
        return no_device_status();
    }
    PollingSession polling(*device);
    DeviceSession& session = polling.session;
    // Output nobody receives (a full disk, a closed pipe) ends the polling.
    std::stop_source output_failed;
    session.on_pass([&output_failed](const DeviceState& state) {
        if (std::printf("%s\n", device_state_json(state).c_str()) < 0 || std::fflush(stdout) != 0) {
            output_failed.request_stop();
        }
    });
    session.run(static_cast<int>(count), output_failed.get_token());
    return 0;
}

}  // namespace zorvane::cli
