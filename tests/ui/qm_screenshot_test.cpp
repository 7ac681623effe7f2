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
#include "pages/c_qm_dialog.h"
#include "ui_fixture.h"

namespace zorvane::testing {
namespace {

using QmScreenshots = UiFixture;

TEST_F(QmScreenshots, LiveQm48EachSettingsTab) {
    const char* out = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (!out)
        GTEST_SKIP() << "ZORVANE_SCREENSHOT_DIR not set";

    sim::SimulatedPort* device = add_device(3, DeviceModel::QM48, "12345");
    ASSERT_NE(device, nullptr);
    device->with_device([](sim::SimDevice& d) {
        d.set_live(true);
        d.set_status_byte(0, 0x44);  // generating, on the mains
        d.set_status_byte(1, 0x20);  // charging: bulk
    });

    // As the tool starts: its font, the search announcement answered.
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    open_window();
    ASSERT_TRUE(QTest::qWaitFor([] { return device_state.set_pmax.load() != 0; }, 5000));
    QTest::qWait(600);

    QTabWidget* tabs = qm_page()->settings_tab();
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(450);  // two ticks
        screenshot(*m_dlg, QStringLiteral("qm-tab%1.png").arg(i + 1));
    }
}

}  // namespace
}  // namespace zorvane::testing
