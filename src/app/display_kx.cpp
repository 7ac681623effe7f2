// The KX step of the 200 ms display tick: DeviceState into the KX page.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/display_step.h"
#include "pages/c_kx_dialog.h"
#include "state/device_state.h"
#include "ui/bitmaps.h"
#include "ui/display_format.h"

namespace zorvane {

namespace {

// One lamp or mode picture: the image while its status bit is set, and
// while it is clear.
struct PictureRow {
    int control;
    StatusBits DeviceState::*status;  // nullptr: always lit
    int bit;
    int when_set;
    int when_clear;
};

constexpr PictureRow kPictures[] = {
    {kx::kLampPowerOn, nullptr, 0, bmp::kLampGreen, bmp::kLampGreen},
    {kx::kLampGeneration, &DeviceState::kx_status1, 2, bmp::kLampGreen, bmp::kLampGrey},
    {kx::kLampOverheat, &DeviceState::kx_status1, 3, bmp::kLampRed, bmp::kLampGrey},
    {kx::kLampOverload, &DeviceState::kx_status2, 3, bmp::kLampRed, bmp::kLampGrey},
    {kx::kLampBatteryLow, &DeviceState::kx_status2, 4, bmp::kLampRed, bmp::kLampGrey},
    {kx::kThreePhasePicture, &DeviceState::kx_status1, 0, bmp::kThreePhaseSlave,
     bmp::kThreePhaseMaster},
    {kx::kParallelPicture, &DeviceState::kx_status1, 1, bmp::kParallelSlave, bmp::kParallelMaster},
};

// The settings fields in the order the tick refreshes them.
struct SettingRow {
    int control;
    FloatField field;
    const char* format;
};

constexpr SettingRow kSettings[] = {
    {kx::kUbatMinOn, &DeviceState::set_ubat_min_on, kVoltsFormat},
    {kx::kUbatMin, &DeviceState::set_ubat_min, kVoltsFormat},
    {kx::kUbatLow, &DeviceState::set_ubat_low, kVoltsFormat},
    {kx::kPmax, &DeviceState::set_pmax, kPowerFormat},
    {kx::kUoutNom, &DeviceState::set_uout_nom, kVoltsFormat},
};

bool bit_set(const DeviceState& state, StatusBits DeviceState::*status, int bit) {
    return (state.*status)[bit].load() != 0;
}

// Before the polled device's first complete pass (at start, after a change
// of device) nothing stored is its own: the page shows nothing rather than
// zeros, and no setting can be typed.
void show_unknown(c_kx_dialog& page, QPushButton& gen_button) {
    for (const PictureRow& row : kPictures) set_bitmap(page.picture(row.control), bmp::kNothing);
    for (QString& text : page.m_texts) text.clear();
    for (const SettingRow& row : kSettings) show_setting_unknown(page.edit(row.control));
    set_generation_caption_unknown(gen_button);
    page.UpdateData();
}

}  // namespace

void kx_display_step(c_kx_dialog& page, QPushButton& gen_button) {
    const DeviceState& state = device_state;
    QWidget* focus = QApplication::focusWidget();
    if (!state.values_current()) {
        show_unknown(page, gen_button);
        return;
    }

    for (const PictureRow& row : kPictures) {
        const bool set = row.status == nullptr || bit_set(state, row.status, row.bit);
        set_bitmap(page.picture(row.control), set ? row.when_set : row.when_clear);
    }

    const bool generating = bit_set(state, &DeviceState::kx_status1, 2);
    page.m_texts[0] = generating ? format_value(kVoltsFormat, state.out_voltage.load())
                                 : QString::fromUtf8(kZeroVoltsText);
    page.m_texts[1] = format_value(kAmpsFormat, state.out_current.load());
    page.m_texts[2] = format_value(kPowerFormat, state.out_power.load());
    page.m_texts[3] = format_value(kVoltsFormat, state.bat_voltage.load());
    // Texts 4 to 11 are temperatures[0] to [7], in the order of the page's
    // text members; text 12 is the case.
    for (int i = 0; i < 8; ++i) {
        page.m_texts[4 + i] = format_value(kDegreesFormat, state.temperatures[i].load());
    }
    page.m_texts[12] = format_value(kDegreesFormat, state.case_temperature.load());

    // With no focus window (another application is active) the settings
    // fields keep their text: the technician may come back to an edit.
    if (focus != nullptr) {
        for (const SettingRow& row : kSettings) {
            QLineEdit* field = page.edit(row.control);
            show_setting_text(field, field == focus,
                              format_value(row.format, (state.*row.field).load()));
        }
    }

    for (const SettingRow& row : kSettings) set_read_only(page.edit(row.control), false);
    set_generation_caption(gen_button, generating);
    page.UpdateData();
}

}  // namespace zorvane
