// The QM page and its settings pages: the inner tab control, teardown,
// keyboard navigation, Enter and Esc, tooltips.
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QTabBar>
#include <QToolTip>
#include <vector>

#include "pages/c_tab_1.h"
#include "pages/c_tab_2.h"
#include "pages/c_tab_3.h"
#include "pages/c_tab_4.h"
#include "ui/page_font.h"
#include "ui/tooltip_control.h"
#include "ui_fixture.h"

namespace zorvane::testing {
namespace {

class QmPage : public UiFixture {
  protected:
    void SetUp() override {
        UiFixture::SetUp();
        host_qm_page();
    }
};

// The control id of a widget (its object name), 0 for the page itself.
int id_of(const QWidget* w) {
    return w ? w->objectName().toInt() : -1;
}

TEST_F(QmPage, InnerTabHoldsTheFourSettingsPages) {
    QTabWidget* tabs = m_qm_page->settings_tab();
    ASSERT_EQ(tabs->count(), 4);
    const char* captions[] = {"Инвертор", "ИБП", "Зарядное устр.", "Внеш. генератор"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tabs->tabText(i), QString::fromUtf8(captions[i]));
    EXPECT_TRUE(qobject_cast<c_tab_1*>(tabs->widget(0)));
    EXPECT_TRUE(qobject_cast<c_tab_2*>(tabs->widget(1)));
    EXPECT_TRUE(qobject_cast<c_tab_3*>(tabs->widget(2)));
    EXPECT_TRUE(qobject_cast<c_tab_4*>(tabs->widget(3)));

    // Children of the tab control, below its row of tabs, the first shown.
    const int tab_row_bottom = tabs->tabBar()->geometry().bottom();
    for (int i = 0; i < 4; ++i) {
        QWidget* page = tabs->widget(i);
        EXPECT_TRUE(tabs->isAncestorOf(page));
        EXPECT_GT(page->mapTo(tabs, QPoint(0, 0)).y(), tab_row_bottom);
        EXPECT_TRUE(tabs->rect().contains(QRect(page->mapTo(tabs, QPoint(0, 0)), page->size())))
            << "page " << i << " sticks out of the tab control";
        EXPECT_EQ(page->isVisible(), i == 0) << "page " << i;
    }

    // Clicking "ИБП" shows its page instead of the inverter page, and back.
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_TRUE(tabs->widget(1)->isVisible());
    EXPECT_FALSE(tabs->widget(0)->isVisible());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    EXPECT_TRUE(tabs->widget(0)->isVisible());
    EXPECT_FALSE(tabs->widget(1)->isVisible());
    EXPECT_EQ(bar->focusPolicy() & Qt::TabFocus, 0) << "the tab control is no tab stop";
}

TEST_F(QmPage, TeardownFreesThePagesLastTabFirst) {
    std::vector<int> freed;
    for (int i = 0; i < 4; ++i) {
        QObject::connect(m_qm_page->settings_tab()->widget(i), &QObject::destroyed,
                         [&freed, i] { freed.push_back(i); });
    }
    delete m_qm_page;
    m_qm_page = nullptr;
    EXPECT_EQ(freed, (std::vector<int>{3, 2, 1, 0}));
}

TEST_F(QmPage, TabWalksEachPageInTemplateOrderAndWraps) {
    struct Walk {
        int tab;
        std::vector<int> order;
    };
    const Walk walks[] = {
        {0, {1090, 1091, 1092, 1093, 1094}},
        {1, {1095, 1097, 1096, 1098}},
        {2, {1099, 1100, 1101, 1102, 1084, 1086}},
        {3, {1088, 1080, 1081, 1082, 1083, 1089, 1126}},
    };
    for (const Walk& walk : walks) {
        SCOPED_TRACE(walk.tab);
        show_tab(walk.tab);
        focus(tab(walk.tab)->control(walk.order.front()));
        std::vector<int> seen{id_of(QApplication::focusWidget())};
        for (size_t i = 0; i < walk.order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen.push_back(id_of(QApplication::focusWidget()));
        }
        std::vector<int> expected = walk.order;
        expected.push_back(walk.order.front());  // wraps inside the page
        EXPECT_EQ(seen, expected);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        EXPECT_EQ(id_of(QApplication::focusWidget()), walk.order.back());
    }

    // The QM page's own tab stops: its read-only fields.
    const std::vector<int> own = {1029, 1030, 1033, 1036, 1103, 1127,
                                  1126, 1128, 1129, 1131, 1132, 1133};
    focus(m_qm_page->control(own.front()));
    std::vector<int> seen{1029};
    for (size_t i = 0; i < own.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(id_of(QApplication::focusWidget()));
        ASSERT_EQ(QApplication::focusWidget()->parentWidget(), m_qm_page);
    }
    std::vector<int> expected = own;
    expected.push_back(own.front());
    EXPECT_EQ(seen, expected);
}

TEST_F(QmPage, EnterAndEscMoveTheFocusToTheLabel) {
    struct Case {
        int tab, edit, label;
    };
    const Case cases[] = {
        {0, tab1_id::kPmax, tab1_id::kUbatLowLabel},
        {1, tab2_id::kUrmsLowH, tab2_id::kVoltageHeading},
        {2, tab3_id::kAbsTime, tab3_id::kFloatTimeLabel},
        {3, tab4_id::kEGenSleep, tab4_id::kEGenTypeLabel},
        {3, tab4_id::kEGenUbat, tab4_id::kEGenTypeLabel},
    };
    for (const Case& c : cases) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            SCOPED_TRACE(c.edit);
            show_tab(c.tab);
            focus(tab(c.tab)->control(c.edit));
            QTest::keyClick(QApplication::focusWidget(), key);
            EXPECT_EQ(QApplication::focusWidget(), tab(c.tab)->control(c.label));
            EXPECT_TRUE(tab(c.tab)->isVisible());
            EXPECT_TRUE(m_host->isVisible());
        }
    }
    // On the QM page's own fields the focus goes to the page.
    focus(m_qm_page->control(qm_id::kBatVoltage));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), m_qm_page);
}

