// The trend window over simulated devices with the worker polling them:
// each device keeps its own history, the device tab switches the charts, and
// the window's recording writes the same CSV as the command line.
#include "app/trend_window.h"

#include <gtest/gtest.h>

#include <QChartView>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QValueAxis>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "app/korvell_dlg.h"
#include "app/trend_feed.h"
#include "record/csv_recorder.h"
#include "ui_fixture.h"

namespace zorvane {
namespace {

const size_t kBatVoltage = static_cast<size_t>(trend_series_index("bat_voltage"));
const size_t kTemperature0 = static_cast<size_t>(trend_series_index("temperatures_0"));

class TrendWindowTest : public testing::UiFixture {
  protected:
    void open_window() {
        UiFixture::open_window();
        m_dlg->OnTrends();
        ASSERT_NE(m_dlg->trend_window(), nullptr);
    }
    // Processes events until the device on `port` has `n` points.
    bool points(int port, size_t n) {
        return QTest::qWaitFor(
            [&] {
                const TrendHistory* h = m_dlg->trend_feed()->history(port);
                return h != nullptr && h->size() >= n;
            },
            10000);
    }
    int tab_of(int port) {
        for (int i = 0; i < m_dlg->tabs()->count(); ++i)
            if (m_dlg->tabs()->item(i)->port == port)
                return i;
        return -1;
    }
    // An hour of a unit whose load comes and goes (current and power down
    // to zero), up to two seconds ago.
    static void fill_hour(TrendHistory& history) {
        const int64_t now = QDateTime::currentMSecsSinceEpoch();
        for (int64_t t = now - 3600 * 1000; t < now - 2000; t += 500) {
            const double x = static_cast<double>(t - now) / 1000;
            const double load = 0.5 + 0.5 * std::sin(x / 300) * std::sin(x / 47);
            std::vector<float> v(trend_series().size(), NAN);
            for (size_t s = 0; s < v.size(); ++s)
                v[s] = static_cast<float>(28 + 0.5 * static_cast<double>(s) + 9 * load);
            auto set = [&](const char* column, double value) {
                v[static_cast<size_t>(trend_series_index(column))] = static_cast<float>(value);
            };
            set("out_voltage", 230 + std::sin(x / 13));
            set("bat_voltage", 26.8 - 1.6 * load);
            set("out_current", 13 * load);
            set("out_power", 3000 * load);
            history.append(t, v);
        }
    }
    // The battery voltages the chart shows, as a set of distinct values.
    std::set<float> shown_battery() {
        m_dlg->trend_window()->redraw();
        std::set<float> values;
        for (const QPointF& p : m_dlg->trend_window()->line(kBatVoltage)->points())
            values.insert(static_cast<float>(p.y()));
        return values;
    }
};

TEST_F(TrendWindowTest, TheDeviceTabSwitchesTheChartsAndEachDeviceKeepsItsHistory) {
    ASSERT_NE(m_ports.add(2, {DeviceModel::KX24, "1", uint16_t{264}}), nullptr);
    ASSERT_NE(m_ports.add(5, {DeviceModel::QM48, "2", uint16_t{531}}), nullptr);
    open_window();
    TrendWindow& trends = *m_dlg->trend_window();
    const int kx_tab = tab_of(2);
    const int qm_tab = tab_of(5);
    ASSERT_GE(kx_tab, 0);
    ASSERT_GE(qm_tab, 0);

    m_dlg->tabs()->select(kx_tab);
    ASSERT_TRUE(points(2, 2));
    EXPECT_EQ(trends.shown_port(), 2);
    EXPECT_EQ(shown_battery(), std::set<float>{26.4f});

    m_dlg->tabs()->select(qm_tab);
    EXPECT_EQ(trends.shown_port(), 5);
    EXPECT_TRUE(trends.windowTitle().contains(m_dlg->tabs()->caption(qm_tab)));
    ASSERT_TRUE(points(5, 2));
    EXPECT_EQ(shown_battery(), std::set<float>{53.1f});
    const size_t kx_points = m_dlg->trend_feed()->history(2)->size();

    // Back to the KX: its history is all there, drawn before any new pass.
    m_dlg->tabs()->select(kx_tab);
    EXPECT_EQ(trends.shown_port(), 2);
    EXPECT_EQ(m_dlg->trend_feed()->history(2)->size(), kx_points);
    EXPECT_EQ(shown_battery(), std::set<float>{26.4f});
    // A drag across a chart zooms into that stretch and holds it still; the
    // live passes do not move it until "Продолжить".
    trends.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&trends));
    trends.redraw();
    QChartView* view = trends.view(0);
    const auto* axis = qobject_cast<QDateTimeAxis*>(view->chart()->axes(Qt::Horizontal).at(0));
    const qint64 span = axis->min().msecsTo(axis->max());
    const QRect plot = view->chart()->plotArea().toRect();
    const QPoint from(plot.left() + plot.width() / 4, plot.center().y());
    const QPoint to(plot.left() + plot.width() / 2, plot.center().y());
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
    EXPECT_TRUE(trends.paused());
    const QDateTime zoomed_min = axis->min();
    EXPECT_LT(zoomed_min.msecsTo(axis->max()), span / 2);
    QTest::qWait(1500);
    EXPECT_EQ(axis->min(), zoomed_min);
    trends.set_paused(false);
    EXPECT_GT(axis->min().msecsTo(axis->max()), span / 2);

    // A switched-off series is drawn empty.
    trends.set_series_visible(kBatVoltage, false);
    EXPECT_TRUE(shown_battery().empty());
}

