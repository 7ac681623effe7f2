// The QM step of the display tick: the QM page's lamps, pictures, readings and
// temperatures, the settings of its four tabs, and the generation button.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <cmath>

#include "app/display_step.h"
#include "device/setting_write.h"
#include "pages/c_qm_dialog.h"
#include "pages/c_tab_1.h"
#include "pages/c_tab_2.h"
#include "pages/c_tab_3.h"
#include "pages/c_tab_4.h"
#include "state/device_state.h"
#include "ui/bitmaps.h"
#include "ui/display_format.h"

namespace zorvane {

namespace {

using StatusField = StatusBits DeviceState::*;

// A lamp or picture and the status bit that chooses its image. A rule without
// a status field always shows its lit image.
struct LampRule {
    int control;
    StatusField bits;
    int bit;
    int image_set;
    int image_clear;
};

// The mode bits sit the other way about than on the KX page: bit 0 drives
// the parallel picture, bit 1 the three-phase picture.
constexpr LampRule kLamps[] = {
    {qm_id::kPowerOn, nullptr, 0, bmp::kLampGreen, bmp::kLampGreen},
    {qm_id::kGenerationOn, &DeviceState::qm_status1, 2, bmp::kLampGreen, bmp::kLampGrey},
    {qm_id::kOverheat, &DeviceState::qm_status1, 3, bmp::kLampRed, bmp::kLampGrey},
    {qm_id::kBatteryLow, &DeviceState::qm_status2, 4, bmp::kLampRed, bmp::kLampGrey},
    {qm_id::kOverload, &DeviceState::qm_status2, 3, bmp::kLampRed, bmp::kLampGrey},
    {qm_id::kBulk, &DeviceState::qm_status2, 5, bmp::kLampYellow, bmp::kLampGrey},
    {qm_id::kAbsorption, &DeviceState::qm_status2, 6, bmp::kLampYellow, bmp::kLampGrey},
    {qm_id::kFloat, &DeviceState::qm_status2, 7, bmp::kLampYellow, bmp::kLampGrey},
    {qm_id::kThreePhase, &DeviceState::qm_status1, 1, bmp::kThreePhaseSlave,
     bmp::kThreePhaseMaster},
    {qm_id::kParallel, &DeviceState::qm_status1, 0, bmp::kParallelSlave, bmp::kParallelMaster},
};

// qm_status1: bit 6 an input source is present, bit 7 it is the generator.
constexpr int kSourcePresentBit = 6;
constexpr int kSourceIsGeneratorBit = 7;
constexpr int kGenerationBit = 2;

struct TextRule {
    int control;
    FloatField field;
    const char* format;
};

constexpr const char* kVolts = "%.1f B";  // Latin B, A, BA, C
constexpr const char* kAmperes2 = "%.2f A";
constexpr const char* kVoltAmperes = "%.0f BA";
constexpr const char* kDegrees = "%.1f ° C";
constexpr const char* kMinutes = "%.0f мин";
constexpr const char* kDays = "%.0f сут.";
constexpr const char* kSeconds = "%.0f сек.";
constexpr const char* kAmperes1 = "%.1f A";
constexpr const char* kNumberBlank = "%.0f ";
constexpr const char* kNumber = "%.0f";
constexpr const char* kZeroVolts = "0 B";            // output while generation is off
constexpr const char* kTrainingOffText = "0 c.";     // Latin c
constexpr const char* kGenOffCaption = "Выключить";  // offered while generating
constexpr const char* kGenOnCaption = "Включить";

constexpr TextRule kReadings[] = {
    // 1029 (output voltage) depends on the generation bit and is done apart.
    {qm_id::kOutCurrent, &DeviceState::out_current, kAmperes2},
    {qm_id::kOutPower, &DeviceState::out_power, kVoltAmperes},
    {qm_id::kBatVoltage, &DeviceState::bat_voltage, kVolts},
    {qm_id::kBatTemperature, &DeviceState::bat_temperature, kDegrees},
};

// The two lower outer heat sinks (temperatures[0] and [7]) have no place here.
struct TemperaturePlace {
    int control;
    int sensor;  // index into temperatures, or -1 for the case temperature
};
constexpr TemperaturePlace kTemperatures[] = {
    {qm_id::kTempRightUpperOuter, 1},
    {qm_id::kTempRightInner, 2},
    {qm_id::kTempRightTransformer, 3},
    {qm_id::kTempLeftUpperOuter, 4},
    {qm_id::kTempLeftTransformer, 5},
    {qm_id::kTempLeftInner, 6},
    {qm_id::kTempCase, -1},
};

// The plain text fields of the settings tabs: tab index, control, value.
struct TabField {
    int tab;
    int control;
    FloatField field;
    const char* format;
};
constexpr TabField kTabFields[] = {
    {0, tab1_id::kUbatLow, &DeviceState::set_ubat_low, kVolts},
    {0, tab1_id::kUbatMin, &DeviceState::set_ubat_min, kVolts},
    {0, tab1_id::kUbatMinOn, &DeviceState::set_ubat_min_on, kVolts},
    {0, tab1_id::kPmax, &DeviceState::set_pmax, kVoltAmperes},
    {0, tab1_id::kUrmsNom, &DeviceState::set_uout_nom, kVolts},
    {1, tab2_id::kUrmsLowL, &DeviceState::set_urms_low_l, kVolts},
    {1, tab2_id::kUrmsHighH, &DeviceState::set_urms_high_h, kVolts},
    {1, tab2_id::kUrmsLowH, &DeviceState::set_urms_low_h, kVolts},
    {1, tab2_id::kUrmsHighL, &DeviceState::set_urms_high_l, kVolts},
    {2, tab3_id::kFloatTime, &DeviceState::set_float_time, kMinutes},
    {2, tab3_id::kRFloatTime, &DeviceState::set_rfloat_time, nullptr},  // the setting's own
    {2, tab3_id::kRAbsTime, &DeviceState::set_rabs_time, kMinutes},
    {2, tab3_id::kIchrgNom, &DeviceState::set_ichrg_nom, kAmperes1},
    {2, tab3_id::kAbsEndFactor, &DeviceState::set_abs_end_factor, kNumberBlank},
    {2, tab3_id::kAbsTime, &DeviceState::set_abs_time, kMinutes},
    {3, tab4_id::kEGenPmax, &DeviceState::set_egen_pmax, kVoltAmperes},
    {3, tab4_id::kEGenSleep, &DeviceState::set_egen_sleep, kDays},
    {3, tab4_id::kEGenType, &DeviceState::set_egen_type, kNumber},
};

// Like the native text transfer: an unchanged text is not set again, so a
// selection in a read-only field survives the tick.
void set_text(QLineEdit* edit, const QString& text) {
    if (edit)
        set_text_if_changed(edit, text);
}

// RFloatTime shows whole days; its text is the one the setting write takes
// for "left as shown", so both come from the same function.
QString field_text(const TabField& f) {
    const float value = (device_state.*f.field).load();
    if (f.format == nullptr)
        return QString::fromStdString(whole_shown_text(*find_setting(f.control), value));
    return format_value(f.format, value);
}

bool bit_set(const StatusBits& bits, int bit) {
    return bits[bit].load() != 0;
}

// Whether `control` is the focus window: the widget with the focus, or the
// owner of the focused popup (an open drop-down list stays its combo box's).
bool holds_focus(const QWidget* control, const QWidget* focus) {
    for (const QWidget* w = focus; w; w = w->parentWidget()) {
        if (w == control)
            return true;
    }
    return false;
}

void show_lamps(c_qm_dialog& page) {
    const DeviceState& s = device_state;
    for (const LampRule& rule : kLamps) {
        const bool set = rule.bits == nullptr || bit_set(s.*rule.bits, rule.bit);
        set_bitmap(page.get<QLabel>(rule.control), set ? rule.image_set : rule.image_clear);
    }
    const bool source = bit_set(s.qm_status1, kSourcePresentBit);
    const bool generator = bit_set(s.qm_status1, kSourceIsGeneratorBit);
    set_bitmap(page.get<QLabel>(qm_id::kMainsOn),
               source && !generator ? bmp::kLampGreen : bmp::kLampGrey);
    set_bitmap(page.get<QLabel>(qm_id::kExtGenOn),
               source && generator ? bmp::kLampGreen : bmp::kLampGrey);
}

void show_readings(c_qm_dialog& page, bool generating) {
    const DeviceState& s = device_state;
    set_text(
        page.get<QLineEdit>(qm_id::kOutVoltage),
        generating ? format_value(kVolts, s.out_voltage.load()) : QString::fromUtf8(kZeroVolts));
    for (const TextRule& rule : kReadings)
        set_text(page.get<QLineEdit>(rule.control),
                 format_value(rule.format, (s.*rule.field).load()));
    for (const TemperaturePlace& place : kTemperatures) {
        const double t = place.sensor < 0 ? static_cast<double>(s.case_temperature.load())
                                          : s.temperatures[place.sensor].load();
        set_text(page.get<QLineEdit>(place.control), format_value(kDegrees, t));
    }
}

// Before the polled device's first complete pass (at start, after a change
// of device) nothing stored is its own: the page shows nothing rather than
// zeros, and no setting can be typed or chosen.
void show_unknown(c_qm_dialog& page, c_settings_tab* const (&tabs)[c_qm_dialog::kSettingsPages],
                  bool all_pages) {
    for (const LampRule& rule : kLamps) set_bitmap(page.get<QLabel>(rule.control), bmp::kNothing);
    set_bitmap(page.get<QLabel>(qm_id::kMainsOn), bmp::kNothing);
    set_bitmap(page.get<QLabel>(qm_id::kExtGenOn), bmp::kNothing);
    set_text(page.get<QLineEdit>(qm_id::kOutVoltage), QString());
    for (const TextRule& rule : kReadings) set_text(page.get<QLineEdit>(rule.control), QString());
    for (const TemperaturePlace& place : kTemperatures)
        set_text(page.get<QLineEdit>(place.control), QString());
    if (!all_pages)
        return;
    for (const TabField& f : kTabFields)
        show_setting_unknown(tabs[f.tab]->get<QLineEdit>(f.control));
    c_settings_tab* generator = tabs[3];
    show_setting_unknown(generator->get<QLineEdit>(tab4_id::kEGenOnTime));
    show_setting_unknown(generator->get<QLineEdit>(tab4_id::kEGenWork));
    auto* combo = generator->get<QComboBox>(tab4_id::kEGenUbat);
    combo->setCurrentIndex(-1);
    combo->setEnabled(false);
    auto* training = generator->get<QCheckBox>(tab4_id::kTraining);
    training->setChecked(false);
    training->setEnabled(false);
}

void show_settings(c_settings_tab* const (&tabs)[c_qm_dialog::kSettingsPages],
                   const QWidget* focus) {
    const DeviceState& s = device_state;

    for (const TabField& f : kTabFields) {
        auto* edit = tabs[f.tab]->get<QLineEdit>(f.control);
        set_read_only(edit, false);
        show_setting_text(edit, holds_focus(edit, focus), field_text(f));
    }

    c_settings_tab* generator = tabs[3];
    const float egen_ubat = s.set_egen_ubat.load();
    auto* combo = generator->get<QComboBox>(tab4_id::kEGenUbat);
    combo->setEnabled(true);
    if (!holds_focus(combo, focus)) {
        // Truncated toward zero; a value that is neither 0 nor 1 leaves the
        // selection as it is.
        const double mode = std::trunc(static_cast<double>(egen_ubat));
        if (mode == 0.0 || mode == 1.0)
            combo->setCurrentIndex(static_cast<int>(mode));
    }

    auto* on_time = generator->get<QLineEdit>(tab4_id::kEGenOnTime);
    if (!holds_focus(on_time, focus)) {
        if (egen_ubat == 0.0f) {
            set_read_only(on_time, false);
            set_text(on_time, format_value(kSeconds, s.set_egen_on_time.load()));
        } else {
            // Started on battery discharge: the delay does not apply, and the
            // read-only edit writes nothing. Its text stays as it is.
            set_read_only(on_time, true);
        }
    }

    // The check box follows the focus of the EGenWork edit, not its own.
    auto* work = generator->get<QLineEdit>(tab4_id::kEGenWork);
    auto* training = generator->get<QCheckBox>(tab4_id::kTraining);
    training->setEnabled(true);
    if (!holds_focus(work, focus)) {
        const float egen_work = s.set_egen_work.load();
        const bool training_on = egen_work != 0.0f;
        set_read_only(work, !training_on);
        set_text(work, training_on ? format_value(kSeconds, egen_work)
                                   : QString::fromUtf8(kTrainingOffText));
        training->setChecked(training_on);
    }
}

}  // namespace

void qm_display_step(c_qm_dialog& page, QPushButton& gen_button) {
    DeviceState& s = device_state;
    // From now on the settings edits may write (until the window closes).
    s.g_settings_shown.store(1);

    // The settings pages are found through the items of the inner tab, by
    // position.
    QTabWidget* tab = page.settings_tab();
    c_settings_tab* tabs[c_qm_dialog::kSettingsPages] = {};
    bool all_pages = true;
    for (int i = 0; i < c_qm_dialog::kSettingsPages; ++i) {
        tabs[i] = qobject_cast<c_settings_tab*>(tab->widget(i));
        all_pages = all_pages && tabs[i];
    }
    QWidget* const focus = QApplication::focusWidget();

    if (!s.values_current()) {
        show_unknown(page, tabs, all_pages);
        set_generation_caption_unknown(gen_button);
        return;
    }

    show_lamps(page);
    const bool generating = bit_set(s.qm_status1, kGenerationBit);
    show_readings(page, generating);

    // The settings are refreshed only while a window of the program has the
    // focus, and never the control the technician is using.
    if (focus && all_pages)
        show_settings(tabs, focus);

    const QString caption = QString::fromUtf8(generating ? kGenOffCaption : kGenOnCaption);
    if (gen_button.text() != caption)
        gen_button.setText(caption);
}

}  // namespace zorvane
