// The time one display tick takes on the KX page, as a share of its 200 ms
// period. Each iteration changes every value, so every text and picture is
// rewritten, as on a busy device.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdlib>

#include "app/display_step.h"
#include "app/korvell_app.h"
#include "pages/c_kx_dialog.h"
#include "state/device_state.h"

namespace {

using zorvane::device_state;

void vary_device_state(int i) {
    const float f = static_cast<float>(i % 100);
    device_state.out_voltage.store(220.0f + f / 10);
    device_state.out_current.store(f / 7);
    device_state.out_power.store(1000.0f + f);
    device_state.bat_voltage.store(24.0f + f / 100);
    device_state.case_temperature.store(30.0f + f / 10);
    for (int t = 0; t < 8; ++t) device_state.temperatures[t].store(20.0 + t + f / 10);
    device_state.set_ubat_low.store(22.0f + (i % 2));
    device_state.set_pmax.store(3000.0f + (i % 2));
    for (int bit = 0; bit < 5; ++bit) {
        device_state.kx_status1[bit].store((i >> bit) & 1);
        device_state.kx_status2[bit].store((i >> (bit + 1)) & 1);
    }
}

void BM_KxDisplayTick(benchmark::State& state) {
    QWidget window;
    auto* page = new zorvane::c_kx_dialog(&window);
    auto* button = new QPushButton(&window);
    window.show();
    QApplication::processEvents();
    int i = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        vary_device_state(++i);
        zorvane::kx_display_step(*page, *button);
        // The repaint the tick causes belongs to it.
        QApplication::processEvents();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    const double per_tick = elapsed.count() / static_cast<double>(state.iterations());
    state.counters["share_of_200ms_pct"] = per_tick / 0.2 * 100.0;
}
BENCHMARK(BM_KxDisplayTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("ZORVANE_PORT_DIR", "/nonexistent", 0);
    QApplication app(argc, argv);
    zorvane::CKorvellApp::prepare(app);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
