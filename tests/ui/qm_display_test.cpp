// The QM step of the display tick: lamps, readings, temperatures, the four
// settings pages and the focus rule.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <map>

#include "pages/c_tab_1.h"
#include "pages/c_tab_2.h"
#include "pages/c_tab_3.h"
#include "pages/c_tab_4.h"
#include "ui/bitmaps.h"
#include "ui_fixture.h"

namespace zorvane::testing {
namespace {

using namespace qm_id;

// The bitmap a picture control shows, by id; 0 for none of the known ones.
int shown_bitmap(QLabel* picture) {
    const qint64 key = picture->pixmap().cacheKey();
    for (int id :
         {bmp::kLampGreen, bmp::kLampRed, bmp::kLampGrey, bmp::kLampYellow, bmp::kThreePhaseMaster,
          bmp::kThreePhaseSlave, bmp::kParallelMaster, bmp::kParallelSlave}) {
        if (!picture->pixmap().isNull() && bitmap(id).cacheKey() == key)
            return id;
    }
    return 0;
}

class QmDisplay : public UiFixture {
  protected:
    void SetUp() override {
        UiFixture::SetUp();
        host_qm_page();
    }
};

TEST_F(QmDisplay, LampsAndModePicturesFollowTheStatusBits) {
    constexpr int G = bmp::kLampGreen, R = bmp::kLampRed, O = bmp::kLampGrey, Y = bmp::kLampYellow;
    const int controls[] = {kPowerOn,    kGenerationOn, kOverheat,   kBatteryLow,
                            kOverload,   kBulk,         kAbsorption, kFloat,
                            kThreePhase, kParallel,     kMainsOn,    kExtGenOn};
    struct Case {
        const char* what;
        std::initializer_list<int> status1, status2;
        int expected[12];
    };
    const Case cases[] = {
        {"all clear", {}, {}, {G, O, O, O, O, O, O, O, 146, 148, O, O}},
        {"mains present", {6}, {}, {G, O, O, O, O, O, O, O, 146, 148, G, O}},
        {"generator present", {6, 7}, {}, {G, O, O, O, O, O, O, O, 146, 148, O, G}},
        {"generator bit without a source", {7}, {}, {G, O, O, O, O, O, O, O, 146, 148, O, O}},
        {"bulk and float together", {}, {5, 7}, {G, O, O, O, O, Y, O, Y, 146, 148, O, O}},
        {"absorption", {}, {6}, {G, O, O, O, O, O, Y, O, 146, 148, O, O}},
        {"bit 0: parallel slave", {0}, {}, {G, O, O, O, O, O, O, O, 146, 149, O, O}},
        {"bit 1: three-phase slave", {1}, {}, {G, O, O, O, O, O, O, O, 147, 148, O, O}},
        {"generating, overheated", {2, 3}, {}, {G, G, R, O, O, O, O, O, 146, 148, O, O}},
        {"overload", {}, {3}, {G, O, O, O, R, O, O, O, 146, 148, O, O}},
        {"battery low", {}, {4}, {G, O, O, R, O, O, O, O, 146, 148, O, O}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        set_bits(device_state.qm_status1, c.status1);
        set_bits(device_state.qm_status2, c.status2);
        // The KX bits mean other things and must not leak in.
        set_bits(device_state.kx_status1, {0, 1, 2, 3});
        step();
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(shown_bitmap(m_qm_page->get<QLabel>(controls[i])), c.expected[i])
                << "control " << controls[i];
        }
    }
}

TEST_F(QmDisplay, ReadingsTemperaturesAndGenerationButton) {
    DeviceState& s = device_state;
    s.out_voltage.store(230.0f);
    s.out_current.store(1.234f);
    s.out_power.store(1234.4f);
    s.bat_voltage.store(52.06f);
    s.bat_temperature.store(25.0f);
    for (int i = 0; i < 8; ++i) s.temperatures[i].store(10.0 + i);
    s.case_temperature.store(-5.26f);

    step();  // generation off
    EXPECT_EQ(page_edit(kOutVoltage)->text(), "0 B");
    EXPECT_EQ(m_gen_button->text(), "Включить");
    EXPECT_EQ(page_edit(kOutCurrent)->text(), "1.23 A");
    EXPECT_EQ(page_edit(kOutPower)->text(), "1234 BA");
    EXPECT_EQ(page_edit(kBatVoltage)->text(), "52.1 B");
    EXPECT_EQ(page_edit(kBatTemperature)->text(), "25.0 ° C");

    const std::map<int, QString> places = {{kTempRightUpperOuter, "11.0 ° C"},
                                           {kTempRightInner, "12.0 ° C"},
                                           {kTempRightTransformer, "13.0 ° C"},
                                           {kTempLeftUpperOuter, "14.0 ° C"},
                                           {kTempLeftTransformer, "15.0 ° C"},
                                           {kTempLeftInner, "16.0 ° C"},
                                           {kTempCase, "-5.3 ° C"}};
    for (const auto& [id, text] : places)
        EXPECT_EQ(page_edit(id)->text(), text) << "control " << id;
    // The two lower outer heat sinks have no place on this page.
    for (QLineEdit* edit : m_qm_page->findChildren<QLineEdit*>()) {
        EXPECT_NE(edit->text(), "10.0 ° C");
        EXPECT_NE(edit->text(), "17.0 ° C");
    }

    set_bits(s.qm_status1, {2});
    s.out_voltage.store(229.96f);
    step();
    EXPECT_EQ(page_edit(kOutVoltage)->text(), "230.0 B");
    EXPECT_EQ(m_gen_button->text(), "Выключить");
}

TEST_F(QmDisplay, SettingsFieldsOfTheFourPages) {
    struct Field {
        std::atomic<float> DeviceState::*value;
        float stored;
        int tab, id;
        const char* text;
    };
    using S = DeviceState;
    const Field fields[] = {
        {&S::set_ubat_low, 48.5f, 0, tab1_id::kUbatLow, "48.5 B"},
        {&S::set_ubat_min, 42.0f, 0, tab1_id::kUbatMin, "42.0 B"},
        {&S::set_ubat_min_on, 50.2f, 0, tab1_id::kUbatMinOn, "50.2 B"},
        {&S::set_pmax, 2500.0f, 0, tab1_id::kPmax, "2500 BA"},
        {&S::set_uout_nom, 230.0f, 0, tab1_id::kUrmsNom, "230.0 B"},
        {&S::set_urms_low_l, 170.0f, 1, tab2_id::kUrmsLowL, "170.0 B"},
        {&S::set_urms_high_h, 260.0f, 1, tab2_id::kUrmsHighH, "260.0 B"},
        {&S::set_urms_low_h, 180.0f, 1, tab2_id::kUrmsLowH, "180.0 B"},
        {&S::set_urms_high_l, 250.5f, 1, tab2_id::kUrmsHighL, "250.5 B"},
        {&S::set_float_time, 30.0f, 2, tab3_id::kFloatTime, "30 мин"},
        {&S::set_rfloat_time, 2.25f, 2, tab3_id::kRFloatTime, "2 сут."},  // 3240 minutes
        {&S::set_rabs_time, 120.0f, 2, tab3_id::kRAbsTime, "120 мин"},
        {&S::set_ichrg_nom, 12.3f, 2, tab3_id::kIchrgNom, "12.3 A"},
        {&S::set_abs_end_factor, 7.0f, 2, tab3_id::kAbsEndFactor, "7 "},
        {&S::set_abs_time, 240.0f, 2, tab3_id::kAbsTime, "240 мин"},
        {&S::set_egen_pmax, 3000.0f, 3, tab4_id::kEGenPmax, "3000 BA"},
        {&S::set_egen_sleep, 7.0f, 3, tab4_id::kEGenSleep, "7 сут."},
        {&S::set_egen_type, 2.0f, 3, tab4_id::kEGenType, "2"},
        {&S::set_egen_on_time, 0.0f, 3, tab4_id::kEGenOnTime, "0 сек."},
        {&S::set_egen_work, 0.0f, 3, tab4_id::kEGenWork, "0 c."},  // Latin c
    };
    for (const Field& f : fields) (device_state.*f.value).store(f.stored);
    step();
    for (const Field& f : fields)
        EXPECT_EQ(tab_edit(f.tab, f.id)->text(), QString::fromUtf8(f.text)) << "control " << f.id;
    // The QM page's own temperature field 1126 is not the generator page's 1126.
    EXPECT_EQ(page_edit(kTempRightUpperOuter)->text(), "0.0 ° C");
    EXPECT_EQ(device_state.g_settings_shown.load(), 1);
}

TEST_F(QmDisplay, StartModeAndTrainingRuns) {
    DeviceState& s = device_state;
    auto* combo = tab(3)->get<QComboBox>(tab4_id::kEGenUbat);
    auto* on_time = tab_edit(3, tab4_id::kEGenOnTime);
    auto* work = tab_edit(3, tab4_id::kEGenWork);
    auto* training = tab(3)->get<QCheckBox>(tab4_id::kTraining);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), "0");
    EXPECT_EQ(combo->itemText(1), "1");
    EXPECT_EQ(combo->currentIndex(), -1);  // nothing selected until shown

