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
#include <vector>

#include "app/display_step.h"
#include "device/setting_write.h"
#include "pages/c_qm_dialog.h"
#include "pages/c_tab_1.h"
#include "pages/c_tab_2.h"
#include "pages/c_tab_3.h"
#include "pages/c_tab_4.h"
#include "state/device_state.h"
#include "state/variables.h"
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

// The page's read-only texts: a reading, or one element of an array.
struct TextPlace {
    int control;
    const Variable* variable;
    int element;  // -1 for a single value
};

std::vector<TextPlace> make_readings() {
    std::vector<TextPlace> out;
    for (const Variable& v : variables()) {
        if (v.is_array() && v.qm_each != nullptr) {
            for (int i = 0; i < v.word; ++i) {
                if (v.qm_each[i] != 0)
                    out.push_back({v.qm_each[i], &v, i});
            }
        } else if (v.qm_control != 0 && !v.writable() && !v.is_array()) {
            out.push_back({v.qm_control, &v, -1});
        }
    }
    return out;
}

// The plain text fields of the settings tabs. The list and the two fields
// it or the training check box govern are shown by rules of their own.
bool plain_tab_field(const Variable& v) {
    return v.qm_tab != QmTab::None && v.writable() && !v.choice &&
           v.applies_while_zero == nullptr && v.write_code != kEGenWorkWrite;
}

const std::vector<TextPlace>& readings() {
    static const std::vector<TextPlace> places = make_readings();
    return places;
}

QLineEdit* tab_edit(c_settings_tab* const (&tabs)[c_qm_dialog::kSettingsPages], const Variable& v) {
    return tabs[static_cast<int>(v.qm_tab)]->get<QLineEdit>(v.qm_control);
}

QString text_of(const TextPlace& place) {
    const DeviceState& s = device_state;
    const Variable& v = *place.variable;
    return format_variable(
        v, place.element < 0 ? (s.*v.field).load() : (s.*v.array)[place.element].load());
}

void set_text(QLineEdit* edit, const QString& text) {
    if (edit)
        set_text_if_changed(edit, text);
}

bool bit_set(const StatusBits& bits, int bit) {
    return bits[bit].load() != 0;
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
    for (const TextPlace& place : readings()) {
        // The output voltage while generation is off is a fixed text.
        const bool zero = place.control == qm_id::kOutVoltage && !generating;
        set_text(page.get<QLineEdit>(place.control),
                 zero ? QString::fromUtf8(kZeroVoltsText) : text_of(place));
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
    for (const TextPlace& place : readings())
        set_text(page.get<QLineEdit>(place.control), QString());
    if (!all_pages)
        return;
    for (const Variable& v : variables()) {
        if (plain_tab_field(v))
            show_setting_unknown(tab_edit(tabs, v));
    }
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

    for (const Variable& v : variables()) {
        if (!plain_tab_field(v))
            continue;
        QLineEdit* edit = tab_edit(tabs, v);
        set_read_only(edit, false);
        show_setting_text(edit, holds_focus(edit, focus), format_variable(v, (s.*v.field).load()));
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

    const Variable& delay = *find_variable_by_control(tab4_id::kEGenOnTime, Family::Qm);
    auto* on_time = generator->get<QLineEdit>(tab4_id::kEGenOnTime);
    if (!holds_focus(on_time, focus)) {
        if (delay.applies(s)) {
            set_read_only(on_time, false);
            set_text(on_time, format_variable(delay, (s.*delay.field).load()));
        } else {
            // Started on battery discharge: the delay does not apply, and the
            // read-only edit writes nothing. Its text stays as it is.
            set_read_only(on_time, true);
        }
    }

    // The check box follows the focus of the EGenWork edit, not its own.
    const Variable& run = *find_written_variable(kEGenWorkWrite);
    auto* work = generator->get<QLineEdit>(run.qm_control);
    auto* training = generator->get<QCheckBox>(tab4_id::kTraining);
    training->setEnabled(true);
    if (!holds_focus(work, focus)) {
        const float egen_work = (s.*run.field).load();
        const bool training_on = egen_work != 0.0f;
        set_read_only(work, !training_on);
        set_text(work, training_on ? format_variable(run, egen_work)
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

    set_generation_caption(gen_button, generating);
}

}  // namespace zorvane
