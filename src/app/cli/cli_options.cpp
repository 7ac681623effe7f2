#include "app/cli/cli_options.h"

#include <cstdio>
#include <cstring>

namespace zorvane::cli {

namespace {
CommonOptions g_options;
}

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
        } else if (std::strcmp(argv[i], "--trace") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "zorvane-cli: --trace needs a file\n");
                return false;
            }
            g_options.trace = argv[++i];
        } else if (std::strcmp(argv[i], "--trace-anonymize") == 0) {
            g_options.trace_anonymize = true;
        } else if (std::strcmp(argv[i], "--follow-serial") == 0) {
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