    // A start mode that is neither 0 nor 1 selects nothing.
    s.set_egen_ubat.store(3.0f);
    step();
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_TRUE(on_time->isReadOnly());

    s.set_egen_ubat.store(0.0f);
    s.set_egen_on_time.store(30.0f);
    step();
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_FALSE(on_time->isReadOnly());
    EXPECT_EQ(on_time->text(), "30 сек.");

    // Mode 1: read-only, the last text kept.
    s.set_egen_ubat.store(1.0f);
    s.set_egen_on_time.store(45.0f);
    step();
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_TRUE(on_time->isReadOnly());
    EXPECT_EQ(on_time->text(), "30 сек.");

    s.set_egen_ubat.store(3.0f);
    step();
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_TRUE(on_time->isReadOnly());

    s.set_egen_work.store(0.0f);
    step();
    EXPECT_EQ(work->text(), "0 c.");  // Latin c
    EXPECT_TRUE(work->isReadOnly());
    EXPECT_FALSE(training->isChecked());

    s.set_egen_work.store(20.0f);
    step();
    EXPECT_EQ(work->text(), "20 сек.");
    EXPECT_FALSE(work->isReadOnly());
    EXPECT_TRUE(training->isChecked());

    s.set_egen_work.store(0.0f);
    step();
    EXPECT_EQ(work->text(), "0 c.");
    EXPECT_TRUE(work->isReadOnly());
    EXPECT_FALSE(training->isChecked());
}

