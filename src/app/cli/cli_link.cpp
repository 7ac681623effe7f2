#include "app/cli/cli_link.h"

#include <atomic>
#include <cstdio>

#include "app/cli/cli_options.h"
#include "link/serial_port.h"

namespace zorvane::cli {

namespace {
std::atomic<bool> g_quit{false};
}

void report_link_failures() {
    set_link_failure_handler([](bool quit) {
        std::fprintf(stderr, "%s: %s\n", kLinkLostCaption, kLinkLostText);
        std::fflush(stderr);
        if (quit) {
            g_quit.store(true);
        }
    });
}

bool quit_requested() {
    return g_quit.load();
}

bool start_trace(std::shared_ptr<TraceFile>& trace) {
    const CommonOptions& options = common_options();
    if (!options.trace) {
        if (options.trace_anonymize) {
            std::fprintf(stderr, "zorvane-cli: --trace-anonymize needs --trace FILE\n");
            return false;
        }
        return true;
    }
    std::string error;
    trace = TraceFile::open(*options.trace, options.trace_anonymize, error);
    if (!trace) {
        std::fprintf(stderr, "zorvane-cli: %s\n", error.c_str());
        return false;
    }
    set_wire_listener(trace);
    return true;
}

void finish_trace(const std::shared_ptr<TraceFile>& trace) {
    if (!trace) {
        return;
    }
    set_wire_listener(nullptr);
    if (const std::string error = trace->write_error(); !error.empty()) {
        std::fprintf(stderr, "zorvane-cli: the trace is incomplete: %s\n", error.c_str());
    }
}

}  // namespace zorvane::cli
