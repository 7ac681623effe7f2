// transact and the device search over simulated devices on pseudo-terminals,
// paced at the line rate, each timed against the line model (line_model.h);
// the ratio measured / model is printed for each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "line_model.h"
#include "link/discovery.h"
#include "link/frame.h"
#include "link/serial_port.h"
#include "sim/port_directory.h"

namespace {

using namespace zorvane;
using Clock = std::chrono::steady_clock;

using bench::exchange_ms;
using bench::kByteMs;
using bench::silent_read_ms;

// The device search, probe by probe, for one device.
double probe_model_ms(bool qm) {
    const int status_length = qm ? kStatusLongLength : kStatusShortLength;
    double ms = 13 * kByteMs + silent_read_ms(100);  // wake-up, unanswered
    ms += 2 * exchange_ms(3, kBatteryProbeLength);   // battery, twice
    ms += exchange_ms(3, status_length);             // status: ends on a whole frame of either form
    ms += exchange_ms(3, kSerialNumberLength);       // serial number
    return ms;
}

struct Figure {
    std::string name;
    double measured_ms;
    double model_ms;
};
std::vector<Figure> g_figures;

void record(benchmark::State& state, const std::string& name, double total_ms, double model_ms) {
    const double per_iteration = total_ms / static_cast<double>(state.iterations());
    state.counters["model_ms"] = model_ms;
    state.counters["ratio"] = per_iteration / model_ms;
    // The library calls a benchmark several times while it settles the
    // iteration count; the last call, the longest, is the figure.
    for (Figure& f : g_figures) {
        if (f.name == name) {
            f = {name, per_iteration, model_ms};
            return;
        }
    }
    g_figures.push_back({name, per_iteration, model_ms});
}

// One read transaction as the poll cycles make it: args = code, reply length,
// expected length (0 = one read).
void BM_Transact(benchmark::State& state) {
    const auto code = static_cast<uint8_t>(state.range(0));
    const int length = static_cast<int>(state.range(1));
    const int expected = static_cast<int>(state.range(2));

    sim::PortDirectory dir;
    setenv("ZORVANE_PORT_DIR", dir.path().c_str(), 1);
    if (dir.add(1, sim::DeviceConfig{.model = DeviceModel::QM48, .serial = "1", .battery = {}},
                sim::PortOptions{.pace = true}) == nullptr) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    SerialPort port(make_posix_backend());
    if (!port.open(1)) {
        state.SkipWithError("cannot open COM1");
        return;
    }
    std::array<uint8_t, kFrameBufferSize> buffer{};
    double total_ms = 0;
    for (auto _ : state) {
        const int n = build_request(buffer, code);
        const auto t0 = Clock::now();
        const int count = transact(port, buffer, n, expected);
        const std::chrono::duration<double> took = Clock::now() - t0;
        state.SetIterationTime(took.count());
        total_ms += took.count() * 1000.0;
        if (count != length) {
            state.SkipWithError("wrong reply length");
            break;
        }
    }
    port.close();
    record(state, "transact, reply of " + std::to_string(length) + " bytes", total_ms,
           exchange_ms(3, length));
}
BENCHMARK(BM_Transact)
    ->Args({0x62, 4, 0})
    ->Args({0x41, 11, 0})
    ->Args({0x46, 19, 0})
    ->Args({cmd::kCounters, kCountersQmLength, kCountersQmLength})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The whole search over the ports of the directory, a QM-48 on COM2 and a
// KX-24 on COM5.
void BM_DeviceSearch(benchmark::State& state) {
    sim::PortDirectory dir;
    setenv("ZORVANE_PORT_DIR", dir.path().c_str(), 1);
    const sim::PortOptions paced{.pace = true};
    if (!dir.add(2, sim::DeviceConfig{.model = DeviceModel::QM48, .serial = "12345", .battery = {}},
                 paced) ||
        !dir.add(5, sim::DeviceConfig{.model = DeviceModel::KX24, .serial = {}, .battery = {}},
                 paced)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    double total_ms = 0;
    for (auto _ : state) {
        DeviceState device_state;
        const auto t0 = Clock::now();
        const auto found = scan_devices(device_state);
        const std::chrono::duration<double> took = Clock::now() - t0;
        state.SetIterationTime(took.count());
        total_ms += took.count() * 1000.0;
        if (found.size() != 2) {
            state.SkipWithError("devices not found");
            break;
        }
    }
    record(state, "device search, QM-48 + KX-24", total_ms,
           std::max(probe_model_ms(true), probe_model_ms(false)));  // probed at once
}
BENCHMARK(BM_DeviceSearch)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-34s %12s %12s %8s\n", "", "measured ms", "model ms", "ratio");
    for (const Figure& f : g_figures) {
        std::printf("%-34s %12.2f %12.2f %8.3f\n", f.name.c_str(), f.measured_ms, f.model_ms,
                    f.measured_ms / f.model_ms);
    }
    return 0;
}
