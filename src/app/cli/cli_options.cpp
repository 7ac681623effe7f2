#include "app/cli/cli_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cli/cli_values.h"
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
    OnceEach once;
    // An option with a value, given as "--name value" or "--name=value":
    // null when argv[i] is not that option; "" when its value is missing.
    auto valued = [&](int& i, const char* name) -> const char* {
        const size_t n = std::strlen(name);
        if (std::strncmp(argv[i], name, n) != 0)
            return nullptr;
        if (argv[i][n] == '=')
            return argv[i] + n + 1;
        if (argv[i][n] != '\0')
            return nullptr;
        return i + 1 < argc ? argv[++i] : "";
    };
    for (int i = 0; i < argc; ++i) {
        if (const char* value = valued(i, "--port")) {
            if (value[0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --port needs COMn or a device path\n");
                return false;
            }
            if (!once.first("--port"))
                return false;
            g_options.port = value;
        } else if (const char* value = valued(i, "--serial")) {
            if (value[0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --serial needs a serial number\n");
                return false;
            }
            if (!once.first("--serial"))
                return false;
            g_options.serial = value;
        } else if (const char* value = valued(i, "--net-timeout")) {
            if (value[0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --net-timeout needs milliseconds\n");
                return false;
            }
            if (!once.first("--net-timeout") || !take_net_timeout(value))
                return false;
        } else if (const char* value = valued(i, "--trace")) {
            if (value[0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --trace needs a file\n");
                return false;
            }
            if (!once.first("--trace"))
                return false;
            g_options.trace = value;
        } else if (std::strcmp(argv[i], "--trace-anonymize") == 0) {
            if (!once.first("--trace-anonymize"))
                return false;
            g_options.trace_anonymize = true;
        } else if (std::strcmp(argv[i], "--follow-serial") == 0) {
            if (!once.first("--follow-serial"))
                return false;
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

void set_common_options(CommonOptions options) {
    g_options = std::move(options);
}

}  // namespace zorvane::cli
