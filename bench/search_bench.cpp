// The device search over paced simulated devices: a QM-48 on COM2, a port
// whose device never answers on COM3 and a KX-24 on COM5, in a port
// directory. Prints the time of each search, then the best and the median.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/discovery.h"
#include "link/serial_port.h"
#include "sim/port_directory.h"

int main(int argc, char** argv) {
    using namespace zorvane;
    using Clock = std::chrono::steady_clock;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    sim::PortDirectory dir;
    setenv("ZORVANE_PORT_DIR", dir.path().c_str(), 1);
    const sim::PortOptions paced{.pace = true};
    const bool made =
        dir.add(2, sim::DeviceConfig{.model = DeviceModel::QM48, .serial = "12345", .battery = {}},
                paced) != nullptr &&
        dir.add_silent(3, paced) != nullptr &&
        dir.add(5, sim::DeviceConfig{.model = DeviceModel::KX24, .serial = {}, .battery = {}},
                paced) != nullptr;
    if (!made) {
        std::fprintf(stderr, "search_bench: no pseudo-terminal\n");
        return 1;
    }

    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        DeviceState state;
        const auto t0 = Clock::now();
        const std::vector<FoundDevice> found = scan_devices(state);
        const std::chrono::duration<double> took = Clock::now() - t0;
        seconds.push_back(took.count());
        std::printf("search %d: %.3f s, %zu devices:", run + 1, took.count(), found.size());
        for (const FoundDevice& device : found) {
            std::printf(" COM%d %s;", device.port, device.caption.c_str());
        }
        std::printf("\n");
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("device search, QM-48 + KX-24 + one silent port: best %.3f s, median %.3f s\n",
                seconds.front(), seconds[seconds.size() / 2]);
    return 0;
}
