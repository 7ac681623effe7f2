#include "app/cli/cli_link.h"

#include <atomic>
#include <cstdio>

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

}  // namespace zorvane::cli