TEST_F(QmDisplay, FocusedControlsAreLeftAlone) {
    DeviceState& s = device_state;
    s.set_rfloat_time.store(2.0f);
    s.set_float_time.store(30.0f);
    s.set_egen_work.store(20.0f);
    s.set_egen_ubat.store(0.0f);
    step();

    // Typing into RFloatTime: only that field keeps its text.
    show_tab(2);
    QLineEdit* rfloat = tab_edit(2, tab3_id::kRFloatTime);
    focus(rfloat);
    rfloat->setText("5");
    s.set_rfloat_time.store(3.0f);
    s.set_float_time.store(45.0f);
    s.set_ubat_low.store(47.0f);
    s.set_egen_work.store(0.0f);
    step();
    EXPECT_EQ(rfloat->text(), "5");
    EXPECT_EQ(tab_edit(2, tab3_id::kFloatTime)->text(), "45 мин");
    EXPECT_EQ(tab_edit(0, tab1_id::kUbatLow)->text(), "47.0 B");
    EXPECT_EQ(tab_edit(3, tab4_id::kEGenWork)->text(), "0 c.");

    // EGenWork focused: its text, read-only state and the check box stay.
    show_tab(3);
    QLineEdit* work = tab_edit(3, tab4_id::kEGenWork);
    auto* training = tab(3)->get<QCheckBox>(tab4_id::kTraining);
    s.set_egen_work.store(20.0f);
    step();
    ASSERT_TRUE(training->isChecked());
    focus(work);
    s.set_egen_work.store(0.0f);
    step();
    EXPECT_EQ(work->text(), "20 сек.");
    EXPECT_FALSE(work->isReadOnly());
    EXPECT_TRUE(training->isChecked());
    EXPECT_EQ(rfloat->text(), "3 сут.");

    // The check box itself focused: it still follows EGenWork's focus.
    focus(training);
    step();
    EXPECT_FALSE(training->isChecked());
    EXPECT_EQ(work->text(), "0 c.");

    // The combo box focused: its selection stays.
    auto* combo = tab(3)->get<QComboBox>(tab4_id::kEGenUbat);
    focus(combo);
    s.set_egen_ubat.store(1.0f);
    step();
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_TRUE(tab_edit(3, tab4_id::kEGenOnTime)->isReadOnly());
}

TEST_F(QmDisplay, NoFocusWindowLeavesEverySettingAlone) {
    DeviceState& s = device_state;
    s.set_pmax.store(2500.0f);
    s.set_egen_ubat.store(0.0f);
    s.set_egen_on_time.store(30.0f);
    s.set_egen_work.store(20.0f);
    s.set_rfloat_time.store(2.0f);
    step();
    device_state.g_settings_shown.store(0);

    // Another application is active.
    QApplication::setActiveWindow(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() == nullptr; }, 1000));
    s.set_pmax.store(3000.0f);
    s.set_egen_ubat.store(1.0f);
    s.set_egen_work.store(0.0f);
    s.set_rfloat_time.store(4.0f);
    s.bat_voltage.store(51.0f);
    set_bits(s.qm_status2, {5});
    step();

    EXPECT_EQ(device_state.g_settings_shown.load(), 1);
    EXPECT_EQ(page_edit(kBatVoltage)->text(), "51.0 B");
    EXPECT_EQ(shown_bitmap(m_qm_page->get<QLabel>(kBulk)), bmp::kLampYellow);
    EXPECT_EQ(tab_edit(0, tab1_id::kPmax)->text(), "2500 BA");
    EXPECT_EQ(tab_edit(2, tab3_id::kRFloatTime)->text(), "2 сут.");
    EXPECT_EQ(tab(3)->get<QComboBox>(tab4_id::kEGenUbat)->currentIndex(), 0);
    EXPECT_FALSE(tab_edit(3, tab4_id::kEGenOnTime)->isReadOnly());
    EXPECT_EQ(tab_edit(3, tab4_id::kEGenWork)->text(), "20 сек.");
    EXPECT_FALSE(tab_edit(3, tab4_id::kEGenWork)->isReadOnly());
    EXPECT_TRUE(tab(3)->get<QCheckBox>(tab4_id::kTraining)->isChecked());

    // Back in front: the next step catches up.
    activate_host();
    step();
    EXPECT_EQ(tab_edit(0, tab1_id::kPmax)->text(), "3000 BA");
    EXPECT_EQ(tab_edit(3, tab4_id::kEGenWork)->text(), "0 c.");
}

}  // namespace
}  // namespace zorvane::testing
