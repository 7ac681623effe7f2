#include "app/cli/cli_options.h"

#include <cstdio>
#include <cstring>

#include "app/cli/cli_values.h"

namespace zorvane::cli {

namespace {
CommonOptions g_options;
}

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
        } else if (std::strcmp(argv[i], "--follow-serial") == 0) {
            if (!once.first("--follow-serial"))
                return false;
            g_options.follow_serial = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

const CommonOptions& common_options() {
    return g_options;
}

void set_common_options(CommonOptions options) {
    g_options = std::move(options);
}

}  // namespace zorvane::cli
