// The KX step of the 200 ms display tick: DeviceState into the KX page.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "app/display_step.h"
#include "pages/c_kx_dialog.h"
#include "state/device_state.h"
#include "state/variables.h"
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

// The KX page's settings fields and the variables its read-only texts show,
// from the registry.
bool kx_setting(const Variable& v) {
    return v.kx_control != 0 && v.writable();
}

// The text member of the page that shows `control`.
QString& text_of(c_kx_dialog& page, int control) {
    const auto& ids = c_kx_dialog::kTextIds;
    const auto at = std::find(ids.begin(), ids.end(), control);
    return page.m_texts[static_cast<size_t>(at - ids.begin())];
}

bool bit_set(const DeviceState& state, StatusBits DeviceState::*status, int bit) {
    return (state.*status)[bit].load() != 0;
}

// Before the polled device's first complete pass (at start, after a change
// of device) nothing stored is its own: the page shows nothing rather than
// zeros, and no setting can be typed.
void show_unknown(c_kx_dialog& page, QPushButton& gen_button) {
    for (const PictureRow& row : kPictures) set_bitmap(page.picture(row.control), bmp::kNothing);
    for (QString& text : page.m_texts) text.clear();
    for (const Variable& v : variables()) {
        if (kx_setting(v))
            show_setting_unknown(page.edit(v.kx_control));
    }
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
    for (const Variable& v : variables()) {
        if (v.is_array() && v.kx_each != nullptr) {
            for (int i = 0; i < v.word; ++i)
                text_of(page, v.kx_each[i]) = format_variable(v, (state.*v.array)[i].load());
        } else if (v.kx_control != 0 && !v.writable()) {
            text_of(page, v.kx_control) = format_variable(v, (state.*v.field).load());
        }
    }
    if (!generating)
        text_of(page, kx::kOutVoltage) = QString::fromUtf8(kZeroVoltsText);

    // With no focus window (another application is active) the settings
    // fields keep their text: the technician may come back to an edit.
    for (const Variable& v : variables()) {
        if (!kx_setting(v))
            continue;
        QLineEdit* field = page.edit(v.kx_control);
        if (focus != nullptr)
            show_setting_text(field, holds_focus(field, focus),
                              format_variable(v, (state.*v.field).load()));
        set_read_only(field, false);
    }

    set_generation_caption(gen_button, generating);
    page.UpdateData();
}

}  // namespace zorvane
