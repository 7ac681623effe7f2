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
    for (int i = 0; i < argc; ++i) {
        const bool joined = std::strncmp(argv[i], "--port=", 7) == 0;
        if (std::strcmp(argv[i], "--port") == 0 || joined) {
            const char* value = joined ? argv[i] + 7 : i + 1 < argc ? argv[++i] : "";
            if (value[0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --port needs COMn or a device path\n");
                return false;
            }
            if (!once.first("--port"))
                return false;
            g_options.port = value;
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

}  // namespace zorvane::cli
