// Resident memory of the tool after a minute of polling: the main window on a
// simulated KX-24 at the real line rate, the worker polling and the display
// ticking, as a technician would leave it running.
//
//   bench_window_memory [seconds]     (default 60)
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/korvell_app.h"
#include "app/korvell_dlg.h"
#include "box_answerer.h"
#include "proc_status.h"
#include "sim/port_directory.h"

using zorvane::bench::resident_kib;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    zorvane::sim::PortDirectory ports;
    zorvane::sim::SimulatedPort* device =
        ports.add(5,
                  zorvane::sim::DeviceConfig{
                      .model = zorvane::DeviceModel::KX24, .serial = "1", .battery = {}},
                  zorvane::sim::PortOptions{.pace = true});
    if (device == nullptr) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    setenv("ZORVANE_PORT_DIR", ports.path().c_str(), 1);

    QApplication app(argc, argv);
    zorvane::CKorvellApp::prepare(app);
    const long before_window = resident_kib();

    zorvane::bench::BoxAnswerer answer;  // the search announcement

    zorvane::CKorvellDlg dialog;
    if (!dialog.OnInitDialog())
        return 1;
    dialog.show();
    int ticks = 0;
    QObject::connect(&dialog.timer(), &QTimer::timeout, [&] { ++ticks; });

    long after_start = 0;
    QTimer::singleShot(2000, [&] { after_start = resident_kib(); });
    QTimer::singleShot(seconds * 1000, &dialog, [&] { dialog.done(0); });
    const auto begin = std::chrono::steady_clock::now();
    dialog.exec();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const long after_run = resident_kib();
    const size_t frames = device->received().size();

    std::printf("polling time             %8.1f s\n", elapsed);
    std::printf("display ticks            %8d\n", ticks);
    std::printf("frames to the device     %8zu (%.1f passes/s at 15 a pass)\n", frames,
                static_cast<double>(frames) / 15.0 / elapsed);
    std::printf("resident, Qt up          %8ld KiB\n", before_window);
    std::printf("resident, 2 s polling    %8ld KiB\n", after_start);
    std::printf("resident, end of run     %8ld KiB\n", after_run);
    return 0;
}
