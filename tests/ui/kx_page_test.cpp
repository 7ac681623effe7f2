// The KX page on its own: template, tab order, tooltips, the display step
// with its edge cases and the focus rule, Enter and Esc. No worker, no port.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <cmath>

#include "pages/c_kx_dialog.h"
#include "ui/bitmaps.h"
#include "ui_fixture.h"

namespace zorvane {
namespace {

class KxPageTest : public testing::UiFixture {
  protected:
    void SetUp() override {
        UiFixture::SetUp();
        host_kx_page();
        m_page = m_kx_page;
    }

    QString text(int id) const { return m_page->edit(id)->text(); }
    int image(int id) const { return m_page->picture(id)->property("bitmap_id").toInt(); }
    void tick() { step(); }

    c_kx_dialog* m_page = nullptr;
};

TEST_F(KxPageTest, FocusableControlsFollowTheTemplateOrder) {
    const std::vector<int> expected = {1020, 1022, 1023, 1024, 1037, 1039, 1040, 1041, 1042,
                                       1045, 1046, 1047, 1048, 1049, 1050, 1051, 1052, 1053};
    std::vector<int> chain;
    QWidget* first = m_page->edit(1020);
    QWidget* w = first;
    do {
        if (m_page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus))
            chain.push_back(w->objectName().toInt());
        w = w->nextInFocusChain();
    } while (w != first);
    EXPECT_EQ(chain, expected);

    // Every edit takes part, the read-only ones included; only the five
    // settings can be typed into, once the display has shown their values.
    tick();
    for (int id : expected) {
        const bool setting = id >= 1037 && id <= 1042;
        EXPECT_EQ(m_page->edit(id)->isReadOnly(), !setting) << id;
    }

    // Tab from UoutNom walks the settings in template order, not screen order.
    m_page->edit(kx::kUoutNom)->setFocus();
    std::vector<int> walked;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked.push_back(QApplication::focusWidget()->objectName().toInt());
    }
    EXPECT_EQ(walked, (std::vector<int>{kx::kUbatLow, kx::kPmax, kx::kUbatMinOn, kx::kUbatMin}));
}

TEST_F(KxPageTest, FourteenTooltipsOnOneLineEach) {
    int with_tip = 0;
    for (QLineEdit* edit : m_page->findChildren<QLineEdit*>())
        with_tip += !edit->toolTip().isEmpty();
    EXPECT_EQ(with_tip, 14);
    EXPECT_EQ(m_page->edit(kx::kTempCase)->toolTip(), QStringLiteral("Температура внутри корпуса"));
    EXPECT_EQ(m_page->edit(kx::kTempRightLowerOuter)->toolTip(),
              QStringLiteral("Температура правого нижнего внешнего радиатора"));
    EXPECT_TRUE(m_page->edit(kx::kOutVoltage)->toolTip().isEmpty());
    // The angle brackets around BATTERY LOW must not turn the tip into markup.
    const QString low = m_page->edit(kx::kUbatLow)->toolTip();
    EXPECT_TRUE(low.contains(QStringLiteral("<<BATTERY LOW>>")));
    EXPECT_FALSE(Qt::mightBeRichText(low));
}

TEST_F(KxPageTest, GenerationOffShowsZeroVoltsGreyLampAndOffersSwitchingOn) {
    device_state.out_voltage.store(230.0f);
    device_state.out_current.store(1.5f);
    device_state.out_power.store(1234.4f);
    tick();
    EXPECT_EQ(text(kx::kOutVoltage), QStringLiteral("0 B"));
    // Current and power are shown as measured whatever the generation does.
    EXPECT_EQ(text(kx::kOutCurrent), QStringLiteral("1.50 A"));
    EXPECT_EQ(text(kx::kOutPower), QStringLiteral("1234 BA"));
    EXPECT_EQ(image(kx::kLampGeneration), bmp::kLampGrey);
    EXPECT_EQ(image(kx::kLampPowerOn), bmp::kLampGreen);
    EXPECT_EQ(m_gen_button->text(), QStringLiteral("Включить"));

    device_state.kx_status1[2].store(1);
    device_state.out_voltage.store(229.96f);
    tick();
    EXPECT_EQ(text(kx::kOutVoltage), QStringLiteral("230.0 B"));
    EXPECT_EQ(image(kx::kLampGeneration), bmp::kLampGreen);
    EXPECT_EQ(m_gen_button->text(), QStringLiteral("Выключить"));
}

TEST_F(KxPageTest, UnitsAreLatinLettersAndTheDegreeSign) {
    device_state.bat_voltage.store(26.04f);
    device_state.case_temperature.store(-5.26f);
    device_state.set_pmax.store(3000.0f);
    device_state.set_ubat_low.store(23.1f);
    tick();
    const QString battery = text(kx::kBatVoltage);
    EXPECT_EQ(battery, QStringLiteral("26.0 B"));
    EXPECT_EQ(battery.back().unicode(), 0x0042);  // Latin B, not Cyrillic В
    const QString degrees = text(kx::kTempCase);
    EXPECT_EQ(degrees, QString::fromUtf8("-5.3 \u00b0 C"));
    EXPECT_EQ(degrees.back().unicode(), 0x0043);
    EXPECT_EQ(text(kx::kPmax), QStringLiteral("3000 BA"));
    EXPECT_EQ(text(kx::kUbatLow), QStringLiteral("23.1 B"));
}

