#include "pages/c_kx_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

#include "device/setting_write.h"
#include "pages/setting_edit.h"
#include "state/device_state.h"
#include "ui/bitmaps.h"
#include "ui/page_font.h"

namespace zorvane {

namespace {

using K = ControlKind;
using namespace ctl;

// Template 130. The labels nobody refers to have no id; widths of labels are
// ours (the template gives their left edge or, for the value labels, their
// right edge at x 252).
constexpr ControlDef kTemplate130[] = {
    {kx::kOutVoltage, K::ReadOnlyEdit, "", 252, 15, 48, 12, kAlignRight},
    {1021, K::Label, "Напряжение:", 172, 17, 78, 8, kAlignRight},
    {kx::kOutCurrent, K::ReadOnlyEdit, "", 252, 36, 48, 12, kAlignRight},
    {1025, K::Label, "Ток:", 172, 38, 78, 8, kAlignRight},
    {kx::kOutPower, K::ReadOnlyEdit, "", 252, 58, 48, 12, kAlignRight},
    {1026, K::Label, "Мощность:", 172, 60, 78, 8, kAlignRight},
    {kx::kBatVoltage, K::ReadOnlyEdit, "", 252, 80, 48, 12, kAlignRight},
    {1027, K::Label, "Напряжение батарей:", 171, 82, 79, 8, kAlignRight},
    {kx::kUoutNom, K::Edit, "", 115, 192, 54, 12, kAlignRight},
    {kx::kUbatLow, K::Edit, "", 115, 115, 54, 12, kAlignRight},
    {kx::kPmax, K::Edit, "", 115, 175, 54, 12, kAlignRight},
    {kx::kUbatMinOn, K::Edit, "", 115, 155, 54, 12, kAlignRight},
    {kNoId, K::Label, "GENERATION ON", 45, 14, 70, 8},
    {kNoId, K::Label, "OVERLOAD", 45, 34, 70, 8},
    {kNoId, K::Label, "BATTERY LOW", 45, 54, 70, 8},
    {kNoId, K::Label, "OVERHEAT", 45, 74, 70, 8},
    {kNoId, K::Label, "POWER ON", 45, 94, 70, 8},
    {kx::kUbatMin, K::Edit, "", 115, 134, 54, 12, kAlignRight},
    {kNoId, K::Label, "UbatLow:", 39, 117, 70, 8},
    {kNoId, K::Label, "UbatMin:", 39, 136, 70, 8},
    {1044, K::Label, "UbatMinOn:", 39, 157, 70, 8},
    {kNoId, K::Label, "Pmax:", 39, 177, 70, 8},
    {kNoId, K::Label, "UoutNom:", 39, 194, 70, 8},
    {kNoId, K::Label, "Температура:", 346, 2, 60, 8},
    {kNoId, K::Label, "3-х фазный режим:", 340, 114, 80, 8},
    {kNoId, K::Label, "Ведущий", 324, 128, 40, 8},
    {kNoId, K::Label, "Ведомый", 324, 148, 40, 8},
    {kNoId, K::Label, "Паралельный:", 347, 165, 70, 8},
    {kNoId, K::Label, "Ведущий", 324, 181, 40, 8},
    {kNoId, K::Label, "Ведомый", 324, 199, 40, 8},
    {kx::kTempLeftUpperOuter, K::ReadOnlyEdit, "", 306, 15, 38, 12, kAlignCenter | kBorderless},
    {kx::kTempRightUpperOuter, K::ReadOnlyEdit, "", 392, 15, 38, 12, kAlignCenter | kBorderless},
    {kx::kTempRightTransformer, K::ReadOnlyEdit, "", 393, 56, 34, 12, kAlignCenter | kBorderless},
    {kx::kTempRightLowerOuter, K::ReadOnlyEdit, "", 392, 92, 37, 12, kAlignCenter | kBorderless},
    {kx::kTempLeftTransformer, K::ReadOnlyEdit, "", 308, 56, 36, 12, kAlignCenter | kBorderless},
    {kx::kTempLeftLowerOuter, K::ReadOnlyEdit, "", 307, 92, 37, 12, kAlignCenter | kBorderless},
    {kx::kTempCase, K::ReadOnlyEdit, "", 349, 75, 38, 12, kAlignCenter | kBorderless},
    {kx::kTempRightInner, K::ReadOnlyEdit, "", 373, 35, 38, 12, kAlignCenter | kBorderless},
    {kx::kTempLeftInner, K::ReadOnlyEdit, "", 325, 35, 38, 12, kAlignCenter | kBorderless},
    {kx::kSchematic, K::Picture, "", 301, 11, 133, 98},
    {kx::kLampGeneration, K::Picture, "", 23, 11, 15, 13, kCenterImage},
    {kx::kLampOverload, K::Picture, "", 25, 32, 15, 13},
    {kx::kLampBatteryLow, K::Picture, "", 25, 52, 15, 13},
    {kx::kLampOverheat, K::Picture, "", 25, 72, 15, 13},
    {kx::kLampPowerOn, K::Picture, "", 25, 92, 15, 13},
    {kNoId, K::EtchedHLine, "", 7, 112, 427, 1},
    {kNoId, K::EtchedVLine, "", 170, 3, 1, 104},
    {kx::kThreePhasePicture, K::Picture, "", 358, 124, 20, 20},
    {kx::kParallelPicture, K::Picture, "", 358, 176, 15, 13},
    {kNoId, K::EtchedVLine, "", 302, 3, 1, 104},
    {kNoId, K::EtchedVLine, "", 302, 118, 1, 90},
};

struct TooltipDef {
    int id;
    const char* text;
};
// The fourteen tooltips, in the order they are added.
constexpr TooltipDef kTooltips[] = {
    {kx::kTempRightLowerOuter, "Температура правого нижнего внешнего радиатора"},
    {kx::kTempRightUpperOuter, "Температура правого верхнего внешнего радиатора"},
    {kx::kTempRightInner, "Температура правого внутреннего радиатора"},
    {kx::kTempRightTransformer, "Температура правого трансформатора"},
    {kx::kTempLeftUpperOuter, "Температура левого верхнего внешнего радиатора"},
    {kx::kTempLeftTransformer, "Температура левого трансформатора"},
    {kx::kTempLeftInner, "Температура левого внутреннего радиатора"},
    {kx::kTempLeftLowerOuter, "Температура левого нижнего внешнего радиатора"},
    {kx::kTempCase, "Температура внутри корпуса"},
    {kx::kUbatLow,
     "Напряжение на аккумуляторах, при котором (и ниже которого) зажигается индикатор "
     "<<BATTERY LOW>> и замыкается реле запуска внешнего генератора"},
    {kx::kUbatMin,
     "Напряжение на аккумуляторах, при котором (и ниже которого) происходит выключение "
     "инвертора"},
    {kx::kUbatMinOn,
     "Минимальное напряжение на аккумуляторах, при котором происходит включение генерации"},
    {kx::kPmax,
     "Максимально допустимая полная мощность, выше которой происходит отключение нагрузки"},
    {kx::kUoutNom, "Номинальное выходное напряжение"},
};

}  // namespace

c_kx_dialog::c_kx_dialog(QWidget* parent) : c_kx_qm(kKxPage, parent) {
    m_controls = build_dialog(this, kKxPageWidth, kKxPageHeight, kTemplate130);
    OnInitDialog();
}

c_kx_dialog::~c_kx_dialog() {
    OnDestroy();
}

void c_kx_dialog::OnDestroy() {
    // The page goes with the main window, whichever way the program ends (a
    // lost link ends it without the close sequence, which has already
    // written a field being typed): from here on the settings are no longer
    // shown, and a field left by the teardown writes nothing.
    device_state.g_settings_shown.store(0);
    detach_setting_edits(this);
    // A focused edit that is destroyed is told it lost the focus half-way
    // through its destruction; let it lose the focus while it is whole.
    if (QWidget* focus = QApplication::focusWidget(); focus && isAncestorOf(focus))
        focus->clearFocus();
}

void c_kx_dialog::OnInitDialog() {
    for (const ControlDef& def : kTemplate130) {
        if (def.kind == ControlKind::Label && (def.flags & kAlignRight) && def.id != kNoId) {
            m_controls.get<QLabel>(def.id)->setAlignment(Qt::AlignRight | Qt::AlignTop);
        }
    }
    fit_font_to_labels(this);
    // The temperatures sit on the schematic: it goes to the bottom of the
    // stacking order whatever its place in the tab order.
    QLabel* schematic = picture(kx::kSchematic);
    set_bitmap(schematic, bmp::kKxSchematic);
    schematic->lower();

    for (const TooltipDef& tip : kTooltips) {
        control(tip.id)->setToolTip(QString::fromUtf8(tip.text));
    }
    for (int id : {kx::kUoutNom, kx::kPmax, kx::kUbatMinOn, kx::kUbatMin, kx::kUbatLow}) {
        const SettingParam* param = find_setting(id);
        Q_ASSERT(param != nullptr);
        attach_setting_edit(edit(id), *param);
    }
}

void c_kx_dialog::UpdateData() {
    for (size_t i = 0; i < kTextIds.size(); ++i) {
        QLineEdit* field = edit(kTextIds[i]);
        // Rewriting an unchanged text would drop the technician's selection
        // in the field on every tick.
        if (field->text() != m_texts[i])
            field->setText(m_texts[i]);
    }
}

QLineEdit* c_kx_dialog::edit(int id) const {
    return m_controls.get<QLineEdit>(id);
}

QLabel* c_kx_dialog::picture(int id) const {
    return m_controls.get<QLabel>(id);
}

}  // namespace zorvane
