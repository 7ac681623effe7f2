// transact and both poll passes over devices that are already on given ports
// (the simulated devices of zorvane-sim --pace, or real ones), each timed
// against the line model. It uses only the core, so the same figures can be
// taken natively and from the Windows build under Wine:
//
//   bench_port_link --kx N --qm M [--silent S] [--reps R] [--passes P]
//
// with a KX device on COMN, a QM device on COMM and, if given, nothing on
// COMS (a read that times out).
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/poll_cycle.h"
#include "line_model.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "state/device_state.h"

namespace {

using namespace zorvane;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print_figure(const std::string& name, std::vector<double> times, double model_ms) {
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-28s %9.2f %9.2f %9.2f %9.2f %7.3f\n", name.c_str(), median, times.front(),
                times.back(), model_ms, median / model_ms);
}

// One read transaction as the poll cycles make it, repeated. A silent line
// (length 0) costs the whole read time-out of a 100-byte read.
bool bench_transact(int com, uint8_t code, int length, int expected, int reps) {
    SerialPort port;
    if (!port.open(com)) {
        std::printf("COM%d does not open\n", com);
        return false;
    }
    std::array<uint8_t, kFrameBufferSize> buffer{};
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const int n = build_request(buffer, code);
        const auto start = Clock::now();
        const int count = transact(port, buffer, n, expected);
        times.push_back(ms_since(start));
        if (count != length) {
            std::printf("COM%d: reply of %d bytes to 0x%02X, not %d\n", com, count, code, length);
            return false;
        }
    }
    port.close();
    if (length == 0) {
        print_figure(
            "transact, silent line", times,
            3 * bench::kByteMs + bench::silent_read_ms(static_cast<int>(kFrameBufferSize)));
    } else {
        print_figure("transact, " + std::to_string(length) + "-byte reply", times,
                     bench::exchange_ms(3, length));
    }
    return true;
}

bool bench_pass(int com, bool kx, int passes) {
    const PollCycle& cycle = kx ? kx_poll_cycle() : qm_poll_cycle();
    SerialPort port;
    DeviceState state;
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        if (!port.open(com)) {
            std::printf("COM%d does not open\n", com);
            return false;
        }
        const auto start = Clock::now();
        run_poll_cycle(port, state, cycle);
        times.push_back(ms_since(start));
        port.close();
    }
    if (state.out_voltage.load() == 0.0f) {
        std::printf("COM%d: no reading stored; the device did not answer\n", com);
        return false;
    }
    print_figure(kx ? "KX pass" : "QM pass", times,
                 bench::pass_model_ms(cycle, kx ? kStatusShortLength : kStatusLongLength));
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_port_link --kx N --qm M [--silent S] [--reps R] [--passes P]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int kx = 0;
    int qm = 0;
    int silent = 0;
    int reps = 50;
    int passes = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--kx") == 0) {
            kx = value;
        } else if (std::strcmp(argv[i], "--qm") == 0) {
            qm = value;
        } else if (std::strcmp(argv[i], "--silent") == 0) {
            silent = value;
        } else if (std::strcmp(argv[i], "--reps") == 0) {
            reps = value;
        } else if (std::strcmp(argv[i], "--passes") == 0) {
            passes = value;
        } else {
            return usage();
        }
    }
    if (kx < 1 || qm < 1 || reps < 1 || passes < 1) {
        return usage();
    }
    std::printf("%-28s %9s %9s %9s %9s %7s\n", "(ms)", "median", "best", "worst", "model", "ratio");
    bool ok = bench_transact(qm, 0x62, 4, 0, reps) && bench_transact(qm, 0x41, 11, 0, reps) &&
              bench_transact(qm, 0x46, 19, 0, reps) &&
              bench_transact(qm, cmd::kCounters, kCountersQmLength, kCountersQmLength, reps);
    if (silent > 0) {
        ok = bench_transact(silent, 0x41, 0, 0, std::min(reps, 5)) && ok;
    }
    ok = bench_pass(kx, true, passes) && ok;
    ok = bench_pass(qm, false, passes) && ok;
    return ok ? 0 : 1;
}
