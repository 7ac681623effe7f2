// zorvane-cli: the tool's core without the window, one command per run.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/cli/cli_commands.h"
#include "app/cli/cli_console.h"
#include "app/cli/cli_link.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_values.h"
#include "link/net_port.h"

namespace zorvane::cli {
namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"ports", cmd_ports, "list the serial ports: COM number, path, by-id name, access"},
    {"scan", cmd_scan, "search the serial ports and list the devices found"},
    {"poll", cmd_poll,
     "[--count N] [--follow-serial]  search, then poll N passes, one JSON line each;\n"
     "           a lost link is waited out (reopened every second)"},
    {"set", cmd_set, "NAME TEXT  search, one pass, write setting NAME as typed, read it back"},
    {"gen", cmd_gen, "on|off  search, switch the output generation, read the status back"},
    {"log", cmd_log,
     "FILE|- [--interval S] [--count N] [--follow-serial]  search, then one CSV row\n"
     "           per pass (or per S seconds); a lost link leaves one 'lost' row"},
#ifdef ZORVANE_WITH_MONITOR
    {"monitor", cmd_monitor, "--mqtt mqtt://HOST[:PORT] ...  publish every pass to an MQTT broker"},
#endif
    {"settings", cmd_settings,
     "save FILE | diff FILE [--force] | load FILE [--yes] [--force]\n"
     "           save the device's settings, compare a file with them, write a file onto it"},
};

#ifdef _WIN32
constexpr const char* kPortExamples = "COM5, \\\\.\\COM12";
#else
constexpr const char* kPortExamples = "COMn,\n/dev/ttyUSB0, /dev/serial/by-id/...";
#endif

int usage(std::FILE* out) {
    std::fprintf(out, "usage: zorvane-cli <command> [arguments]\n\ncommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
    }
    std::fprintf(out,
                 "\nExit status: 0 done (set, gen: the device holds what was sent), 1 no device,\n"
                 "port failure, the device does not answer or standard output could not be\n"
                 "written, 2 bad arguments, a refused value or file,\n"
                 "3 the device holds something else after a write.\n");
    std::fprintf(out,
                 "\nevery command takes --port COMn|PATH: no search, that port only (%s),\n"
                 "and --serial S/N: the unit with that serial number. When the search finds\n"
                 "more than one device and neither is given, a command refuses (exit 2).\n"
                 "Ports COMn are $ZORVANE_PORT_DIR/COMn when that variable is set.\n"
                 "A port behind a network bridge is tcp://HOST:PORT (raw) or\n"
                 "rfc2217://HOST:PORT (the tool sets the line); --net-timeout MS bounds each\n"
                 "reply over the network (default %d, %d for a mobile link).\n"
                 "--trace FILE writes every frame sent and received to FILE, one line each\n"
                 "(a trace file is continued); --trace-anonymize replaces serial numbers there.\n",
                 kPortExamples, kDefaultNetTimeoutMs, kMobileNetTimeoutMs);
    return out == stdout ? 0 : 2;
}

}  // namespace
}  // namespace zorvane::cli

int main(int argc, char** argv) {
    using namespace zorvane::cli;
    use_utf8_console(argc, argv);
#ifdef SIGPIPE
    // A reader that went away is a failed write, told like a full disk, not
    // a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (argc < 2) {
        return usage(stderr);
    }
    if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        return finish_output(usage(stdout));
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) {
            int rest = argc - 2;
            if (!take_common_options(rest, argv + 2)) {
                return 2;
            }
            report_link_failures();
            std::shared_ptr<zorvane::TraceFile> trace;
            if (!start_trace(trace)) {
                return 2;
            }
            const int status = command.run(rest, argv + 2);
            finish_trace(trace);
            return finish_output(status);
        }
    }
    std::fprintf(stderr, "zorvane-cli: unknown command '%s'\n\n", argv[1]);
    return usage(stderr);
}
