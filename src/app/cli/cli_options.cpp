#include "app/cli/cli_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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
    // The options that take a value, given as "--name value" or
    // "--name=value", each at most once.
    struct Valued {
        const char* name;
        const char* needs;  // what a missing value is told
        std::optional<std::string>* into;
    };
    std::optional<std::string> net_timeout;
    const Valued valued[] = {
        {"--port", "COMn or a device path", &g_options.port},
        {"--serial", "a serial number", &g_options.serial},
        {"--net-timeout", "milliseconds", &net_timeout},
        {"--trace", "a file", &g_options.trace},
    };
    const struct {
        const char* name;
        bool* into;
    } flags[] = {{"--follow-serial", &g_options.follow_serial},
                 {"--trace-anonymize", &g_options.trace_anonymize}};
    for (int i = 0; i < argc; ++i) {
        bool taken = false;
        for (const Valued& option : valued) {
            const size_t n = std::strlen(option.name);
            if (std::strncmp(argv[i], option.name, n) != 0 ||
                (argv[i][n] != '=' && argv[i][n] != '\0'))
                continue;
            const char* value = argv[i][n] == '=' ? argv[i] + n + 1 : i + 1 < argc ? argv[++i] : "";
            if (value[0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: %s needs %s\n", option.name, option.needs);
                return false;
            }
            if (!once.first(option.name))
                return false;
            *option.into = value;
            taken = true;
            break;
        }
        for (const auto& flag : flags) {
            if (!taken && std::strcmp(argv[i], flag.name) == 0) {
                if (!once.first(flag.name))
                    return false;
                *flag.into = true;
                taken = true;
            }
        }
        if (!taken)
            argv[kept++] = argv[i];
    }
    if (net_timeout && !take_net_timeout(net_timeout->c_str()))
        return false;
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
