// Polling figures: pass time of both cycles against the simulated device at
// the line rate, compared with the wire model; processor time the tool uses
// while polling, while parked and without a device; how long a setting write
// waits for the port.
//
//   bench_polling [--sim PATH] [--seconds S] [--passes N]
//
// The simulated devices run as a separate zorvane-sim process, so the
// processor time measured here is the tool's alone.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device/handover.h"
#include "device/poll_cycle.h"
#include "device/poll_worker.h"
#include "device/setting_write.h"
#include "line_model.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace zorvane {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return secs(usage.ru_utime) + secs(usage.ru_stime);
}

// Processor time per second of wall time over `seconds`, in percent of one core.
double cpu_percent_over(double seconds) {
    const double cpu0 = process_cpu_seconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return 100.0 * (process_cpu_seconds() - cpu0) / seconds_since(start);
}

struct Sim {
    pid_t pid = -1;
    ~Sim() { stop(); }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
};

bool start_sim(Sim& sim, const std::string& program, const std::string& dir) {
    std::fflush(stdout);  // or the child prints our buffered lines again
    sim.pid = fork();
    if (sim.pid == 0) {
        // Its listing of the devices is not ours to print.
        if (FILE* null = std::freopen("/dev/null", "w", stdout); null == nullptr) {
            _exit(127);
        }
        execl(program.c_str(), program.c_str(), "--dir", dir.c_str(), "--pace", "--device",
              "COM1=KX-24:1001", "--device", "COM2=QM-48:2002", static_cast<char*>(nullptr));
        std::perror("exec zorvane-sim");
        _exit(127);
    }
    for (int turn = 0; turn < 500; ++turn) {
        if (std::filesystem::exists(dir + "/COM1") && std::filesystem::exists(dir + "/COM2")) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void bench_pass_time(int com, int kind, int passes) {
    const PollCycle& cycle = kind == 1 ? kx_poll_cycle() : qm_poll_cycle();
    const double model =
        bench::pass_model_ms(cycle, kind == 1 ? kStatusShortLength : kStatusLongLength) / 1e3;
    SerialPort& port = serial_port();
    DeviceState state;
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        if (!port.open(com)) {
            std::printf("COM%d does not open\n", com);
            return;
        }
        const auto start = Clock::now();
        run_poll_cycle(port, state, cycle);
        times.push_back(seconds_since(start));
        port.close();
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf(
        "%s pass: median %.1f ms (min %.1f, max %.1f) over %d; model %.1f ms; "
        "ratio %.3f (best pass %.3f)\n",
        kind == 1 ? "KX" : "QM", median * 1e3, times.front() * 1e3, times.back() * 1e3, passes,
        model * 1e3, median / model, times.front() / model);
    if (state.out_voltage.load() == 0.0f) {
        std::printf("  (warning: no reading stored; the device did not answer)\n");
    }
}

void bench_worker_cpu(const char* what, int com, int kind, bool parked, double seconds) {
    device_state.g_com_port.store(com);
    device_state.g_device_kind.store(kind);
    device_state.g_poll_pause.store(parked ? 1 : 0);
    PollWorker worker(serial_port(), device_state);
    worker.start();
    const double percent = cpu_percent_over(seconds);
    worker.stop();
    device_state.g_poll_pause.store(0);
    std::printf("processor time %-22s %.3f %% of one core\n", what, percent);
}

void bench_write_wait(int com, int kind, int writes) {
    device_state.g_com_port.store(com);
    device_state.g_device_kind.store(kind);
    PollWorker worker(serial_port(), device_state);
    worker.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const SettingParam& param =
        *find_setting("Pmax", family_of_kind(kind) == Family::Kx ? Family::Kx : Family::Qm);
    std::vector<double> waits;
    uint32_t seed = 7;
    for (int i = 0; i < writes; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::this_thread::sleep_for(std::chrono::milliseconds((seed >> 16) % 400));
        const auto start = Clock::now();
        park_worker(device_state);
        waits.push_back(seconds_since(start));
        release_worker(device_state);
        // And a whole write, as the window makes it, to see it go through.
        write_setting(serial_port(), device_state, param, std::to_string(2000 + i));
    }
    worker.stop();
    std::sort(waits.begin(), waits.end());
    double sum = 0;
    for (double w : waits) sum += w;
    std::printf(
        "%s setting write waits for the port: mean %.1f ms, median %.1f ms, max %.1f ms "
        "over %d writes at random moments\n",
        kind == 1 ? "KX" : "QM", sum / waits.size() * 1e3, waits[waits.size() / 2] * 1e3,
        waits.back() * 1e3, writes);
}

}  // namespace
}  // namespace zorvane

int main(int argc, char** argv) {
    using namespace zorvane;
    std::string sim_program = ZORVANE_SIM_PROGRAM;
    double seconds = 3.0;
    int passes = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sim") == 0)
            sim_program = argv[i + 1];
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        if (std::strcmp(argv[i], "--passes") == 0)
            passes = std::atoi(argv[i + 1]);
    }
    char dir_template[] = "/tmp/zorvane-bench-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    setenv("ZORVANE_PORT_DIR", dir.c_str(), 1);

    // Without a device: COM9 has no link in the directory.
    bench_worker_cpu("without a device:", 9, 2, false, seconds);
    bench_worker_cpu("parked:", 9, 2, true, seconds);

    Sim sim;
    if (!start_sim(sim, sim_program, dir)) {
        std::printf("zorvane-sim did not start (%s); no pass figures\n", sim_program.c_str());
        return 1;
    }
    std::printf(
        "pass model: per transaction, request and reply on the wire at 11 bits a byte, "
        "57600 baud, plus 5 ms\n");
    bench_pass_time(1, 1, passes);
    bench_pass_time(2, 2, passes);
    bench_worker_cpu("polling a KX device:", 1, 1, false, seconds);
    bench_worker_cpu("polling a QM device:", 2, 2, false, seconds);
    bench_worker_cpu("parked, device present:", 2, 2, true, seconds);
    bench_write_wait(1, 1, 15);
    bench_write_wait(2, 2, 15);
    sim.stop();
    std::filesystem::remove_all(dir);
    return 0;
}
