// zorvane-cli log FILE [--interval S] [--count N]: the device (found by the
// search, or on --port), then pass after pass on a session that survives an
// unplug, one CSV row per complete pass (or at most one per interval) into
// FILE ("-": standard output). An outage writes no rows, marks the gap once
// and the rows resume when the same unit answers again.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_values.h"
#include "device/device_session.h"
#include "link/serial_port.h"
#include "record/csv_recorder.h"
#include "record/record_columns.h"
#include "state/device_state.h"

namespace zorvane::cli {

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: zorvane-cli log FILE|- [--interval SECONDS] [--count N] "
                 "[--follow-serial] [--port COMn|PATH]\n");
    return 2;
}

struct LogOptions {
    std::string path;
    double interval_s = 0;  // 0: a row per pass
    long long count = 0;    // rows of readings; 0 = until stopped
};

// A row is written after a pass, so no interval is shorter than one: the
// quickest pass of a device that answers takes about a second.
constexpr double kMinIntervalS = 1;

// 0 when the options are good, otherwise the exit status (a message was
// given).
int parse_options(int argc, char** argv, LogOptions& options) {
    OnceEach once;
    for (int i = 0; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--interval") == 0 && has_value) {
            if (!once.first(argv[i]) || !seconds_option(argv[i], argv[i + 1], kMinIntervalS,
                                                        kMaxIntervalS, options.interval_s)) {
                return 2;
            }
            ++i;
        } else if (std::strcmp(argv[i], "--count") == 0 && has_value) {
            if (!once.first(argv[i]) ||
                !whole_number_option(argv[i], argv[i + 1], 1, kMaxCount, options.count)) {
                return 2;
            }
            ++i;
        } else if (options.path.empty() && (argv[i][0] != '-' || std::strcmp(argv[i], "-") == 0)) {
            options.path = argv[i];
        } else {
            return usage();
        }
    }
    return options.path.empty() ? usage() : 0;
}

}  // namespace

int cmd_log(int argc, char** argv) {
    LogOptions options;
    if (const int status = parse_options(argc, argv, options); status != 0) {
        return status;
    }
    const std::optional<FoundDevice> device = find_polled_device();
    if (!device) {
        return no_device_status();
    }
    const std::vector<RecordColumn> columns = record_columns(device_state.g_device_kind.load());
    CsvRecorder recorder;
    const auto interval_ms = static_cast<int64_t>(std::llround(options.interval_s * 1000));
    if (const std::string error = recorder.open(options.path, columns, interval_ms);
        !error.empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n", error.c_str());
        return 2;
    }

    PollingSession polling(*device);
    DeviceSession& session = polling.session;
    session.on_event([&recorder](const SessionEvent& event) {
        if (event.kind == SessionEvent::Kind::LinkLost) {
            recorder.link_lost(wall_clock_ms());
        }
    });
    session.on_pass([&](const DeviceState& state) {
        recorder.record(take_sample(columns, state, wall_clock_ms(), state.values_current()));
    });

    while (recorder.is_open() && (options.count == 0 || recorder.rows() < options.count)) {
        const int64_t rows_before = recorder.rows();
        const auto started = std::chrono::steady_clock::now();
        if (session.step() == DeviceSession::Step::Stopped) {
            break;
        }
        // With an interval, the device is not asked more often than a row is
        // due: the next pass starts so that it ends about when the next row
        // is due.
        if (interval_ms > 0 && recorder.rows() > rows_before) {
            const auto pass = std::chrono::steady_clock::now() - started;
            std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms) - pass);
        }
    }
    int exit_status = 0;
    if (!recorder.error().empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n", recorder.error().c_str());
        exit_status = 1;
    }
    recorder.close();
    return exit_status;
}

}  // namespace zorvane::cli
