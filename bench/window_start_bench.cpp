// From the start of the window to the first values on screen, with a QM-48
// on COM3 of a port directory at the real line rate: the search announcement
// is answered at once, then the time until the search is over and until the
// output voltage field of the QM page shows a value is printed.
//
//   bench_window_start [runs]     (default 3)
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/korvell_app.h"
#include "app/korvell_dlg.h"
#include "box_answerer.h"
#include "pages/c_qm_dialog.h"
#include "sim/port_directory.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvane;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    sim::PortDirectory ports;
    if (ports.add(3,
                  sim::DeviceConfig{.model = DeviceModel::QM48, .serial = "12345", .battery = {}},
                  sim::PortOptions{.pace = true}) == nullptr) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    setenv("ZORVANE_PORT_DIR", ports.path().c_str(), 1);
    QApplication app(argc, argv);
    CKorvellApp::prepare(app);

    std::vector<double> to_values;
    for (int run = 0; run < runs; ++run) {
        bench::BoxAnswerer answer(1);

        auto dialog = std::make_unique<CKorvellDlg>();
        if (!dialog->OnInitDialog())
            return 1;
        const double search_s = seconds_since(answer.answered);
        dialog->show();
        auto* field = qobject_cast<QLineEdit*>(dialog->qm_page()->control(qm_id::kOutVoltage));
        double values_s = -1;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (field != nullptr && !field->text().isEmpty()) {
                values_s = seconds_since(answer.answered);
                dialog->done(0);
            }
        });
        look.start(1);
        QTimer::singleShot(30000, dialog.get(), [&] { dialog->done(0); });
        dialog->exec();
        dialog.reset();
        std::printf("run %d: search over %.3f s, first values %.3f s after the announcement\n",
                    run + 1, search_s, values_s);
        to_values.push_back(values_s);
    }
    std::sort(to_values.begin(), to_values.end());
    std::printf("window start to the first values, QM-48: best %.3f s, median %.3f s\n",
                to_values.front(), to_values[to_values.size() / 2]);
    return 0;
}
