// Processor time and resident memory of zorvane-cli monitor polling paced
// simulated QM-48 units and publishing every pass to a local Mosquitto
// broker, and the period of each unit's publication.
//
//   bench_monitor [--seconds S] [--interval S] [--units N] [--cli PATH]
//
// One unit is named with --port; several are found by the search (COM1 up),
// each on its own port. --cli measures another build of zorvane-cli (an
// older one, for a comparison).
// The simulated device, the broker and the monitor are separate processes,
// so the figures are the monitor's alone (read from /proc).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "broker_rig.h"
#include "proc_status.h"

namespace zorvane {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// utime + stime of `pid`, in seconds.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string serial_of(int unit) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%05d", 42 + unit);
    return serial;
}

std::string state_topic(int unit) {
    return "zorvane/qm48_" + serial_of(unit) + "/state";
}

// The states published of each unit so far.
std::vector<size_t> states(Subscriber& sub, int units) {
    std::vector<size_t> n(static_cast<size_t>(units), 0);
    for (const Received& r : sub.all()) {
        for (int u = 0; u < units; ++u) {
            n[static_cast<size_t>(u)] += r.topic == state_topic(u) ? 1 : 0;
        }
    }
    return n;
}

}  // namespace
}  // namespace zorvane

int main(int argc, char** argv) {
    using namespace zorvane;
    using namespace zorvane::testing;
    int seconds = 60;
    std::string interval = "1";
    int units = 1;
    std::string cli = ZORVANE_CLI;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--interval") == 0) {
            interval = argv[i + 1];
        } else if (std::strcmp(argv[i], "--units") == 0) {
            units = std::clamp(std::atoi(argv[i + 1]), 1, 64);
        } else if (std::strcmp(argv[i], "--cli") == 0) {
            cli = argv[i + 1];
        }
    }
    char pattern[] = "/tmp/zorvane-bench-monitor-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    const fs::path ports = dir / "ports";
    fs::create_directory(ports);
    std::vector<std::string> sim_args{ZORVANE_SIM_PROGRAM, "--dir", ports.string(), "--pace"};
    for (int u = 0; u < units; ++u) {
        sim_args.push_back("--device");
        sim_args.push_back("COM" + std::to_string(units == 1 ? 3 : u + 1) +
                           "=QM-48:" + serial_of(u));
    }
    const pid_t sim = spawn(sim_args, {}, dir / "sim.log");
    Broker broker(dir);
    Subscriber sub(broker.port());
    const fs::path last_port = ports / ("COM" + std::to_string(units == 1 ? 3 : units));
    while (!fs::exists(last_port)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::string> monitor_args{cli,          "monitor",    "--mqtt",
                                          broker.url(), "--interval", interval};
    if (units == 1) {
        monitor_args.insert(monitor_args.end(), {"--port", "COM3"});
    }
    const pid_t monitor =
        spawn(monitor_args, {"ZORVANE_PORT_DIR=" + ports.string()}, dir / "monitor.log");
    // Start-up (search, identification, discovery) is left out of the
    // figures.
    for (int u = 0; u < units; ++u) {
        if (!sub.wait_for_topic(state_topic(u))) {
            std::fprintf(stderr, "bench_monitor: no state published of unit %d\n", u);
            return 1;
        }
    }
    const double cpu0 = cpu_seconds(monitor);
    const std::vector<size_t> states0 = states(sub, units);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpu_seconds(monitor) - cpu0;
    const std::vector<size_t> states1 = states(sub, units);
    std::vector<double> periods;
    size_t published = 0;
    for (size_t u = 0; u < states1.size(); ++u) {
        const size_t n = states1[u] - states0[u];
        published += n;
        periods.push_back(n == 0 ? wall : wall / static_cast<double>(n));
    }
    std::sort(periods.begin(), periods.end());
    std::printf("monitor, %d paced QM-48, --interval %s, %d s:\n", units, interval.c_str(),
                seconds);
    std::printf("  passes published     %zu (%.2f per second)\n", published, published / wall);
    std::printf("  period of a unit     %.2f s shortest, %.2f s median, %.2f s longest\n",
                periods.front(), periods[periods.size() / 2], periods.back());
    std::printf("  processor            %.2f %% of one core, %.3f %% per unit (target <= 1 %%)\n",
                100.0 * cpu / wall, 100.0 * cpu / wall / units);
    std::printf("  resident memory      %.1f MB now, %.1f MB peak (target <= 15 MB)\n",
                bench::status_kib(monitor, "VmRSS:") / 1024.0,
                zorvane::bench::status_kib(monitor, "VmHWM:") / 1024.0);
    kill(monitor, SIGTERM);
    std::printf("  exit on SIGTERM      %d\n", wait_exit(monitor));
    kill(sim, SIGTERM);
    wait_exit(sim);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
