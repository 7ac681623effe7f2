// zorvane-cli log FILE [--interval S] [--count N]: the device search, then
// pass after pass over the polled device, one CSV row per pass (or at most
// one per interval) into FILE ("-": standard output). A lost link pauses the
// rows, marks the gap once and the port is tried again every second.
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_device.h"
#include "device/device_state.h"
#include "device/poll_cycle.h"
#include "link/serial_port.h"
#include "record/csv_recorder.h"
#include "record/record_columns.h"

namespace zorvane::cli {

namespace {

constexpr auto kRetryDelay = std::chrono::seconds(1);

int usage() {
    std::fprintf(stderr, "usage: zorvane-cli log FILE|- [--interval SECONDS] [--count N]\n");
    return 2;
}

template <typename Number>
bool parse_number(const char* text, Number& out) {
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, out);
    return error == std::errc{} && last == end;
}

struct LogOptions {
    std::string path;
    double interval_s = 0;
    long long count = 0;  // rows of readings; 0 = until stopped
};

bool parse_options(int argc, char** argv, LogOptions& options) {
    for (int i = 0; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--interval") == 0 && has_value) {
            if (!parse_number(argv[++i], options.interval_s) ||
                !std::isfinite(options.interval_s) || options.interval_s < 0) {
                return false;
            }
        } else if (std::strcmp(argv[i], "--count") == 0 && has_value) {
            if (!parse_number(argv[++i], options.count) || options.count < 1) {
                return false;
            }
        } else if (options.path.empty() && (argv[i][0] != '-' || std::strcmp(argv[i], "-") == 0)) {
            options.path = argv[i];
        } else {
            return false;
        }
    }
    return !options.path.empty();
}

// A pass over the polled device on a freshly opened port; false when the
// port did not open or the link failed during the pass.
bool logged_pass(std::atomic<bool>& link_failed) {
    SerialPort& port = serial_port();
    link_failed.store(false);
    if (!port.open(device_state.g_com_port.load())) {
        return false;
    }
    if (device_state.g_device_kind.load() == 1) {
        poll_cycle_kx(port, device_state);
    } else {
        poll_cycle_qm(port, device_state);
    }
    port.close();
    return !link_failed.load();
}

}  // namespace

int cmd_log(int argc, char** argv) {
    LogOptions options;
    if (!parse_options(argc, argv, options)) {
        return usage();
    }
    if (!search_polled_device()) {
        return 1;
    }
    const int com = device_state.g_com_port.load();
    const std::vector<RecordColumn> columns = record_columns(device_state.g_device_kind.load());
    CsvRecorder recorder;
    const auto interval_ms = static_cast<int64_t>(std::llround(options.interval_s * 1000));
    if (const std::string error = recorder.open(options.path, columns, interval_ms);
        !error.empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n", error.c_str());
        return 2;
    }

    // A failure is one event of the outage, not a reason to end: the
    // outage is told once, below.
    std::atomic<bool> link_failed{false};
    set_link_failure_handler([&link_failed](bool) { link_failed.store(true); });

    bool lost = false;
    int exit_status = 0;
    while (options.count == 0 || recorder.rows() < options.count) {
        const auto started = std::chrono::steady_clock::now();
        const bool ok = logged_pass(link_failed);
        const int64_t now = wall_clock_ms();
        if (!ok) {
            if (!lost) {
                std::fprintf(stderr,
                             "zorvane-cli: COM%d: link lost; no rows until it is back, trying "
                             "again every second\n",
                             com);
                lost = true;
            }
            if (!recorder.link_lost(now)) {
                break;
            }
            std::this_thread::sleep_for(kRetryDelay);
            continue;
        }
        if (lost) {
            std::fprintf(stderr, "zorvane-cli: COM%d: link back; recording again\n", com);
            lost = false;
        }
        const int64_t rows_before = recorder.rows();
        const bool current = device_state.g_device_answering.load() != 0;
        if (!recorder.record(take_sample(columns, device_state, now, current))) {
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
    if (!recorder.error().empty()) {
        std::fprintf(stderr, "zorvane-cli: %s\n", recorder.error().c_str());
        exit_status = 1;
    }
    set_link_failure_handler(nullptr);
    recorder.close();
    return exit_status;
}

}  // namespace zorvane::cli