TEST_F(KxPageTest, EachTemperatureGoesToItsPlaceOnTheSchematic) {
    // temperatures[i] = 10 + i; the place of each sensor by its tooltip.
    const std::pair<int, const char*> places[] = {
        {1048, "правого нижнего внешнего"}, {1046, "правого верхнего внешнего"},
        {1052, "правого внутреннего"},      {1047, "правого трансформатора"},
        {1045, "левого верхнего внешнего"}, {1049, "левого трансформатора"},
        {1053, "левого внутреннего"},       {1050, "левого нижнего внешнего"},
    };
    for (int i = 0; i < 8; ++i) device_state.temperatures[i].store(10.0 + i);
    device_state.case_temperature.store(41.0f);
    tick();
    for (int i = 0; i < 8; ++i) {
        const auto [id, sensor] = places[i];
        EXPECT_EQ(text(id), QString::asprintf("%d.0 \u00b0 C", 10 + i)) << id;
        EXPECT_TRUE(m_page->edit(id)->toolTip().contains(QString::fromUtf8(sensor))) << id;
    }
    EXPECT_EQ(text(kx::kTempCase), QString::fromUtf8("41.0 \u00b0 C"));

    // A sensor that is not fitted reads NaN: a dash, not "nan ° C".
    device_state.temperatures[2].store(std::nan(""));
    tick();
    EXPECT_EQ(text(places[2].first), QString::fromUtf8("\u2014"));
    EXPECT_TRUE(std::isnan(device_state.temperatures[2].load()));
}

TEST_F(KxPageTest, LampsAndModePicturesFollowTheirStatusBits) {
    device_state.kx_status1[0].store(1);  // three-phase: slave
    tick();
    EXPECT_EQ(image(kx::kThreePhasePicture), bmp::kThreePhaseSlave);
    EXPECT_EQ(image(kx::kParallelPicture), bmp::kParallelMaster);
    EXPECT_EQ(image(kx::kLampOverheat), bmp::kLampGrey);
    EXPECT_EQ(image(kx::kLampOverload), bmp::kLampGrey);
    EXPECT_EQ(image(kx::kLampBatteryLow), bmp::kLampGrey);

    device_state.kx_status1[0].store(0);
    device_state.kx_status1[1].store(1);  // parallel: slave
    device_state.kx_status1[3].store(1);  // overheat
    device_state.kx_status2[3].store(1);  // overload
    device_state.kx_status2[4].store(1);  // battery low
    tick();
    EXPECT_EQ(image(kx::kThreePhasePicture), bmp::kThreePhaseMaster);
    EXPECT_EQ(image(kx::kParallelPicture), bmp::kParallelSlave);
    EXPECT_EQ(image(kx::kLampOverheat), bmp::kLampRed);
    EXPECT_EQ(image(kx::kLampOverload), bmp::kLampRed);
    EXPECT_EQ(image(kx::kLampBatteryLow), bmp::kLampRed);
    // Bits of the other status byte with the same numbers change nothing.
    EXPECT_EQ(image(kx::kLampGeneration), bmp::kLampGrey);
}

TEST_F(KxPageTest, AFieldWithTheFocusIsNotOverwritten) {
    device_state.set_pmax.store(3000.0f);
    device_state.set_ubat_low.store(22.0f);
    tick();
    QLineEdit* pmax = m_page->edit(kx::kPmax);
    pmax->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), pmax);
    pmax->setText(QStringLiteral("25"));  // half typed
    device_state.set_pmax.store(3500.0f);
    device_state.set_ubat_low.store(22.5f);
    tick();
    EXPECT_EQ(pmax->text(), QStringLiteral("25"));
    EXPECT_EQ(text(kx::kUbatLow), QStringLiteral("22.5 B"));
}

TEST_F(KxPageTest, WithNoFocusWindowNoSettingsFieldIsTouched) {
    device_state.set_ubat_min.store(21.0f);
    device_state.bat_voltage.store(25.0f);
    tick();
    m_host->hide();  // another application is active: no focus window here
    m_host->show();
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(QApplication::focusWidget(), nullptr);
    device_state.set_ubat_min.store(21.5f);
    device_state.bat_voltage.store(25.5f);
    device_state.kx_status2[4].store(1);
    tick();
    EXPECT_EQ(text(kx::kUbatMin), QStringLiteral("21.0 B"));
    EXPECT_EQ(text(kx::kBatVoltage), QStringLiteral("25.5 B"));
    EXPECT_EQ(image(kx::kLampBatteryLow), bmp::kLampRed);
}

TEST_F(KxPageTest, EnterAndEscMoveTheFocusToThePageAndCloseNothing) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QLineEdit* field = m_page->edit(kx::kUbatMin);
        field->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), field);
        QTest::keyClick(field, key);
        EXPECT_EQ(QApplication::focusWidget(), m_page) << key;
        EXPECT_TRUE(m_host->isVisible()) << key;
        EXPECT_TRUE(m_page->isVisible()) << key;
    }
}

}  // namespace
}  // namespace zorvane
