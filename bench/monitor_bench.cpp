// Processor time and resident memory of zorvane-cli monitor polling one
// paced simulated QM-48 and publishing every pass to a local Mosquitto
// broker.
//
//   bench_monitor [--seconds S] [--interval S]
//
// The simulated device, the broker and the monitor are separate processes,
// so the figures are the monitor's alone (read from /proc).
#include <unistd.h>

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

size_t states(Subscriber& sub) {
    size_t n = 0;
    for (const Received& r : sub.all()) {
        n += r.topic == "zorvane/qm48_00042/state" ? 1 : 0;
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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--interval") == 0) {
            interval = argv[i + 1];
        }
    }
    char pattern[] = "/tmp/zorvane-bench-monitor-XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    const fs::path ports = dir / "ports";
    fs::create_directory(ports);
    const pid_t sim = spawn(
        {ZORVANE_SIM_PROGRAM, "--dir", ports.string(), "--device", "COM3=QM-48:00042", "--pace"},
        {}, dir / "sim.log");
    Broker broker(dir);
    Subscriber sub(broker.port());
    while (!fs::exists(ports / "COM3")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const pid_t monitor = spawn(
        {ZORVANE_CLI, "monitor", "--mqtt", broker.url(), "--port", "COM3", "--interval", interval},
        {"ZORVANE_PORT_DIR=" + ports.string()}, dir / "monitor.log");
    // Start-up (identification, discovery) is left out of the figures.
    if (!sub.wait_for_topic("zorvane/qm48_00042/state")) {
        std::fprintf(stderr, "bench_monitor: no state published\n");
        return 1;
    }
    const double cpu0 = cpu_seconds(monitor);
    const size_t states0 = states(sub);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpu_seconds(monitor) - cpu0;
    const size_t published = states(sub) - states0;
    std::printf("monitor, one paced QM-48, --interval %s, %d s:\n", interval.c_str(), seconds);
    std::printf("  passes published     %zu (%.2f per second)\n", published, published / wall);
    std::printf("  processor            %.2f %% of one core (target <= 1 %%)\n",
                100.0 * cpu / wall);
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
