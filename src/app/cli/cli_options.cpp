#include "app/cli/cli_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/net_port.h"

namespace zorvane::cli {

namespace {
CommonOptions g_options;

// --net-timeout MS: a whole number of milliseconds in the accepted range.
bool take_net_timeout(const char* text) {
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || ms < kMinNetTimeoutMs || ms > kMaxNetTimeoutMs) {
        std::fprintf(stderr, "zorvane-cli: --net-timeout needs milliseconds from %d to %d\n",
                     kMinNetTimeoutMs, kMaxNetTimeoutMs);
        return false;
    }
    set_net_timeout_ms(static_cast<int>(ms));
    return true;
}

// A network port is refused here, with the reason, when its address is
// malformed; a local name is judged when it is opened.
bool port_is_well_formed(const std::string& text) {
    std::string why;
    if (is_network_port(text) && !parse_network_port(text, &why)) {
        std::fprintf(stderr, "zorvane-cli: --port %s: %s\n", text.c_str(), why.c_str());
        return false;
    }
    return true;
}
}  // namespace

bool take_common_options(int& argc, char** argv) {
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --port needs COMn or a device path\n");
                return false;
            }
            g_options.port = argv[++i];
        } else if (std::strncmp(argv[i], "--port=", 7) == 0 && argv[i][7] != '\0') {
            g_options.port = argv[i] + 7;
        } else if (std::strcmp(argv[i], "--net-timeout") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zorvane-cli: --net-timeout needs milliseconds\n");
                return false;
            }
            if (!take_net_timeout(argv[++i])) {
                return false;
            }
        } else if (std::strncmp(argv[i], "--net-timeout=", 14) == 0) {
            if (!take_net_timeout(argv[i] + 14)) {
                return false;
            }
        } else if (std::strcmp(argv[i], "--follow-serial") == 0) {
            g_options.follow_serial = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return !g_options.port || port_is_well_formed(*g_options.port);
}

const CommonOptions& common_options() {
    return g_options;
}

}  // namespace zorvane::cli