TEST_F(QmPage, EveryLabelShowsItsWholeText) {
    // Under the font the tool runs with and under the platform's default.
    for (const QFont& app_font : {QFont("DejaVu Sans", 8), QApplication::font()}) {
        const QFont before = QApplication::font();
        QApplication::setFont(app_font);
        c_qm_dialog page(nullptr);
        QApplication::setFont(before);
        int labels = 0;
        for (QLabel* label : page.findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;
            ++labels;
            EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
        }
        EXPECT_EQ(labels, 22 + 6 + 7 + 7 + 6);  // the page and its four settings pages
        EXPECT_GE(page.font().pointSizeF(), kSmallestPageFont);
    }
}

QWidget* visible_tip() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->inherits("QTipLabel") && w->isVisible())
            return w;
    }
    return nullptr;
}

TEST_F(QmPage, SettingsTooltipsWrapAt250Pixels) {
    for (int i = 0; i < 4; ++i) {
        const TooltipControl& tips = tab(i)->tooltip();
        EXPECT_EQ(tips.max_tip_width(), 250);
        for (QLineEdit* edit : tab(i)->findChildren<QLineEdit*>()) {
            SCOPED_TRACE(edit->objectName().toStdString());
            ASSERT_FALSE(edit->toolTip().isEmpty());
            const QString shown = tips.shown_text(edit->toolTip());
            EXPECT_EQ(QString(shown).replace('\n', ' '), edit->toolTip()) << "no word lost";
            for (const QString& line : shown.split('\n'))
                EXPECT_LE(QFontMetrics(QToolTip::font()).horizontalAdvance(line), 250);
        }
        for (QLabel* label : tab(i)->findChildren<QLabel*>())
            EXPECT_TRUE(label->toolTip().isEmpty());
    }
    EXPECT_FALSE(tab(3)->get<QComboBox>(tab4_id::kEGenUbat)->toolTip().isEmpty());

    // The tip itself, as hovering shows it: several lines, within 250 pixels.
    QLineEdit* ubat_low = tab_edit(0, tab1_id::kUbatLow);
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), ubat_low->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(ubat_low, &hover);
    QWidget* tip = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&tip] { return (tip = visible_tip()) != nullptr; }, 2000));
    EXPECT_LE(tip->width(), 250);
    EXPECT_GE(tip->height(), 3 * QFontMetrics(QToolTip::font()).height());
    QToolTip::hideText();

    // The QM page's own tips stay on one line.
    for (int id : {1127, 1126, 1128, 1129, 1131, 1132, 1133}) {
        const QString text = m_qm_page->control(id)->toolTip();
        EXPECT_TRUE(text.startsWith("Температура")) << id;
        EXPECT_EQ(m_qm_page->tooltip().shown_text(text), text);
    }
}

}  // namespace
}  // namespace zorvane::testing
