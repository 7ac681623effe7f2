// Pass time over a network bridge: both poll cycles against simulated units
// paced at the line rate, on the local pseudo-terminal, through Debian's
// ser2net on loopback (raw and RFC 2217), and as the line model has it.
//
//   bench_net_bridge [--passes N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/poll_cycle.h"
#include "line_model.h"
#include "link/serial_port.h"
#include "loopback.h"
#include "sim/port_directory.h"

namespace {

using namespace zorvane;
using Clock = std::chrono::steady_clock;

// Median of `passes` passes, each on a freshly opened port as the worker
// makes them; negative when the port does not open.
double median_pass_ms(const std::string& path, bool qm, int passes) {
    SerialPort port(make_serial_backend());
    DeviceState state;
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        const auto t0 = Clock::now();
        if (!port.open_path(path)) {
            return -1;
        }
        if (qm) {
            poll_cycle_qm(port, state);
        } else {
            poll_cycle_kx(port, state);
        }
        port.close();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int passes = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--passes") == 0) {
            passes = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    // One unit per way in, as a bridge holds its line while a client is on.
    sim::PortDirectory dir;
    const sim::PortOptions paced{.pace = true};
    const DeviceModel models[] = {DeviceModel::QM48, DeviceModel::KX24};
    for (int family = 0; family < 2; ++family) {
        for (int way = 0; way < 3; ++way) {
            if (!dir.add(1 + family * 3 + way, {models[family], "1", {}}, paced)) {
                std::printf("no pseudo-terminal\n");
                return 1;
            }
        }
    }
    auto line = [&](int com) { return dir.path() / ("COM" + std::to_string(com)); };
    testing::Ser2net bridge({{line(2), false}, {line(3), true}, {line(5), false}, {line(6), true}},
                            dir.path());
    if (!bridge.running()) {
        std::printf("ser2net did not start; no figures\n");
        return 1;
    }
    auto address = [&](const char* scheme, size_t index) {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(bridge.ports[index]);
    };
    std::printf("median pass over %d passes, ms (the network waits are at their default)\n",
                passes);
    std::printf("%-6s %10s %10s %10s %10s\n", "cycle", "model", "local", "tcp://", "rfc2217://");
    for (int family = 0; family < 2; ++family) {
        const bool qm = family == 0;
        const double model = bench::pass_model_ms(qm ? qm_poll_cycle() : kx_poll_cycle(),
                                                  qm ? kStatusLongLength : kStatusShortLength);
        const double local = median_pass_ms(line(1 + family * 3).string(), qm, passes);
        const double raw = median_pass_ms(address("tcp", family * 2), qm, passes);
        const double telnet = median_pass_ms(address("rfc2217", family * 2 + 1), qm, passes);
        std::printf("%-6s %10.1f %10.1f %10.1f %10.1f\n", qm ? "QM" : "KX", model, local, raw,
                    telnet);
    }
    return 0;
}