TEST_F(TrendWindowTest, RecordingFromTheWindowWritesTheCsvOfTheCommandLine) {
    ASSERT_NE(m_ports.add(3, {DeviceModel::KX24, "7", uint16_t{255}}), nullptr);
    open_window();
    TrendWindow& trends = *m_dlg->trend_window();
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("zorvane-trend-" + std::to_string(getpid()) + ".csv");
    std::filesystem::remove(path);

    ASSERT_TRUE(trends.toggle_recording(QString::fromStdString(path.string())));
    EXPECT_EQ(trends.record_button()->text(), QStringLiteral("Остановить запись"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dlg->trend_feed()->recorded_rows() >= 3; }, 10000));
    EXPECT_TRUE(trends.record_status()->text().contains(
        QStringLiteral("записано строк: %1").arg(m_dlg->trend_feed()->recorded_rows())));
    ASSERT_TRUE(trends.toggle_recording({}));
    EXPECT_EQ(trends.record_button()->text(), QStringLiteral("Записать в файл…"));
    const int64_t rows = m_dlg->trend_feed()->recorded_rows();

    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, CsvRecorder::header(record_columns(1)));
    int64_t lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_NE(line.find(",ok,"), std::string::npos);
        EXPECT_NE(line.find(",25.5,"), std::string::npos);  // the battery voltage
    }
    EXPECT_EQ(lines, rows);
    std::filesystem::remove(path);
}

// Pictures of the trend window for a person to look at: an hour of a
// battery sagging under a load that comes and goes, then the live passes.
// Every line of a chart has a pen of its own; the value axes tick at round
// numbers and do not go below zero for what cannot be negative; Esc closes.
TEST_F(TrendWindowTest, LinesAreToldApartAxesAreRoundAndEscCloses) {
    ASSERT_NE(m_ports.add(4, {DeviceModel::KX24, "20417", {}}), nullptr);
    open_window();
    TrendWindow& trends = *m_dlg->trend_window();
    fill_hour(m_dlg->trend_feed()->history_for(4));
    for (size_t s = 0; s < trend_series().size(); ++s)
        if (trend_series()[s].kx)
            trends.set_series_visible(s, true);
    trends.set_span(TrendWindow::Hour1);

    std::vector<std::set<std::pair<QRgb, int>>> pens(trend_charts().size());
    for (size_t s = 0; s < trend_series().size(); ++s) {
        const QPen pen = trends.line(s)->pen();
        EXPECT_TRUE(pens[trend_series()[s].chart].insert({pen.color().rgb(), pen.style()}).second)
            << trend_series()[s].column;
    }
    for (size_t c = 0; c < trend_charts().size(); ++c) {
        const auto* axis =
            qobject_cast<QValueAxis*>(trends.view(c)->chart()->axes(Qt::Vertical).value(0));
        ASSERT_NE(axis, nullptr);
        if (!trends.view(c)->isVisible())
            continue;
        const std::string chart = trend_charts()[c].title.toStdString();
        const double step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
        EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 ||
                    std::abs(mantissa - 5) < 1e-9)
            << chart << " step " << step;
        EXPECT_NEAR(axis->min() / step, std::round(axis->min() / step), 1e-6) << chart;
        if (trend_charts()[c].never_negative) {
            EXPECT_GE(axis->min(), 0.0) << chart;
        }
    }
    EXPECT_LT(qobject_cast<QValueAxis*>(
                  trends.view(trend_series()[kTemperature0].chart)->chart()->axes(Qt::Vertical)[0])
                  ->max(),
              100.0);

    trends.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&trends, 1000));
    QTest::keyClick(&trends, Qt::Key_Escape);
    EXPECT_FALSE(trends.isVisible());
}

TEST_F(TrendWindowTest, Screenshots) {
    const char* dir = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (dir == nullptr)
        GTEST_SKIP() << "ZORVANE_SCREENSHOT_DIR not set";
    ASSERT_NE(m_ports.add(4, {DeviceModel::KX24, "20417", {}}), nullptr);
    TrendFeed* feed = nullptr;
    m_dlg = std::make_unique<testing::TestWindow>();
    ASSERT_TRUE(m_dlg->OnInitDialog());
    feed = m_dlg->trend_feed();
    TrendHistory& history = feed->history_for(4);
    fill_hour(history);
    m_dlg->show();
    m_dlg->OnTrends();
    TrendWindow& trends = *m_dlg->trend_window();
    trends.set_series_visible(static_cast<size_t>(trend_series_index("temperatures_1")), true);
    trends.set_series_visible(static_cast<size_t>(trend_series_index("temperatures_5")), true);
    trends.set_span(TrendWindow::Hour1);
    ASSERT_TRUE(points(4, history.size() + 2));
    QTest::qWait(300);
    trends.redraw();
    const QString base = QString::fromLocal8Bit(dir);
    EXPECT_TRUE(trends.grab().save(base + "/trend-window-1h.png"));
    EXPECT_TRUE(trends.save_png(base + "/trend-charts-export.png"));
    EXPECT_TRUE(m_dlg->grab().save(base + "/window-main-with-trend-button.png"));

    // Every temperature on, in the smallest window a technician would use.
    for (size_t t = 0; t < trend_series().size(); ++t)
        if (trend_series()[t].chart == trend_series()[kTemperature0].chart)
            trends.set_series_visible(t, true);
    trends.resize(600, 400);
    QTest::qWait(100);
    trends.redraw();
    EXPECT_TRUE(trends.grab().save(base + "/trend-window-600x400.png"));
}

}  // namespace
}  // namespace zorvane
