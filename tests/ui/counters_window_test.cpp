#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <cstdlib>

#include "counters/c_dlg_srch.h"
#include "counters/counter_format.h"
#include "counters/res_dialog.h"
#include "state/device_state.h"
#include "ui/dialog_template.h"

namespace zorvane {
namespace {

QString value(const CountersWindow& window, int row) {
    return window.value_static(row)->text();
}

// Counters start at zero for every test, before its windows are built.
struct ZeroCounters {
    ZeroCounters() { device_state.lifetime_counters.publish(CounterValues{}); }
    ~ZeroCounters() { device_state.lifetime_counters.publish(CounterValues{}); }
};

class CountersWindowTest : public ::testing::Test {
  protected:
    ZeroCounters m_zero;  // first member: in effect before the windows below
    c_dlg_srch m_kx;
    res_dialog m_qm;
};

TEST_F(CountersWindowTest, TemplatesGiveRowsIdsAndLayout) {
    EXPECT_EQ(m_kx.size(), QSize(dlu_x(377), dlu_y(241)));
    EXPECT_EQ(m_qm.size(), QSize(dlu_x(377), dlu_y(254)));
    EXPECT_EQ(m_kx.rows(), 16);  // no transfer count on a KX device
    EXPECT_EQ(m_qm.rows(), 17);
    const auto caption_width = [](int row) {
        switch (row) {
            case 3:
                return 260;
            case 6:
                return 256;
            case 8:
            case 12:
                return 257;
            case 16:
                return 259;
            default:
                return 258;
        }
    };
    for (auto [window, first_id] : {std::pair<CountersWindow*, int>{&m_kx, 1139}, {&m_qm, 1105}}) {
        EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Ресурсные данные"));
        for (int row = 0; row < window->rows(); ++row) {
            SCOPED_TRACE(row);
            const int y = 10 + 14 * row;
            EXPECT_EQ(window->caption_static(row)->geometry(),
                      dlu_rect(12, y, caption_width(row), 8));
            EXPECT_EQ(window->value_static(row)->geometry(), dlu_rect(271, y, 95, 8));
            EXPECT_EQ(window->value_static(row)->objectName(), QString::number(first_id + row));
            EXPECT_TRUE(window->value_static(row)->alignment() & Qt::AlignLeft);
        }
        EXPECT_EQ(window->findChild<QWidget*>(QString::number(first_id + window->rows())), nullptr);
        EXPECT_TRUE(window->findChildren<QAbstractButton*>().isEmpty());
        for (QWidget* child : window->findChildren<QWidget*>())
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus);
    }
}

TEST_F(CountersWindowTest, CaptionsAreWholeAndLeadersFitTheirStatics) {
    const QFontMetrics metrics(m_qm.font());
    for (int row = 0; row < m_qm.rows(); ++row) {
        SCOPED_TRACE(row);
        const CounterDef& def = counter_table()[static_cast<size_t>(row)];
        const QString text = m_qm.caption_static(row)->text();
        const QString own = QString::fromUtf8(def.caption);
        ASSERT_TRUE(text.startsWith(own));
        const QString tail = text.mid(own.size() + (row == 3 ? 1 : 0));
        EXPECT_EQ(tail, QString(tail.size(), u'.'));
        EXPECT_LE(tail.size(), def.leader);
        EXPECT_GT(tail.size(), 0);
        EXPECT_LE(metrics.horizontalAdvance(text), m_qm.caption_static(row)->width());
        // The longest text a counter can have is never cut either.
        EXPECT_LE(metrics.horizontalAdvance(QString::fromUtf8(format_counter(row, INT32_MIN))),
                  m_qm.value_static(row)->width());
    }
}

TEST_F(CountersWindowTest, RowsShowOneCopyOfTheCounters) {
    // Before any counters reply.
    for (const CountersWindow* window : {(CountersWindow*)&m_kx, (CountersWindow*)&m_qm}) {
        for (int row = 0; row < window->rows(); ++row) {
            const char* zero = row == 5               ? "0 BA*ч"
                               : row >= 1 && row <= 4 ? "0 д. 0 ч. 0 мин. 0 с."
                                                      : "0";
            EXPECT_EQ(value(*window, row), QString::fromUtf8(zero)) << row;
        }
    }

    CounterValues counters{};
    counters[1] = 90061;
    counters[3] = 3600;
    counters[5] = 1234;
    counters[16] = 5;
    device_state.lifetime_counters.publish(counters);
    c_dlg_srch kx;
    res_dialog qm;
    qm.show();
    // Published after opening: the open windows keep their copy.
    device_state.lifetime_counters.publish(
        CounterValues{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7});
    QCoreApplication::processEvents();
    for (const CountersWindow* window : {(CountersWindow*)&kx, (CountersWindow*)&qm}) {
        EXPECT_EQ(value(*window, 0), "0");
        EXPECT_EQ(value(*window, 1), QString::fromUtf8("1 д. 1 ч. 1 мин. 1 с."));
        EXPECT_EQ(value(*window, 3), QString::fromUtf8("0 д. 1 ч. 0 мин. 0 с."));
        EXPECT_EQ(value(*window, 5), QString::fromUtf8("1234 BA*ч"));
    }
    EXPECT_EQ(value(qm, 16), "5");
    EXPECT_EQ(value(res_dialog(), 16), "7");  // opened again: the newer values
}

TEST_F(CountersWindowTest, EnterAndEscCloseTheWindow) {
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, int> cases[] = {
        {Qt::Key_Return, Qt::NoModifier, QDialog::Accepted},
        {Qt::Key_Enter, Qt::KeypadModifier, QDialog::Accepted},
        {Qt::Key_Escape, Qt::NoModifier, QDialog::Rejected},
        {Qt::Key_Space, Qt::NoModifier, -1},  // any other key leaves it open
    };
    for (auto [key, modifiers, result] : cases) {
        res_dialog window;
        window.setResult(-1);
        window.show();
        QTest::keyClick(&window, key, modifiers);
        EXPECT_EQ(window.isVisible(), result == -1) << key;
        EXPECT_EQ(window.result(), result) << key;
    }
}

// Writes both windows with sample counters as PNG files when
// ZORVANE_SCREENSHOT_DIR names a directory (scripts/counters-screenshots.sh).
TEST_F(CountersWindowTest, Screenshots) {
    const char* dir = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "ZORVANE_SCREENSHOT_DIR not set";
    device_state.lifetime_counters.publish(CounterValues{
        1234, 1000000, 90061, 3600, 2147483647, 1234, 65535, 3, 12, 0, 510, 1, 44, 2, 0, 7, 5});
    const QString base = QString::fromLocal8Bit(dir);
    EXPECT_TRUE(c_dlg_srch().grab().save(base + "/counters-kx.png"));
    EXPECT_TRUE(res_dialog().grab().save(base + "/counters-qm.png"));
}

}  // namespace
}  // namespace zorvane
