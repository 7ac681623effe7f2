// The processor an idle tool uses while it cannot get at its port: held
// exclusively by another program, a device that is not there, a port that
// opens but fails every transaction (an adapter whose cable is cut), or a
// worker parked by the window. Each figure is the process's processor time over one
// second of wall time, as a percentage of one core, with the open attempts
// made per second.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "device/handover.h"
#include "device/poll_worker.h"
#include "link/serial_port.h"
#include "no_sys_admin.h"

namespace {

using namespace zorvane;

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Counts the opens tried, passing everything on to the real backend.
class OpenCounter : public PortBackend {
  public:
    OpenCounter(std::unique_ptr<PortBackend> inner, std::atomic<int>* opens)
        : m_inner(std::move(inner)), m_opens(opens) {}
    PortOpen open(const std::string& path) override {
        ++*m_opens;
        return m_inner->open(path);
    }
    void close() override { m_inner->close(); }
    bool is_open() const override { return m_inner->is_open(); }
    void apply_line_settings() override { m_inner->apply_line_settings(); }
    bool write(const uint8_t* d, size_t n) override { return m_inner->write(d, n); }
    int read(uint8_t* d, size_t n) override { return m_inner->read(d, n); }

  private:
    std::unique_ptr<PortBackend> m_inner;
    std::atomic<int>* m_opens;
};

// An adapter that opens but whose every write and read fails.
class CutCable : public PortBackend {
  public:
    explicit CutCable(std::atomic<int>* opens) : m_opens(opens) {}
    PortOpen open(const std::string&) override {
        ++*m_opens;
        m_open = true;
        return PortOpen::usable();
    }
    void close() override { m_open = false; }
    bool is_open() const override { return m_open; }
    void apply_line_settings() override {}
    bool write(const uint8_t*, size_t) override { return false; }
    int read(uint8_t*, size_t) override { return -1; }

  private:
    std::atomic<int>* m_opens;
    bool m_open = false;
};

enum class Situation { HeldByAnother, NoDevice, Parked, EveryTransactionFails };

void run(benchmark::State& bench, Situation situation) {
    // A terminal taken exclusively by "another program". The worker runs
    // without the privilege that would let root in regardless.
    std::array<char, 128> name{};
    int master = -1;
    int slave = -1;
    openpty(&master, &slave, name.data(), nullptr, nullptr);
    ioctl(slave, TIOCEXCL);
    char pattern[] = "/tmp/zorvane-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::filesystem::create_directory_symlink(
        situation == Situation::HeldByAnother ? name.data() : "/nonexistent", dir + "/COM7");
    setenv("ZORVANE_PORT_DIR", dir.c_str(), 1);

    std::atomic<int> opens{0};
    std::atomic<int> notices{0};
    set_link_failure_handler([&notices](bool) { ++notices; });
    std::unique_ptr<PortBackend> backend;
    if (situation == Situation::EveryTransactionFails)
        backend = std::make_unique<CutCable>(&opens);
    else
        backend = std::make_unique<OpenCounter>(make_posix_backend(), &opens);
    SerialPort port(std::move(backend));
    DeviceState state;
    state.g_com_port.store(7);
    PollWorker worker(port, state);
    {
        zorvane::testing::NoSysAdmin as_a_user;  // the thread started here inherits it
        worker.start();
    }
    if (situation == Situation::Parked) {
        park_worker(state);
    }
    for (auto _ : bench) {
        const int opens_before = opens.load();
        const int notices_before = notices.load();
        const double cpu_before = cpu_seconds();
        const auto wall_before = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_before;
        bench.SetIterationTime(wall.count());
        bench.counters["cpu_pct_of_one_core"] = (cpu_seconds() - cpu_before) / wall.count() * 100;
        bench.counters["opens_per_s"] = (opens.load() - opens_before) / wall.count();
        bench.counters["link_failures_per_s"] = (notices.load() - notices_before) / wall.count();
    }
    worker.stop();
    set_link_failure_handler(nullptr);
    std::filesystem::remove_all(dir);
    close(slave);
    close(master);
}

void BM_PortHeldByAnotherProgram(benchmark::State& s) {
    run(s, Situation::HeldByAnother);
}
void BM_NoDevice(benchmark::State& s) {
    run(s, Situation::NoDevice);
}
void BM_WorkerParked(benchmark::State& s) {
    run(s, Situation::Parked);
}
BENCHMARK(BM_PortHeldByAnotherProgram)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoDevice)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
void BM_EveryTransactionFails(benchmark::State& s) {
    run(s, Situation::EveryTransactionFails);
}
BENCHMARK(BM_EveryTransactionFails)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerParked)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
