// The window over a simulated KX-24 that stops answering and answers again:
// the page goes blank with a notice of the last answer, nothing can be
// written but the generation button still sends, and everything returns at
// the next tick once the device answers.
#include <QDateTime>
#include <QLabel>
#include <algorithm>
#include <cstdlib>

#include "sim/faults.h"
#include "ui/bitmaps.h"
#include "ui_fixture.h"

namespace zorvane::testing {
namespace {

using DeviceSilence = TwoDevices;

TEST_F(DeviceSilence, ADeviceThatStopsAnsweringIsShownAsNotAnswering) {
    open_window();
    select_device(Family::Kx);
    c_kx_dialog& page = *m_dlg->kx_page();
    QLabel* notice = m_dlg->silence_notice();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return page.edit(kx::kBatVoltage)->text() == QStringLiteral("26.4 B"); }, 5000));
    QTest::qWait(300);
    EXPECT_FALSE(notice->isVisible());
    screenshot(*m_dlg, "window-kx-answering.png");

    m_kx->inject(sim::fault::silence());
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice->isVisible(); }, 8000));
    const QString last = QDateTime::fromMSecsSinceEpoch(device_state.g_last_answer_ms.load())
                             .toLocalTime()
                             .toString(QStringLiteral("HH:mm:ss"));
    EXPECT_EQ(
        notice->text(),
        QStringLiteral("Устройство не отвечает с %1. Проверьте соединительный кабель").arg(last));
    for (int id : c_kx_dialog::kTextIds) EXPECT_TRUE(page.edit(id)->text().isEmpty()) << id;
    for (int id : {kx::kUoutNom, kx::kUbatLow, kx::kPmax, kx::kUbatMinOn, kx::kUbatMin}) {
        EXPECT_TRUE(page.edit(id)->text().isEmpty()) << id;
        EXPECT_TRUE(page.edit(id)->isReadOnly()) << id;
    }
    EXPECT_EQ(page.picture(kx::kLampGeneration)->property("bitmap_id").toInt(), bmp::kNothing);
    EXPECT_EQ(m_dlg->gen_button()->text(), QStringLiteral("--//--"));
    screenshot(*m_dlg, "window-kx-not-answering.png");

    // The generation button still reaches the device: a technician may try
    // to wake it that way. The last state read was generating, so it offers
    // to switch off, and asks first.
    m_kx->clear_log();
    m_boxes.answer = [](QDialog& modal) { return answer_question(modal, true); };
    m_dlg->gen_button()->click();
    m_boxes.answer = nullptr;
    // The box took the activation: the technician comes back to the window
    // (whose settings fields are refreshed only while it is active).
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get(), 1000));
    const auto actions = m_kx->received();
    EXPECT_TRUE(std::any_of(actions.begin(), actions.end(), [](const Bytes& f) {
        return f.size() == 3 && (f[1] == 0x48 || f[1] == 0x49);
    }));

    m_kx->clear_faults();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->isVisible(); }, 8000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return page.edit(kx::kUbatLow)->text() == QStringLiteral("22.0 B"); }, 5000));
    EXPECT_FALSE(page.edit(kx::kUbatLow)->isReadOnly());
}

}  // namespace
}  // namespace zorvane::testing
