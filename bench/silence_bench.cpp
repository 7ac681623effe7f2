// How long a device that stops answering passes for a running one: the time
// from its last accepted reply to the moment the tool marks it not answering
// (what the window's notice shows at its next tick, at most 200 ms later),
// and from its first reply again to values current once more. The device is
// a simulated KX-24 or QM-48 at the line rate; it falls silent at a random
// point of the pass.
//
//   bench_silence [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "device/poll_worker.h"
#include "link/serial_port.h"
#include "sim/faults.h"
#include "sim/port_directory.h"
#include "state/device_state.h"

namespace {

using namespace zorvane;
using Clock = std::chrono::steady_clock;

int64_t wall_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

template <typename Done>
bool wait_for(Done done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void print_figures(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %6.0f ms   max %6.0f ms   (%zu rounds)\n", what, ms[ms.size() / 2],
                ms.back(), ms.size());
}

void run(DeviceModel model, const char* name, int rounds) {
    sim::PortDirectory ports;
    setenv("ZORVANE_PORT_DIR", ports.path().c_str(), 1);
    sim::SimulatedPort* device =
        ports.add(3, {.model = model, .serial = "1", .battery = {}}, {.pace = true});
    SerialPort port;
    DeviceState state;
    state.g_com_port.store(3);
    state.g_device_kind.store(model == DeviceModel::KX24 ? 1 : 2);
    PollWorker worker(port, state);
    worker.start();

    std::mt19937 rng(7);
    std::vector<double> to_notice;
    std::vector<double> to_values;
    for (int round = 0; round < rounds; ++round) {
        if (!wait_for([&] { return state.values_current(); }, std::chrono::seconds(30))) {
            std::printf("%s: values never became current\n", name);
            return;
        }
        // Somewhere in the middle of a pass.
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 400));
        device->inject(sim::fault::silence());
        if (!wait_for([&] { return state.g_device_answering.load() == 0; },
                      std::chrono::seconds(30))) {
            std::printf("%s: silence never noticed\n", name);
            return;
        }
        to_notice.push_back(static_cast<double>(wall_ms() - state.g_last_answer_ms.load()));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        device->clear_faults();
        const auto answered = Clock::now();
        wait_for([&] { return state.values_current(); }, std::chrono::seconds(30));
        to_values.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - answered).count());
    }
    worker.stop();
    std::printf("%s\n", name);
    print_figures("  last reply -> marked not answering", to_notice);
    print_figures("  answering again -> values current", to_values);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    run(DeviceModel::KX24, "KX-24", rounds);
    run(DeviceModel::QM48, "QM-48", rounds);
    return 0;
}
