// Pictures of the main window with a simulated QM-48, one per settings tab of
// the QM page, for looking at the layout. Written only when
// ZORVANE_SCREENSHOT_DIR names a folder (scripts/qm-screenshots.sh).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>

#include "app/korvell_dlg.h"
#include "link/discovery.h"
#include "modal_boxes.h"
#include "pages/c_qm_dialog.h"
#include "sim/port_directory.h"
#include "state/device_state.h"

namespace zorvane::testing {
namespace {

TEST(QmScreenshots, LiveQm48EachSettingsTab) {
    const char* out = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (!out)
        GTEST_SKIP() << "ZORVANE_SCREENSHOT_DIR not set";

    sim::PortDirectory ports;
    sim::DeviceConfig config;
    config.model = DeviceModel::QM48;
    config.serial = "12345";
    sim::SimulatedPort* device = ports.add(3, config);
    ASSERT_NE(device, nullptr);
    device->with_device([](sim::SimDevice& d) {
        d.set_live(true);
        d.set_status_byte(0, 0x44);  // generating, on the mains
        d.set_status_byte(1, 0x20);  // charging: bulk
    });
    ::setenv("ZORVANE_PORT_DIR", ports.path().c_str(), 1);

    // As the tool starts: its font, the search announcement answered.
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    ModalAnswerer answerer;
    CKorvellDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(QTest::qWaitFor([] { return device_state.set_pmax.load() != 0; }, 5000));
    QTest::qWait(600);

    QTabWidget* tabs = window.qm_page()->settings_tab();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(450);  // two ticks
        const QString file =
            QStringLiteral("%1/qm-tab%2.png").arg(QString::fromLocal8Bit(out)).arg(i + 1);
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    }
    window.close();
    ::setenv("ZORVANE_PORT_DIR", "/nonexistent", 1);
}

}  // namespace
}  // namespace zorvane::testing
